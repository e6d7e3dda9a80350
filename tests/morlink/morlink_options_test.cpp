// The command line: the option parser's settings (unit level), and the usage
// text and option errors of the real binary.
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "morlink_test_util.h"
#include "options.h"
#include "settings.h"
#include "sim_device.h"

namespace {

using Strings = std::vector<std::string>;

// Parses the arguments after argv[0] into freshly reset settings.
class Options : public ::testing::Test {
protected:
    void Parse(const Strings& args) { ParseArgs(args); }
};

TEST_F(Options, SAndPSetSerialValuesOnlyAfterC)
{
    Parse({"-c2", "-s1", "-pe"});
    EXPECT_EQ(lk_itfUsed, 1);
    EXPECT_EQ(lk_cPort, '2');
    EXPECT_EQ(lk_ui8StopBits, 1);
    EXPECT_EQ(lk_cParity, 'e');
    EXPECT_STREQ(lk_pcServer, "192.168.0.21");
    EXPECT_EQ(lk_iPort, 9100);
    Parse({"-s1", "-pe", "-c"});
    EXPECT_EQ(lk_itfUsed, 1);
    EXPECT_EQ(lk_cPort, '\0');
    EXPECT_STREQ(lk_pcServer, "1");
    EXPECT_EQ(lk_iPort, 0);
    EXPECT_EQ(lk_ui8StopBits, 2);
    EXPECT_EQ(lk_cParity, 'n');
    Parse({"-b9600", "-d7", "-x"});  // stored on the network link too
    EXPECT_EQ(lk_ulBaudRate, 9600u);
    EXPECT_EQ(lk_ui8DataBits, 7);
    EXPECT_EQ(lk_bXon, 1);
}

TEST_F(Options, DWithoutANonZeroNumberIsDebug)
{
    for (const char* pcArg : {"-d", "-d0", "-dx"}) {
        Parse({pcArg});
        EXPECT_TRUE(gl_bDebug == 1 && lk_ui8DataBits == 8) << pcArg;
    }
    Parse({"-d263"});  // low 8 bits: 7
    EXPECT_TRUE(gl_bDebug == 0 && lk_ui8DataBits == 7);
}

TEST_F(Options, LaterTOrMDecidesTheMode)
{
    Parse({"-t", "-m0"});
    EXPECT_TRUE(lk_bRemCon == 1 && lk_sXDCLMode == 0 && lk_bRemConExitWhenReset == 0);
    Parse({"-m0", "-tx"});
    EXPECT_TRUE(lk_sXDCLMode == 1 && lk_bRemConExitWhenReset == 1);
    Parse({"-m1", "-mx"});
    EXPECT_EQ(lk_sXDCLMode, 0);
}

TEST_F(Options, ReceiveForms)
{
    // args, time-out, keep-alive, exit when sent, exit on time-out
    const std::tuple<Strings, std::uint32_t, int, int, int> cases[] = {
        {{"-r"}, 0, 0, 0, 0},   {{"-r5"}, 5, 0, 0, 0},  {{"-rs"}, 1, 0, 1, 0},
        {{"-rs9"}, 9, 0, 1, 0}, {{"-r*"}, 1, 1, 0, 0},  {{"-r*3"}, 3, 1, 0, 0},
        {{"-rt7"}, 7, 0, 0, 1}, {{"-rt0"}, 1, 0, 0, 1}, {{"-r5", "-r"}, 0, 0, 0, 0},
    };
    for (const auto& [args, ulTimeout, bKeepAlive, bExitWhenSend, bExitWhenTimeout] : cases) {
        Parse(args);
        SCOPED_TRACE(args.back());
        EXPECT_EQ(lk_bRecv, 1);
        EXPECT_EQ(lk_ulTimeout, ulTimeout);
        EXPECT_EQ(lk_bRecvKeepAlive, bKeepAlive);
        EXPECT_EQ(lk_bRecvExitWhenSend, bExitWhenSend);
        EXPECT_EQ(lk_bRecvExitWhenTimeout, bExitWhenTimeout);
    }
}

TEST_F(Options, FrameCharactersFromWholeHexPairs)
{
    // args, frame start, frame end, parsing on
    const std::tuple<const char*, char, char, int> cases[] = {
        {"-l5E5F", '\x5E', '\x5F', 1},   {"-n5e5f", '\x5E', '\x5F', 0}, {"-l5E5", '\x5E', '\x17', 1},
        {"-nFfA0zz", '\xFF', '\xA0', 0}, {"-l", '\x01', '\x17', 1},     {"-l5", '\x01', '\x17', 1},
        {"-nZZ", '\x01', '\x17', 0},
    };
    for (const auto& [pcArg, cSOH, cETB, bXDCL] : cases) {
        Parse({pcArg});
        EXPECT_TRUE(lk_cSOH == cSOH && lk_cETB == cETB && lk_bXDCL == bXDCL) << pcArg;
    }
}

TEST_F(Options, TextCapacitiesAndNumbers)
{
    const std::string sLong(300, 'h');
    const std::string sPath(5000, 'f');
    Parse({"-s" + sLong, "-a" + sLong, "-i" + sPath, "-p 42x", "-b-1", "-uxyz"});
    EXPECT_EQ(std::string(lk_pcServer), sLong.substr(0, 255));
    EXPECT_EQ(std::string(lk_pcMemCardDir), sLong.substr(0, 255));
    EXPECT_EQ(std::string(lk_pcIFilename), sPath);
    EXPECT_EQ(lk_iPort, 42);
    EXPECT_EQ(lk_ulBaudRate, 0xFFFFFFFFu);
    EXPECT_EQ(lk_bUDP, 1);
}

TEST_F(Options, WaitAndConfirmSecondsSaturateAt32Bits)
{
    // value, -w seconds, -e seconds
    const std::tuple<const char*, std::uint32_t, std::uint32_t> cases[] = {
        {"", 30, 10},
        {"0", 0, 10},
        {"7", 7, 7},
        {"3000000000", 3000000000u, 3000000000u},
        {"4294967295", 4294967295u, 4294967295u},
        {"4294967296", 4294967295u, 4294967295u},
        {"99999999999", 4294967295u, 4294967295u},
        {"000000000000012x", 12, 12},
        {" +5", 5, 5},
        {"-5", 0, 10},
        {"-99999999999", 0, 10},
        {"x5", 0, 10},
    };
    for (const auto& [pcValue, ulWait, ulConfirm] : cases) {
        Parse({std::string("-w") + pcValue, std::string("-e") + pcValue});
        EXPECT_EQ(lk_ulWaitSeconds, ulWait) << pcValue;
        EXPECT_EQ(lk_ulConfirmSeconds, ulConfirm) << pcValue;
    }
}

TEST_F(Options, FTracesToTheFileOrToStandardError)
{
    Parse({"-f"});
    EXPECT_EQ(lk_bTrace, 1);
    EXPECT_STREQ(lk_pcTraceFilename, "");
    Parse({"-ftrace.txt", "-u"});
    EXPECT_EQ(lk_bTrace, 1);
    EXPECT_STREQ(lk_pcTraceFilename, "trace.txt");
    EXPECT_EQ(lk_bUDP, 1);
    Parse({"-u"});
    EXPECT_EQ(lk_bTrace, 0);
}

TEST_F(Options, ParsingStopsAtTheFirstNonOption)
{
    Parse({"-p", "9100", "-u"});
    EXPECT_TRUE(lk_iPort == 0 && lk_bUDP == 0);
    Parse({"", "-u"});
    EXPECT_EQ(lk_bUDP, 0);
}

// The usage text, piece by piece, for the program path shown as sName.
std::string ExpectedUsage(const std::string& sName)
{
    return "morlink (Windows-Version) 0.13\n\n" + sName +
           " usage:\n\n"
           "Network Options:\n"
           "-sSERVER:    Device IP-Address  (Defaults to 192.168.0.21)\n"
           "-pPORT:      Device Port-Number (Defaults to 9100)\n"
           "-u:          UDP-Support\n"
           "Serial Options:\n"
           "-cCOM_PORT:       (Defaults to 1)\n"
           "-bBAUD_RATE:      (Defaults to 57600)\n"
           "-dDATA_BITS:      (Defaults to 8)\n"
           "-sSTOP_BITS:      (Defaults to 2)\n"
           "-pPARITY (n-e-o): (Defaults to n)\n"
           "-x              : Turn on XON/XOFF Protocol\n"
           "Common Options:\n"
           "-iFILENAME  :  Input Filename\n"
           "-aPATH      :  Save Input Filename on MemCard\n"
           "-oFILENAME  :  Output Filename\n"
           "-rTIMEOUT   :  Receive data\n"
           "               TIMEOUT in sec (i.e. -r5)\n"
           "               *: keep alive (i.e. -r*)\n"
           "               s: exit when send (i.e. -rs)\n"
           "               t: exit when timeout (i.e. -rt7)\n"
           "-n<SOH><ETB>:  Set SOH/ETB\n"
           "-l          :  Use XDCL for receiving data\n"
           "-mXDCLMODE: :  Set XDCL-Mode:\n"
           "               0 - Exit after receiving XDCL-Command\n"
           "               1 - Not exit but line feed after XDCL-Command\n"
           "-t          :  Show Remote Console\n"
           "               x: exit when Reset (i.e. -tx)\n"
           "-d          :  debug\n"
           "\nNetwork is default. Set COM_PORT for using Serial.\n"
           "But -c must be first Option:\n"
           "Example1: Call '" +
           sName +
           " -c1 -b9600' for using COM1 with a baud rate of 9600.\n"
           "\nExample2: Call '" +
           sName +
           " -s10.102.1.45' for sending data to device 10.102.1.45 on port 9100\n"
           "\nExample3: '" +
           sName +
           " -s10.102.1.45 -r -l5E5F'\n"
           "Note: There should be no blank between argument and value\n"
           "      (i.e. '-p' and '9600')!\n"
           "\nExtensions:\n"
           "-e[N]       :  Confirm the end: wait up to N s (default 10) until the device\n"
           "               closes the connection or the port has sent everything\n"
           "-f[FILE]    :  Trace every byte sent and received, in hex, to FILE\n"
           "               (default: standard error)\n"
           "-g          :  Show the progress of sending on standard error\n"
           "-j[FILE]    :  Append the result record (one line of JSON) to FILE,\n"
           "               or write it to standard error\n"
           "-w[N]       :  Wait up to N s (default 30) for a device that cannot be\n"
           "               reached yet (connection or serial port)\n"
           "-sSERVER    :  Also an IPv6 address or a host name with IPv6 addresses\n"
           "               (i.e. -s::1)\n"
           "-crfc2217://HOST:PORT:  The serial port of a port server (RFC 2217),\n"
           "               HOST as -s takes it (i.e. -crfc2217://[::1]:2217)\n";
}

TEST(CommandLine, UsageTextShowsTheBuiltInDefaults)
{
    RunResult r = RunArgs({"-s127.0.0.1", "-p77", "-c3", "-?"});
    EXPECT_TRUE(r.bExited);
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.out, ExpectedUsage(MorlinkPath()));
    EXPECT_EQ(r.err, "");
}

