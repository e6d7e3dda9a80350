// Option parser and usage text.
//
// An option is one argument: '-' or '/', a letter, and the value glued to it.
// The first argument that starts with neither prefix ends the parsing; the sender
// takes no operands. Options act in order, a later one overwriting an earlier
// one; -s and -p set serial values only after a -c.
#include "options.h"

#include <libintl.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "morlink_version.h"
#include "record.h"
#include "settings.h"

namespace {

// Prints the usage text, with pcName as the program's name, on standard output.
void Usage(const char* pcName);

// Copies pcValue into a text setting of capacity iMax, cut to fit.
void CopyText(char* pcSetting, int iMax, const char* pcValue)
{
    int i = 0;
    for (; i < iMax && pcValue[i] != '\0'; ++i)
        pcSetting[i] = pcValue[i];
    pcSetting[i] = '\0';
}

// A two-digit hexadecimal pair into *pcTarget. A pair that holds no number
// leaves the character as it was.
void ReadHexPair(const char* pcPair, char* pcTarget)
{
    char pcDigits[3] = {pcPair[0], pcPair[1], '\0'};
    unsigned int uiValue = 0;
    if (std::sscanf(pcDigits, "%x", &uiValue) == 1)
        *pcTarget = static_cast<char>(uiValue & 0xFF);
}

// -l and -n: up to two hex pairs, frame start then frame end.
void SetFrameCharacters(const char* pcValue)
{
    if (pcValue[0] == '\0' || pcValue[1] == '\0')
        return;
    ReadHexPair(pcValue, &lk_cSOH);
    if (pcValue[2] == '\0' || pcValue[3] == '\0')
        return;
    ReadHexPair(pcValue + 2, &lk_cETB);
}

// A time-out after a receive form's character: 0 stands for 1 second.
std::uint32_t FormTimeout(const char* pcNumber)
{
    std::uint32_t ulTimeout = static_cast<std::uint32_t>(std::atoi(pcNumber));
    return ulTimeout == 0 ? 1 : ulTimeout;
}

// Seconds for -e and -w: ulEmpty for no value, ulZero for 0, a negative number
// or no number. Blanks and a sign come before the digits, as atoi takes them;
// the digits are an unsigned 32-bit number, a larger one cut to the largest
// rather than wrapped to a short wait or none.
std::uint32_t SecondsOr(const char* pcValue, std::uint32_t ulEmpty, std::uint32_t ulZero)
{
    if (pcValue[0] == '\0')
        return ulEmpty;
    const char* pc = pcValue;
    while (*pc == ' ' || (*pc >= '\t' && *pc <= '\r'))
        ++pc;
    const bool bNegative = *pc == '-';
    if (*pc == '-' || *pc == '+')
        ++pc;
    std::uint64_t ullSeconds = 0;
    for (; *pc >= '0' && *pc <= '9' && ullSeconds <= UINT32_MAX; ++pc)
        ullSeconds = ullSeconds * 10 + static_cast<std::uint64_t>(*pc - '0');
    if (bNegative || ullSeconds == 0)
        return ulZero;
    return ullSeconds < UINT32_MAX ? static_cast<std::uint32_t>(ullSeconds) : UINT32_MAX;
}

// -r: receiving, with keep-alive (*), exit when sent (s) or exit on timeout (t).
void SetReceive(const char* pcValue)
{
    lk_bRecv = 1;
    switch (pcValue[0]) {
    case '*':
        lk_bRecvKeepAlive = 1;
        lk_ulTimeout = FormTimeout(pcValue + 1);
        break;
    case 's':
        lk_bRecvExitWhenSend = 1;
        lk_ulTimeout = FormTimeout(pcValue + 1);
        break;
    case 't':
        lk_bRecvExitWhenTimeout = 1;
        lk_ulTimeout = FormTimeout(pcValue + 1);
        break;
    default:
        lk_ulTimeout = static_cast<std::uint32_t>(std::atoi(pcValue));
        break;
    }
}

// An unknown option or mode, reported on standard output; the result record
// keeps the text too.
[[gnu::format(printf, 1, 2)]] OptionsResult Refuse(const char* pcFormat, ...)
{
    std::va_list args, argsCopy;
    va_start(args, pcFormat);
    va_copy(argsCopy, args);
    std::vprintf(pcFormat, args);
    char pcText[1024];
    std::vsnprintf(pcText, sizeof pcText, pcFormat, argsCopy);
    va_end(argsCopy);
    va_end(args);
    RecordMessage(pcText);
    return OPTIONS_BAD;
}

OptionsResult SetMode(const char* pcArg, const char* pcValue)
{
    int iMode = std::atoi(pcValue);
    if (iMode != 0 && iMode != 1)
        return Refuse(gettext("unknown mode (-m) %s\n"), pcArg);
    lk_sXDCLMode = iMode;
    return OPTIONS_RUN;
}

// Applies one option; pcArg is the whole argument.
OptionsResult ApplyOption(char* pcProgram, const char* pcArg)
{
    const char cLetter = pcArg[1];
    const char* pcValue = cLetter == '\0' ? pcArg + 1 : pcArg + 2;
    const bool bSerial = lk_itfUsed != 0;

    switch (cLetter) {
    case '?':
    case 'h':
    case 'H':
        Usage(pcProgram);
        return OPTIONS_USAGE;
    case 'a':
        lk_bMemCardSave = 1;
        CopyText(lk_pcMemCardDir, MEMCARD_DIR_MAX, pcValue);
        break;
    case 'b':
        lk_ulBaudRate = static_cast<std::uint32_t>(std::atoi(pcValue));
        break;
    case 'c':
        lk_itfUsed = 1;
        lk_cPort = pcValue[0];
        // The whole value too: a device path, or a port name (COM12).
        lk_pcSerialPath = pcValue;
        break;
    case 'd':
        if (std::atoi(pcValue) != 0)
            lk_ui8DataBits = static_cast<std::uint8_t>(std::atoi(pcValue) & 0xFF);
        else
            gl_bDebug = 1;
        break;
    case 'e':
        lk_bConfirmEnd = 1;
        lk_ulConfirmSeconds = SecondsOr(pcValue, DEFAULT_CONFIRM_SECONDS, DEFAULT_CONFIRM_SECONDS);
        break;
    case 'f':
        lk_bTrace = 1;
        lk_pcTraceFilename = pcValue;
        break;
    case 'g':
        lk_bProgress = 1;
        break;
    case 'i':
        lk_pcIFilename = pcValue;
        break;
    case 'j':
        lk_bRecord = 1;
        lk_pcRecordFilename = pcValue;
        break;
    case 'l':
        lk_bXDCL = 1;
        SetFrameCharacters(pcValue);
        break;
    case 'm':
        return SetMode(pcArg, pcValue);
    case 'n':
        SetFrameCharacters(pcValue);
        break;
    case 'o':
        lk_pcOFilename = pcValue;
        break;
    case 'p':
        if (bSerial)
            lk_cParity = pcValue[0];
        else
            lk_iPort = std::atoi(pcValue);
        break;
    case 'r':
        SetReceive(pcValue);
        break;
    case 's':
        if (bSerial)
            lk_ui8StopBits = static_cast<std::uint8_t>(std::atoi(pcValue) & 0xFF);
        else
            CopyText(lk_pcServer, SERVER_MAX, pcValue);
        break;
    case 't':
        lk_bRemCon = 1;
        lk_sXDCLMode = 1;
        if (pcValue[0] == 'x')
            lk_bRemConExitWhenReset = 1;
        break;
    case 'u':
        lk_bUDP = 1;
        break;
    case 'w':
        lk_ulWaitSeconds = SecondsOr(pcValue, DEFAULT_WAIT_SECONDS, 0);
        break;
    case 'x':
        lk_bXon = 1;
        break;
    default:
        return Refuse(gettext("unknown option %s\n"), pcArg);
    }
    return OPTIONS_RUN;
}

// A run refused by its options still writes its result record: the files
// that the rest of the command line names are taken too, so that the record's
// file is checked against every one of them.
void TakeFileNames(int argc, char** argv, int iFrom)
{
    for (int i = iFrom; i < argc; ++i) {
        const char* pcArg = argv[i];
        if (pcArg[0] != '-' && pcArg[0] != '/')
            return;
        if (pcArg[1] == 'i')
            lk_pcIFilename = pcArg + 2;
        else if (pcArg[1] == 'o')
            lk_pcOFilename = pcArg + 2;
        else if (pcArg[1] == 'f')
            lk_pcTraceFilename = pcArg + 2;
    }
}

}  // namespace

