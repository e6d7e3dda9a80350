// Port server link: the operations of a serial port reached through a port
// server. Opening (connection, options, settings and their replies), sending
// with 0xFF doubled, receiving through the Telnet decoder, and -e's question
// to the server.
#include "rfc2217link.h"

#include <libintl.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "ending.h"
#include "errors.h"
#include "netlink.h"
#include "platform.h"
#include "retry.h"
#include "seriallink.h"
#include "serialmode.h"
#include "settings.h"
#include "stderrline.h"
#include "telnet.h"

// Marks a text for the message catalogue; it is translated where it is printed.
#define N_(text) text

namespace {

constexpr char PORT_SERVER_PREFIX[] = "rfc2217://";
constexpr std::size_t PREFIX_LEN = sizeof PORT_SERVER_PREFIX - 1;

// How long the server may take, in all, to take the option and answer the
// settings.
constexpr std::uint64_t ANSWER_MS = 5000;
// How long closing waits for a server that takes no data.
constexpr std::uint64_t FLUSH_STALL_MS = 10000;
// How often -e looks whether the receiver thread has seen the reply.
constexpr std::uint64_t CONFIRM_POLL_MS = 10;
// Input bytes escaped at a time; the send buffer holds them doubled.
constexpr int SEND_CHUNK = 64 * 1024;
// Device bytes kept while the link opens, for the receiver.
constexpr int HELD_SIZE = 64 * 1024;
// The longest text of a server that closes, as reported.
constexpr int TEXT_MAX = 200;

char lk_pcHost[SERVER_MAX + 1];
std::uint16_t lk_usPort;
PlatSocket lk_socket = PLAT_NO_SOCKET;

// The decoder's state: read by one thread at a time (the main thread while
// the link opens and, once the receiver thread has stopped, for -e and the
// close; else the receiver thread).
TelnetCodec lk_sCodec;
// Device bytes that came while the link opened, handed to the receiver first.
unsigned char lk_pucHeld[HELD_SIZE];
int lk_iHeld;
int lk_iHeldFrom;

// Both threads send (the main thread the data, the receiver thread the answers
// that Telnet requires): one send at a time.
PlatLock lk_sSendLock;
unsigned char lk_pucWire[2 * SEND_CHUNK];

// The baud rate replies seen so far, for -e; set by whichever thread decodes.
std::atomic<std::uint32_t> lk_ulBaudReplies{0};
std::atomic<bool> lk_bReceiverGone{false};
// Set while -e waits: a close then is a failed send, not a hang-up.
std::atomic<bool> lk_bConfirming{false};
// Set once this process has shut the connection down for its end: the empty
// read that follows is that, not the server's close.
std::atomic<bool> lk_bReleased{false};

// One setting, what it is called in a report, and the value asked for.
struct Setting {
    unsigned char ucCommand;
    const char* pcName;
    std::uint32_t ulValue;
};

// A failure while the link opens: what happened on a line of its own, then
// "serial error".
[[noreturn]] void OpeningFailed(const char* pcLine)
{
    StderrPrint("%s\n", pcLine);
    HandleError(ERR_SERIAL, ERR_SERIAL, __FILE__, __LINE__, nullptr);
    EndProcess(ERR_SERIAL);
}

bool SendAll(const unsigned char* puc, int len)
{
    PlatLockTake(&lk_sSendLock);
    int iDone = 0;
    while (iDone < len) {
        const int n = PlatSend(lk_socket, puc + iDone, len - iDone);
        if (n <= 0)
            break;
        iDone += n;
    }
    PlatLockGive(&lk_sSendLock);
    return iDone == len;
}

// The answers that the decoder gathered; one that cannot go out is left to
// the next receive, which meets the end of the connection.
void SendAnswers(void)
{
    if (lk_sCodec.iAnswer > 0)
        SendAll(lk_sCodec.pucAnswer, lk_sCodec.iAnswer);
    lk_sCodec.iAnswer = 0;
}

// Decodes n bytes from the server in place: the count of device bytes at
// the start of puc. What came is acknowledged at once: port servers hold a
// short piece (the rest of a block, a reply) until the last one is
// acknowledged, which the system would otherwise delay.
int Decode(unsigned char* puc, int n)
{
    PlatSocketAckNow(lk_socket);
    int iFrom = 0;
    int iData = 0;
    while (iFrom < n) {
        int iOut = 0;
        iFrom += TelnetDecode(&lk_sCodec, puc + iFrom, n - iFrom, puc + iData, &iOut);
        iData += iOut;
        SendAnswers();
    }
    lk_ulBaudReplies.store(lk_sCodec.psReplies[COM_SET_BAUDRATE].ulCount);
    return iData;
}

// The settings from the session's values, checked by the mode string's rules
// (and a baud rate of 0 refused, which the server would read as a question):
// false when a local port would refuse them too.
bool TakeSettings(Setting* psSettings)
{
    char pcMode[SERIAL_MODE_SIZE];
    FormatSerialMode(pcMode, sizeof pcMode);
    SerialMode sMode;
    if (!BuildSerialMode(pcMode, &sMode) || sMode.ulBaudRate == 0 || sMode.eStopBits == SERIAL_STOP_1_5)
        return false;
    const std::uint32_t ulParity = sMode.cParity == 'o'   ? 2
                                   : sMode.cParity == 'e' ? 3
                                   : sMode.cParity == 'm' ? 4
                                   : sMode.cParity == 's' ? 5
                                                          : 1;
    psSettings[0] = {COM_SET_BAUDRATE, N_("baud rate"), sMode.ulBaudRate};
    psSettings[1] = {COM_SET_DATASIZE, N_("data bits"), sMode.ui8DataBits};
    psSettings[2] = {COM_SET_PARITY, N_("parity"), ulParity};
    psSettings[3] = {COM_SET_STOPSIZE, N_("stop bits"), sMode.eStopBits == SERIAL_STOP_2 ? 2u : 1u};
    psSettings[4] = {COM_SET_CONTROL, N_("flow control"), sMode.bXon ? COM_FLOW_XONXOFF : COM_FLOW_NONE};
    return true;
}
constexpr int SETTINGS = 5;

// The text of a server that closed before the link was up ("Port already in
// use"): its first line, without control characters, cut to TEXT_MAX.
void ClosingText(char* pcText)
{
    int n = 0;
    for (int i = 0; i < lk_iHeld && n < TEXT_MAX; ++i) {
        const unsigned char uc = lk_pucHeld[i];
        if ((uc == '\r' || uc == '\n') && n > 0)
            break;
        if (uc >= ' ' && uc != 0x7F)
            pcText[n++] = static_cast<char>(uc);
    }
    pcText[n] = '\0';
}

// One read while the link opens, waiting until ullDeadline: device bytes are
// held for the receiver, answers sent. False when the server closed.
bool ReadOpening(std::uint64_t ullDeadline)
{
    const std::uint64_t ullNow = PlatNowMs();
    const int iRoom = HELD_SIZE - lk_iHeld;
    if (ullNow >= ullDeadline || iRoom == 0 || PlatWaitReadable(lk_socket, ullDeadline - ullNow) != 1)
        OpeningFailed(gettext("no RFC 2217 answer"));
    // A reset is a close: what came before it is read first.
    const int n = PlatRecv(lk_socket, lk_pucHeld + lk_iHeld, iRoom);
    if (n <= 0)
        return false;
    lk_iHeld += Decode(lk_pucHeld + lk_iHeld, n);
    return true;
}

// A send failed: the server has closed the connection (a busy port's text
// and a close). What it sent before is read for the report; false.
bool ReadToClose(std::uint64_t ullDeadline)
{
    while (ReadOpening(ullDeadline)) {
    }
    return false;
}

// The options are agreed: COM-PORT-OPTION on our side, BINARY both ways.
// A refusal of either ends the process.
bool OptionsAgreed(void)
{
    if ((lk_sCodec.ui8RefusedUs & (1u << TELNET_OPT_COM_PORT)) != 0)
        OpeningFailed(gettext("the port server refuses RFC 2217"));
    if (((lk_sCodec.ui8RefusedUs | lk_sCodec.ui8RefusedHim) & (1u << TELNET_OPT_BINARY)) != 0)
        OpeningFailed(gettext("the port server refuses BINARY"));
    return lk_sCodec.peUs[TELNET_OPT_COM_PORT] == TELNET_Q_YES && lk_sCodec.peUs[TELNET_OPT_BINARY] == TELNET_Q_YES &&
           lk_sCodec.peHim[TELNET_OPT_BINARY] == TELNET_Q_YES;
}

bool AllReplied(void)
{
    for (int i = COM_SET_BAUDRATE; i <= COM_SET_CONTROL; ++i)
        if (lk_sCodec.psReplies[i].ulCount == 0)
            return false;
    return true;
}

// Every setting is set as asked; else the first that is not ends the process.
void CheckReplies(const Setting* psSettings)
{
    for (int i = 0; i < SETTINGS; ++i) {
        const Setting& s = psSettings[i];
        const std::uint32_t ulSet = lk_sCodec.psReplies[s.ucCommand].ulValue;
        if (ulSet == s.ulValue)
            continue;
        char pcLine[256];
        std::snprintf(pcLine, sizeof pcLine, gettext("%s: asked for %lu, the port server set %lu"), gettext(s.pcName),
                      static_cast<unsigned long>(s.ulValue), static_cast<unsigned long>(ulSet));
        OpeningFailed(pcLine);
    }
}

// The settings, then DTR and RTS off, best effort: their replies are not
// waited for, since servers of lines without them do not answer. False when
// they cannot be sent.
bool SendSettings(const Setting* psSettings)
{
    unsigned char puc[(SETTINGS + 2) * TELNET_SETTING_SIZE];
    int n = 0;
    for (int i = 0; i < SETTINGS; ++i)
        n += TelnetSetting(psSettings[i].ucCommand, psSettings[i].ulValue, puc + n);
    n += TelnetSetting(COM_SET_CONTROL, COM_DTR_OFF, puc + n);
    n += TelnetSetting(COM_SET_CONTROL, COM_RTS_OFF, puc + n);
    return SendAll(puc, n);
}

// Options, then settings, each waited for, on a fresh connection: false when
// the server closed it first.
bool Negotiate(const Setting* psSettings)
{
    lk_iHeld = 0;
    lk_iHeldFrom = 0;
    unsigned char puc[TELNET_START_SIZE];
    const int n = TelnetStart(&lk_sCodec, puc);
    const std::uint64_t ullDeadline = PlatNowMs() + ANSWER_MS;
    if (!SendAll(puc, n))
        return ReadToClose(ullDeadline);
    while (!OptionsAgreed())
        if (!ReadOpening(ullDeadline))
            return false;
    if (!SendSettings(psSettings))
        return ReadToClose(ullDeadline);
    while (!AllReplied())
        if (!ReadOpening(ullDeadline))
            return false;
    CheckReplies(psSettings);
    return true;
}

// The server closed before the link was up: with -w time left, it is tried
// again; else its text ends the process.
void ServerClosed(RetryClock* psClock)
{
    char pcText[TEXT_MAX + 1];
    ClosingText(pcText);
    CloseNetwork();
    if (psClock != nullptr && RetryPause(psClock))
        return;
    OpeningFailed(pcText[0] != '\0' ? pcText : gettext("no RFC 2217 answer"));
}

void OpenPortServer(void)
{
    Setting psSettings[SETTINGS];
    if (!ParsePortServer(lk_pcSerialPath, lk_pcHost, sizeof lk_pcHost, &lk_usPort) || !TakeSettings(psSettings))
        HandleError(ERR_SERIAL, ERR_SERIAL, __FILE__, __LINE__, nullptr);
    RetryClock sClock = RetryStart(lk_ulWaitSeconds);
    RetryClock* psClock = lk_ulWaitSeconds != 0 ? &sClock : nullptr;
    for (;;) {
        ConnectNetwork(lk_pcHost, lk_usPort, psClock);
        lk_socket = NetworkSocket();
        // An answer sent just before the settings must not hold them back
        // until the server acknowledges it.
        PlatSocketNoDelay(lk_socket);
        if (Negotiate(psSettings))
            return;
        ServerClosed(psClock);
    }
}

// The input in chunks, every 0xFF doubled: len once all is sent, else -1.
int SendPortServer(const unsigned char* pucData, int len)
{
    for (int i = 0; i < len; i += SEND_CHUNK) {
        const int iChunk = len - i < SEND_CHUNK ? len - i : SEND_CHUNK;
        if (!SendAll(lk_pucWire, TelnetEscape(pucData + i, iChunk, lk_pucWire)))
            return -1;
    }
    return len;
}

// The server closed the connection: the line has gone away, as a local port
// that hangs up; while -e waits, its question has not been answered.
[[noreturn]] void LineGone(void)
{
    const int iCode = lk_bConfirming ? ERR_SEND : ERR_RECEIVE;
    HandleError(iCode, iCode, __FILE__, __LINE__, nullptr);
    EndProcess(iCode);
}

// Device bytes held from the opening, up to iSize: their count.
int TakeHeld(unsigned char* pucBuf, int iSize)
{
    const int n = lk_iHeld - lk_iHeldFrom < iSize ? lk_iHeld - lk_iHeldFrom : iSize;
    std::memcpy(pucBuf, lk_pucHeld + lk_iHeldFrom, static_cast<std::size_t>(n));
    lk_iHeldFrom += n;
    return n;
}

// Receives first and waits only when nothing is there, up to the receive
// time-out in all: what carried only Telnet commands does not end the wait.
LinkInput ReceivePortServer(unsigned char* pucBuf, int iSize, int* piCount)
{
    *piCount = TakeHeld(pucBuf, iSize);
    if (*piCount > 0)
        return LINK_DATA;
    const bool bForever = lk_ulTimeout == 0;
    const std::uint64_t ullEnd = PlatNowMs() + std::uint64_t{lk_ulTimeout} * 1000;
    for (;;) {
        int n = PlatRecvNow(lk_socket, pucBuf, iSize);
        if (n == PLAT_RECV_NONE) {
            const std::uint64_t ullNow = PlatNowMs();
            const std::uint64_t ullWait = bForever ? PLAT_WAIT_FOREVER : ullNow < ullEnd ? ullEnd - ullNow : 0;
            const int iReady = PlatWaitReadable(lk_socket, ullWait);
            if (iReady < 0)
                HandleError(ERR_PROGRAM, ERR_PROGRAM, __FILE__, __LINE__, nullptr);
            if (iReady == 0)
                return LINK_SILENCE;
            n = PlatRecv(lk_socket, pucBuf, iSize);
        }
        if (n == 0 && lk_bReleased.load())
            return LINK_CLOSED;
        if (n < 0)
            HandleError(ERR_RECEIVE, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
        if (n == 0)
            LineGone();
        *piCount = Decode(pucBuf, n);
        if (*piCount > 0)
            return LINK_DATA;
    }
}

static_assert(LINK_READ_NONE == PLAT_RECV_NONE);

// A read without waiting, through the decoder: the device's bytes, 0 at the
// end of the connection, LINK_READ_NONE when nothing came but commands.
int ReadNowPortServer(unsigned char* pucBuf, int iSize)
{
    const int iHeld = TakeHeld(pucBuf, iSize);
    if (iHeld > 0)
        return iHeld;
    const int n = PlatRecvNow(lk_socket, pucBuf, iSize);
    if (n <= 0)
        return n;
    const int iData = Decode(pucBuf, n);
    return iData > 0 ? iData : LINK_READ_NONE;
}

int NoKeepAlive(void)
{
    return -1;
}

void StopReceivingPortServer(void)
{
    lk_bReceiverGone = true;
}

// -e: asks the server for the baud rate and waits for the reply, which comes
// once the server has read every byte before the question. The receiver
// thread sees it while it reads; else pfnRead reads here, dropping the
// device's bytes. A server that closes meanwhile is a failed send.
bool ConfirmPortServer(std::uint64_t ullMs, LinkReadNow pfnRead)
{
    const std::uint64_t ullEnd = PlatNowMs() + ullMs;
    const std::uint32_t ulBefore = lk_ulBaudReplies.load();
    lk_bConfirming = true;
    unsigned char puc[TELNET_SETTING_SIZE];
    if (!SendAll(puc, TelnetSetting(COM_SET_BAUDRATE, 0, puc)))
        HandleError(ERR_SEND, ERR_SEND, __FILE__, __LINE__, nullptr);
    for (;;) {
        const std::uint64_t ullNow = PlatNowMs();
        if (lk_ulBaudReplies.load() != ulBefore || ullNow >= ullEnd) {
            lk_bConfirming = false;
            return lk_ulBaudReplies.load() != ulBefore;
        }
        const std::uint64_t ullLeft = ullEnd - ullNow;
        if (lk_bRecv && !lk_bReceiverGone) {
            PlatSleep(ullLeft < CONFIRM_POLL_MS ? ullLeft : CONFIRM_POLL_MS);
            continue;
        }
        if (PlatWaitReadable(lk_socket, ullLeft) != 1)
            continue;
        unsigned char pucBuf[4096];
        const int n = pfnRead(pucBuf, sizeof pucBuf);
        if (n == 0)
            LineGone();
        if (n < 0 && n != LINK_READ_NONE)
            HandleError(ERR_SEND, ERR_SEND, __FILE__, __LINE__, nullptr);
    }
}

// Sees the data sent so far delivered and ends the sending direction,
// leaving the connection open for the receiver thread.
void FinishPortServer(void)
{
    if (lk_socket != PLAT_NO_SOCKET)
        PlatSocketFlush(lk_socket, nullptr, FLUSH_STALL_MS);
}

// As on TCP: answers still coming are read by pfnRead and dropped until the
// server has every byte, so that the close cannot cut the data short.
void ClosePortServer(LinkReadNow pfnRead)
{
    if (lk_socket != PLAT_NO_SOCKET)
        PlatSocketFlush(lk_socket, pfnRead, FLUSH_STALL_MS);
    CloseNetwork();
}

void ReleasePortServer(void)
{
    lk_bReleased = true;
    if (NetworkSocket() != PLAT_NO_SOCKET)
        PlatSocketShutdown(NetworkSocket());
}

// The server's host and port; a value that names none, whole, without a port.
int DescribePortServer(char* pcDevice, std::size_t size)
{
    std::uint16_t usPort = 0;
    if (ParsePortServer(lk_pcSerialPath, pcDevice, size, &usPort))
        return usPort;
    std::snprintf(pcDevice, size, "%s", lk_pcSerialPath);
    return LINK_NO_PORT;
}

}  // namespace

const LinkOps gl_sPortServerLink = {
    .pfnOpen = OpenPortServer,
    .pfnSend = SendPortServer,
    .pfnSendFile = LinkNoSendFile,
    .pfnReceive = ReceivePortServer,
    .pfnKeepAlive = NoKeepAlive,
    .pfnReadNow = ReadNowPortServer,
    .pfnStopReceiving = StopReceivingPortServer,
    .pfnConfirmEnd = ConfirmPortServer,
    .pfnFinishSending = FinishPortServer,
    .pfnClose = ClosePortServer,
    .pfnRelease = ReleasePortServer,
    .pfnDescribe = DescribePortServer,
    .pcName = "rfc2217",
    .bStream = true,
    .bSerial = true,
    .bKeepAlive = false,
    .bConfirms = true,
    .bEmptyReads = true,
};

bool IsPortServer(const char* pcValue)
{
    return std::strncmp(pcValue, PORT_SERVER_PREFIX, PREFIX_LEN) == 0;
}

bool ParsePortServer(const char* pcValue, char* pcHost, std::size_t size, std::uint16_t* pusPort)
{
    if (!IsPortServer(pcValue))
        return false;
    const char* pcStart = pcValue + PREFIX_LEN;
    const bool bBracket = *pcStart == '[';
    if (bBracket)
        ++pcStart;
    const char* pcEnd = std::strchr(pcStart, bBracket ? ']' : ':');
    if (pcEnd == nullptr || pcEnd == pcStart || static_cast<std::size_t>(pcEnd - pcStart) >= size)
        return false;
    const char* pc = bBracket ? pcEnd + 1 : pcEnd;
    if (*pc++ != ':')
        return false;
    std::uint32_t ulPort = 0;
    const char* pcDigits = pc;
    for (; *pc >= '0' && *pc <= '9' && ulPort <= 65535; ++pc)
        ulPort = ulPort * 10 + static_cast<std::uint32_t>(*pc - '0');
    if (pc == pcDigits || *pc != '\0' || ulPort == 0 || ulPort > 65535)
        return false;
    std::memcpy(pcHost, pcStart, static_cast<std::size_t>(pcEnd - pcStart));
    pcHost[pcEnd - pcStart] = '\0';
    *pusPort = static_cast<std::uint16_t>(ulPort);
    return true;
}