TEST(CommandLine, EveryHelpFormPrintsTheUsage)
{
    for (const char* pcArg : {"/?", "-h", "-H", "-help", "-Hx", "/h"}) {
        RunResult r = RunArgs({"-s127.0.0.1", pcArg, "-X"});
        EXPECT_EQ(r.iStatus, 0) << pcArg;
        EXPECT_EQ(r.out, ExpectedUsage(MorlinkPath())) << pcArg;
    }
}

TEST(CommandLine, LongHelpAndVersionEndWith0)
{
    RunResult r = RunArgs({"-s127.0.0.1", "--help", "-X"});
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.out, ExpectedUsage(MorlinkPath()));
    EXPECT_EQ(r.err, "");
    r = RunArgs({"--version", "-X"});
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.out, "morlink 0.13\n");
    EXPECT_EQ(r.err, "");
}

TEST(CommandLine, UnknownLettersEndWith255OnStandardOutput)
{
    Strings unknown = {"-", "/", "-S1.2.3.4", "-k", "-q", "-v", "-y", "-z", "-1", "--", "--helpme", "--Version"};
    for (char c = 'A'; c <= 'Z'; ++c)
        if (c != 'H')
            unknown.push_back(std::string("-") + c);
    for (const std::string& sArg : unknown) {
        RunResult r = RunArgs({"-s127.0.0.1", sArg});
        EXPECT_TRUE(r.bExited) << sArg;
        EXPECT_EQ(r.iStatus, 255) << sArg;
        EXPECT_EQ(r.out, "unknown option " + sArg + "\n");
        EXPECT_EQ(r.err, "") << sArg;
    }
}

TEST(CommandLine, UnknownModeEndsWith255OnStandardOutput)
{
    for (const char* pcArg : {"-m2", "-m-1", "-m17x"}) {
        RunResult r = RunArgs({"-s127.0.0.1", pcArg});
        EXPECT_EQ(r.iStatus, 255) << pcArg;
        EXPECT_EQ(r.out, std::string("unknown mode (-m) ") + pcArg + "\n");
        EXPECT_EQ(r.err, "");
    }
}

TEST(CommandLine, OptionErrorsComeBeforeFilesAndLink)
{
    SimDevice fake;
    ScratchDir dir;
    RunResult r =
        RunArgs({"-s127.0.0.1", fake.TcpPortArg(), "-i" + dir.Path("missing"), "-o" + dir.Path("out"), "-m9"});
    fake.Collect();
    EXPECT_EQ(r.iStatus, 255);
    EXPECT_EQ(r.out, "unknown mode (-m) -m9\n");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(std::filesystem::exists(dir.Path("out")));
    EXPECT_TRUE(fake.connections.empty());
}

}  // namespace
