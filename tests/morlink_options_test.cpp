// The command line: the option parser's settings (unit level), and the usage
// text and option errors of the real binary.
#include <gtest/gtest.h>

#include <cstring>

#include "fake_device.h"
#include "morlink_test_util.h"
#include "options.h"
#include "settings.h"

namespace {

using Strings = std::vector<std::string>;

// Parses the arguments after argv[0] into freshly reset settings.
class Options : public ::testing::Test {
protected:
    void Parse(Strings args)
    {
        m_args = {"morlink"};
        m_args.insert(m_args.end(), args.begin(), args.end());
        m_argv.clear();
        for (std::string& s : m_args)
            m_argv.push_back(s.data());
        InitSettings();
        ParseOptions(static_cast<int>(m_argv.size()), m_argv.data());
    }

    Strings m_args;
    std::vector<char*> m_argv;
};

TEST_F(Options, NoArgumentsKeepTheDefaults)
{
    Parse({});
    EXPECT_EQ(lk_itfUsed, 0);
    EXPECT_STREQ(lk_pcServer, "192.168.0.21");
    EXPECT_EQ(lk_iPort, 9100);
    EXPECT_EQ(lk_cPort, '1');
    EXPECT_EQ(lk_ulBaudRate, 57600u);
    EXPECT_EQ(lk_ui8DataBits, 8);
    EXPECT_EQ(lk_ui8StopBits, 2);
    EXPECT_EQ(lk_cParity, 'n');
    EXPECT_EQ(lk_cSOH, '\x01');
    EXPECT_EQ(lk_cETB, '\x17');
    EXPECT_EQ(lk_bRecv, 0);
    EXPECT_EQ(gl_bDebug, 0);
    EXPECT_STREQ(lk_pcIFilename, "");
}

TEST_F(Options, SAndPAfterCSetSerialValues)
{
    Parse({"-c2", "-s1", "-pe"});
    EXPECT_EQ(lk_itfUsed, 1);
    EXPECT_EQ(lk_cPort, '2');
    EXPECT_EQ(lk_ui8StopBits, 1);
    EXPECT_EQ(lk_cParity, 'e');
    EXPECT_STREQ(lk_pcServer, "192.168.0.21");
    EXPECT_EQ(lk_iPort, 9100);
}

TEST_F(Options, SAndPBeforeCSetNetworkValues)
{
    Parse({"-s1", "-pe", "-c2"});
    EXPECT_EQ(lk_itfUsed, 1);
    EXPECT_STREQ(lk_pcServer, "1");
    EXPECT_EQ(lk_iPort, 0);
    EXPECT_EQ(lk_ui8StopBits, 2);
    EXPECT_EQ(lk_cParity, 'n');
}

TEST_F(Options, CAloneGivesTheNulPortCharacter)
{
    Parse({"-c"});
    EXPECT_EQ(lk_itfUsed, 1);
    EXPECT_EQ(lk_cPort, '\0');
}

TEST_F(Options, SerialValuesOfBDAndXAreStoredOnEitherLink)
{
    Parse({"-b9600", "-d7", "-x"});
    EXPECT_EQ(lk_itfUsed, 0);
    EXPECT_EQ(lk_ulBaudRate, 9600u);
    EXPECT_EQ(lk_ui8DataBits, 7);
    EXPECT_EQ(lk_bXon, 1);
}

TEST_F(Options, DWithoutANonZeroNumberIsDebug)
{
    for (const char* pcArg : {"-d", "-d0", "-dx"}) {
        Parse({pcArg});
        EXPECT_EQ(gl_bDebug, 1) << pcArg;
        EXPECT_EQ(lk_ui8DataBits, 8) << pcArg;
    }
    Parse({"-d7"});
    EXPECT_EQ(gl_bDebug, 0);
    EXPECT_EQ(lk_ui8DataBits, 7);
    Parse({"-d263"});
    EXPECT_EQ(lk_ui8DataBits, 7);  // low 8 bits
}

TEST_F(Options, LaterTOrMDecidesTheMode)
{
    Parse({"-t", "-m0"});
    EXPECT_EQ(lk_bRemCon, 1);
    EXPECT_EQ(lk_sXDCLMode, 0);
    Parse({"-m0", "-t"});
    EXPECT_EQ(lk_sXDCLMode, 1);
    EXPECT_EQ(lk_bRemConExitWhenReset, 0);
    Parse({"-tx"});
    EXPECT_EQ(lk_bRemConExitWhenReset, 1);
    Parse({"-m1", "-mx"});
    EXPECT_EQ(lk_sXDCLMode, 0);
    Parse({"-m1"});
    EXPECT_EQ(lk_sXDCLMode, 1);
}

struct ReceiveCase {
    Strings args;
    std::uint32_t ulTimeout;
    int bKeepAlive, bExitWhenSend, bExitWhenTimeout;
};

TEST_F(Options, ReceiveForms)
{
    const ReceiveCase cases[] = {
        {{"-r"}, 0, 0, 0, 0},       {{"-r5"}, 5, 0, 0, 0},     {{"-rs"}, 1, 0, 1, 0},
        {{"-rs9"}, 9, 0, 1, 0},     {{"-r*"}, 1, 1, 0, 0},     {{"-r*3"}, 3, 1, 0, 0},
        {{"-rt7"}, 7, 0, 0, 1},     {{"-rt0"}, 1, 0, 0, 1},    {{"-r5", "-r"}, 0, 0, 0, 0},
        {{"-rx"}, 0, 0, 0, 0},
    };
    for (const ReceiveCase& c : cases) {
        Parse(c.args);
        const std::string sWhat = c.args.back();
        EXPECT_EQ(lk_bRecv, 1) << sWhat;
        EXPECT_EQ(lk_ulTimeout, c.ulTimeout) << sWhat;
        EXPECT_EQ(lk_bRecvKeepAlive, c.bKeepAlive) << sWhat;
        EXPECT_EQ(lk_bRecvExitWhenSend, c.bExitWhenSend) << sWhat;
        EXPECT_EQ(lk_bRecvExitWhenTimeout, c.bExitWhenTimeout) << sWhat;
    }
}

TEST_F(Options, FrameCharacters)
{
    Parse({"-l5E5F"});
    EXPECT_EQ(lk_bXDCL, 1);
    EXPECT_EQ(lk_cSOH, '\x5E');
    EXPECT_EQ(lk_cETB, '\x5F');
    Parse({"-n5e5f"});
    EXPECT_EQ(lk_bXDCL, 0);
    EXPECT_EQ(lk_cSOH, '\x5E');
    EXPECT_EQ(lk_cETB, '\x5F');
    Parse({"-l02"});
    EXPECT_EQ(lk_cSOH, '\x02');
    EXPECT_EQ(lk_cETB, '\x17');
    Parse({"-nFfA0zz"});
    EXPECT_EQ(lk_cSOH, '\xFF');
    EXPECT_EQ(lk_cETB, '\xA0');
}

TEST_F(Options, FrameCharactersNeedAWholePairWithADigit)
{
    for (const char* pcArg : {"-l", "-l5", "-lZZ", "-nZZ"}) {
        Parse({pcArg});
        EXPECT_EQ(lk_cSOH, '\x01') << pcArg;
        EXPECT_EQ(lk_cETB, '\x17') << pcArg;
    }
    Parse({"-l5E5"});
    EXPECT_EQ(lk_cSOH, '\x5E');
    EXPECT_EQ(lk_cETB, '\x17');
}

TEST_F(Options, TextCapacities)
{
    const std::string sLong(300, 'h');
    const std::string sPath(5000, 'f');
    Parse({"-s" + sLong, "-a" + sLong, "-i" + sPath, "-o" + sPath});
    EXPECT_EQ(std::string(lk_pcServer), sLong.substr(0, 255));
    EXPECT_EQ(std::string(lk_pcMemCardDir), sLong.substr(0, 255));
    EXPECT_EQ(std::string(lk_pcIFilename), sPath);
    EXPECT_EQ(std::string(lk_pcOFilename), sPath);
    EXPECT_EQ(lk_bMemCardSave, 1);
}

TEST_F(Options, NumbersAreReadUpToTheFirstNonDigit)
{
    Parse({"-p 42x", "-b-1"});
    EXPECT_EQ(lk_iPort, 42);
    EXPECT_EQ(lk_ulBaudRate, 0xFFFFFFFFu);
    Parse({"-pabc"});
    EXPECT_EQ(lk_iPort, 0);
}

TEST_F(Options, ParsingStopsAtTheFirstNonOption)
{
    Parse({"-p", "9100", "-u"});
    EXPECT_EQ(lk_iPort, 0);
    EXPECT_EQ(lk_bUDP, 0);
    Parse({"data.txt", "-u"});
    EXPECT_EQ(lk_bUDP, 0);
    Parse({"", "-u"});
    EXPECT_EQ(lk_bUDP, 0);
}

TEST_F(Options, ValuesOfUAndXAreIgnoredAndLaterOptionsWin)
{
    Parse({"-uxyz", "-xabc", "-ifirst", "-isecond"});
    EXPECT_EQ(lk_bUDP, 1);
    EXPECT_EQ(lk_bXon, 1);
    EXPECT_STREQ(lk_pcIFilename, "second");
}

// The usage text, piece by piece, for the program path shown as sName.
std::string ExpectedUsage(const std::string& sName)
{
    return "morlink (Windows-Version) 0.13\n\n" + sName + " usage:\n\n"
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
           "Example1: Call '" + sName + " -c1 -b9600' for using COM1 with a baud rate of 9600.\n"
           "\nExample2: Call '" + sName + " -s10.102.1.45' for sending data to device 10.102.1.45 on port 9100\n"
           "\nExample3: '" + sName + " -s10.102.1.45 -r -l5E5F'\n"
           "Note: There should be no blank between argument and value\n"
           "      (i.e. '-p' and '9600')!\n";
}

RunResult RunArgs(Strings args)
{
    RunSpec sSpec;
    sSpec.args = args;
    return RunMorlink(sSpec);
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

TEST(CommandLine, UnknownLettersEndWith255OnStandardOutput)
{
    Strings unknown = {"-", "/", "-S1.2.3.4", "-e", "-f", "-g", "-j", "-k", "-q", "-v", "-w",
                       "-y", "-z", "-1", "--"};
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
    FakeDevice fake;
    ScratchDir dir;
    RunResult r = RunArgs({"-s127.0.0.1", "-p" + std::to_string(fake.TcpPort()),
                           "-i" + dir.Path("missing"), "-o" + dir.Path("out"), "-m9"});
    fake.Finish();
    EXPECT_EQ(r.iStatus, 255);
    EXPECT_EQ(r.out, "unknown mode (-m) -m9\n");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(FileExists(dir.Path("out")));
    EXPECT_TRUE(fake.Connections().empty());
}

}  // namespace