OptionsResult ParseOptions(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const char* pcArg = argv[i];
        if (pcArg[0] != '-' && pcArg[0] != '/')
            break;
        if (std::strcmp(pcArg, "--help") == 0) {
            Usage(argv[0]);
            return OPTIONS_USAGE;
        }
        if (std::strcmp(pcArg, "--version") == 0) {
            std::printf("morlink %s\n", MORLINK_VERSION);
            return OPTIONS_USAGE;
        }
        const OptionsResult eResult = ApplyOption(argv[0], pcArg);
        if (eResult == OPTIONS_BAD)
            TakeFileNames(argc, argv, i + 1);
        if (eResult != OPTIONS_RUN)
            return eResult;
    }
    return OPTIONS_RUN;
}

namespace {

void Usage(const char* pcName)
{
    std::printf("morlink (Windows-Version) %s\n\n", MORLINK_VERSION);
    std::printf(gettext("%s usage:\n\n"), pcName);
    std::printf(gettext("Network Options:\n"));
    std::printf(gettext("-sSERVER:    Device IP-Address  (Defaults to %s)\n"), DEFAULT_SERVER);
    std::printf(gettext("-pPORT:      Device Port-Number (Defaults to %u)\n"), DEFAULT_PORT);
    std::printf(gettext("-u:          UDP-Support\n"));
    std::printf(gettext("Serial Options:\n"));
    std::printf(gettext("-cCOM_PORT:       (Defaults to %c)\n"), DEFAULT_COM_PORT);
    std::printf(gettext("-bBAUD_RATE:      (Defaults to %u)\n"), DEFAULT_BAUD_RATE);
    std::printf(gettext("-dDATA_BITS:      (Defaults to %u)\n"), unsigned{DEFAULT_DATA_BITS});
    std::printf(gettext("-sSTOP_BITS:      (Defaults to %u)\n"), unsigned{DEFAULT_STOP_BITS});
    std::printf(gettext("-pPARITY (n-e-o): (Defaults to %c)\n"), DEFAULT_PARITY);
    std::printf(gettext("-x              : Turn on XON/XOFF Protocol\n"));
    std::printf(gettext("Common Options:\n"));
    std::printf(gettext("-iFILENAME  :  Input Filename\n"));
    std::printf(gettext("-aPATH      :  Save Input Filename on MemCard\n"));
    std::printf(gettext("-oFILENAME  :  Output Filename\n"));
    std::printf(gettext("-rTIMEOUT   :  Receive data\n"));
    std::printf(gettext("               TIMEOUT in sec (i.e. -r5)\n"));
    std::printf(gettext("               *: keep alive (i.e. -r*)\n"));
    std::printf(gettext("               s: exit when send (i.e. -rs)\n"));
    std::printf(gettext("               t: exit when timeout (i.e. -rt7)\n"));
    std::printf(gettext("-n<SOH><ETB>:  Set SOH/ETB\n"));
    std::printf(gettext("-l          :  Use XDCL for receiving data\n"));
    std::printf(gettext("-mXDCLMODE: :  Set XDCL-Mode:\n"));
    std::printf(gettext("               0 - Exit after receiving XDCL-Command\n"));
    std::printf(gettext("               1 - Not exit but line feed after XDCL-Command\n"));
    std::printf(gettext("-t          :  Show Remote Console\n"));
    std::printf(gettext("               x: exit when Reset (i.e. -tx)\n"));
    std::printf(gettext("-d          :  debug\n"));
    std::printf(gettext("\nNetwork is default. Set COM_PORT for using Serial.\n"));
    std::printf(gettext("But -c must be first Option:\n"));
    std::printf(gettext("Example1: Call '%s -c1 -b9600' for using COM1 with a baud rate of 9600.\n"), pcName);
    std::printf(gettext("\nExample2: Call '%s -s10.102.1.45' for sending data to device 10.102.1.45 on port 9100\n"),
                pcName);
    std::printf(gettext("\nExample3: '%s -s10.102.1.45 -r -l5E5F'\n"), pcName);
    std::printf(gettext("Note: There should be no blank between argument and value\n      (i.e. '-p' and '9600')!\n"));
    std::printf(gettext("\nExtensions:\n"));
    std::printf(gettext("-e[N]       :  Confirm the end: wait up to N s (default %u) until the device\n"
                        "               closes the connection or the port has sent everything\n"),
                DEFAULT_CONFIRM_SECONDS);
    std::printf(gettext("-f[FILE]    :  Trace every byte sent and received, in hex, to FILE\n"
                        "               (default: standard error)\n"));
    std::printf(gettext("-g          :  Show the progress of sending on standard error\n"));
    std::printf(gettext("-j[FILE]    :  Append the result record (one line of JSON) to FILE,\n"
                        "               or write it to standard error\n"));
    std::printf(gettext("-w[N]       :  Wait up to N s (default %u) for a device that cannot be\n"
                        "               reached yet (connection or serial port)\n"),
                DEFAULT_WAIT_SECONDS);
    std::printf(gettext("-sSERVER    :  Also an IPv6 address or a host name with IPv6 addresses\n"
                        "               (i.e. -s::1)\n"));
    std::printf(gettext("-crfc2217://HOST:PORT:  The serial port of a port server (RFC 2217),\n"
                        "               HOST as -s takes it (i.e. -crfc2217://[::1]:2217)\n"));
}

}  // namespace
