// The sender run as a user runs it, against a fake device on 127.0.0.1: what
// arrives, in which frames and blocks, over TCP and UDP.
#include <gtest/gtest.h>

#include "fake_device.h"
#include "morlink_test_util.h"

namespace {

using Strings = std::vector<std::string>;

// The remote-console prologue over the network with the default frame characters.
const std::string kRemoteConsole = std::string("\x01RCRA--r2\x17") + "\x01RCRB--r1\x17" +
                                   "\x01TK\x17" + "\x01TD\x17";

class Transfer : public ::testing::Test {
protected:
    // Runs the sender against the fake's TCP port, or its UDP port after -u.
    RunResult Send(Strings args, const std::string& input = "", bool bUdp = false)
    {
        Strings vArgs = {"-s127.0.0.1", "-p" + std::to_string(bUdp ? fake.UdpPort() : fake.TcpPort())};
        if (bUdp)
            vArgs.push_back("-u");
        vArgs.insert(vArgs.end(), args.begin(), args.end());
        RunSpec sSpec;
        sSpec.args = vArgs;
        sSpec.input = input;
        RunResult sResult = RunMorlink(sSpec);
        fake.Finish();
        return sResult;
    }

    void ExpectCleanExit(const RunResult& r)
    {
        EXPECT_TRUE(r.bExited);
        EXPECT_EQ(r.iStatus, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
    }

    FakeDevice fake;
    ScratchDir dir;
};

TEST_F(Transfer, StandardInputArrivesUnchangedOverTcp)
{
    const std::string input = AllByteValues(8);
    RunResult r = Send({}, input);
    ExpectCleanExit(r);
    EXPECT_EQ(fake.Connections(), Strings{input});
    EXPECT_TRUE(fake.Datagrams().empty());
}

TEST_F(Transfer, InputFileArrivesUnchangedOverTcp)
{
    const std::string input = AllByteValues(5);
    RunResult r = Send({"-i" + dir.Write("job.prn", input)});
    ExpectCleanExit(r);
    EXPECT_EQ(fake.Connections(), Strings{input});
}

TEST_F(Transfer, LargeInputIsStreamedUnchanged)
{
    const std::string input = Noise(3 * 1024 * 1024 + 17, 7);
    RunResult r = Send({"-i" + dir.Write("big.bin", input)});
    ExpectCleanExit(r);
    ASSERT_EQ(fake.Connections().size(), 1u);
    EXPECT_TRUE(fake.Connections()[0] == input);
}

TEST_F(Transfer, EmptyInputConnectsAndSendsNothing)
{
    RunResult r = Send({});
    ExpectCleanExit(r);
    EXPECT_EQ(fake.Connections(), Strings{""});
}

TEST_F(Transfer, UdpSendsOneDatagramPerBlockOf1022Bytes)
{
    const std::string input = Noise(2500, 3);
    RunResult r = Send({"-i" + dir.Write("job.prn", input)}, "", true);
    ExpectCleanExit(r);
    EXPECT_TRUE(fake.Connections().empty());
    EXPECT_EQ(fake.Datagrams(),
              (Strings{input.substr(0, 1022), input.substr(1022, 1022), input.substr(2044)}));
}

TEST_F(Transfer, UdpWithEmptyInputSendsNoDatagram)
{
    RunResult r = Send({}, "", true);
    ExpectCleanExit(r);
    EXPECT_TRUE(fake.Datagrams().empty());
}

TEST_F(Transfer, UdpSendsEachPrologueFrameAsOneDatagram)
{
    RunResult r = Send({"-t", "-ad"}, "abc", true);
    ExpectCleanExit(r);
    EXPECT_EQ(fake.Datagrams(), (Strings{"\x01RCRA--r2\x17", "\x01RCRB--r1\x17", "\x01TK\x17",
                                         "\x01TD\x17", "\x01Md*0\x17", "abc"}));
}

TEST_F(Transfer, PortAbove65535IsCutToItsLow16Bits)
{
    RunSpec sSpec;
    sSpec.args = {"-s127.0.0.1", "-p" + std::to_string(fake.TcpPort() + 65536)};
    sSpec.input = "cut";
    RunResult r = RunMorlink(sSpec);
    fake.Finish();
    ExpectCleanExit(r);
    EXPECT_EQ(fake.Connections(), Strings{"cut"});
}

TEST_F(Transfer, HostNameIsResolved)
{
    RunResult r = Send({"-slocalhost"}, "by name");
    ExpectCleanExit(r);
    EXPECT_EQ(fake.Connections(), Strings{"by name"});
}

TEST_F(Transfer, SlashPrefixWorksLikeDash)
{
    RunSpec sSpec;
    sSpec.args = {"/s127.0.0.1", "/p" + std::to_string(fake.TcpPort())};
    sSpec.input = "slash";
    RunResult r = RunMorlink(sSpec);
    fake.Finish();
    ExpectCleanExit(r);
    EXPECT_EQ(fake.Connections(), Strings{"slash"});
}

TEST_F(Transfer, FirstNonOptionEndsTheOptions)
{
    // -u after the operand is ignored: standard input goes over TCP.
    RunResult r = Send({"data.txt", "-u"}, "stdin");
    ExpectCleanExit(r);
    EXPECT_EQ(fake.Connections(), Strings{"stdin"});
    EXPECT_TRUE(fake.Datagrams().empty());
}

TEST_F(Transfer, RemoteConsoleFramesPrecedeTheData)
{
    RunResult r = Send({"-t"}, "DATA");
    ExpectCleanExit(r);
    EXPECT_EQ(fake.Connections(), Strings{kRemoteConsole + "DATA"});
}

TEST_F(Transfer, RemoteConsoleFramesAreSentForEmptyInput)
{
    RunResult r = Send({"-tx"});
    ExpectCleanExit(r);
    EXPECT_EQ(fake.Connections(), Strings{kRemoteConsole});
}

TEST_F(Transfer, MemCardFrameCarriesPathAndFileLength)
{
    const std::string input = Noise(1234, 9);
    RunResult r = Send({"-aa.txt", "-i" + dir.Write("f", input)});
    ExpectCleanExit(r);
    const std::string frame("\x01" "Ma.txt*1234\x17");
    ASSERT_EQ(frame.size(), 13u);
    EXPECT_EQ(fake.Connections(), Strings{frame + input});
}

TEST_F(Transfer, MemCardFrameForStandardInputHasLengthZero)
{
    RunResult r = Send({"-aC:/FW/X.BIN"}, "xyz");
    ExpectCleanExit(r);
    EXPECT_EQ(fake.Connections(), Strings{"\x01MC:/FW/X.BIN*0\x17xyz"});
}

TEST_F(Transfer, MemCardPathKeepsAtMost255Characters)
{
    const std::string path(300, 'p');
    RunResult r = Send({"-a" + path}, "z");
    ExpectCleanExit(r);
    EXPECT_EQ(fake.Connections(), Strings{"\x01M" + path.substr(0, 255) + "*0\x17z"});
}

TEST_F(Transfer, RemoteConsoleThenMemCardThenData)
{
    // The order on the command line does not change the order of the frames.
    const std::string input = "0123456789";
    RunResult r = Send({"-amc/a.txt", "-t", "-i" + dir.Write("f", input)});
    ExpectCleanExit(r);
    EXPECT_EQ(fake.Connections(), Strings{kRemoteConsole + "\x01Mmc/a.txt*10\x17" + input});
}

TEST_F(Transfer, FrameCharactersFromL)
{
    RunResult r = Send({"-l5E5F", "-t", "-aa.txt"}, "ab");
    ExpectCleanExit(r);
    EXPECT_EQ(fake.Connections(),
              Strings{"^RCRA--r2_^RCRB--r1_^TK_^TD_^Ma.txt*0_ab"});
}

TEST_F(Transfer, FrameCharactersFromN)
{
    RunResult r = Send({"-n5e5f", "-t", "-aa.txt"}, "ab");
    ExpectCleanExit(r);
    EXPECT_EQ(fake.Connections(),
              Strings{"^RCRA--r2_^RCRB--r1_^TK_^TD_^Ma.txt*0_ab"});
}

TEST_F(Transfer, OnePairChangesOnlyTheStartCharacter)
{
    RunResult r = Send({"-l5E5", "-t"});
    ExpectCleanExit(r);
    EXPECT_EQ(fake.Connections(), Strings{"^RCRA--r2\x17^RCRB--r1\x17^TK\x17^TD\x17"});
}

TEST_F(Transfer, DebugShowsAddressFileFrameAndOneDotPerSend)
{
    const std::string path = dir.Write("job.prn", Noise(2500, 1));
    RunResult r = Send({"-d", "-t", "-aa.txt", "-i" + path});
    EXPECT_EQ(r.iStatus, 0);
    // 4 remote-console frames, the MemCard frame, 3 blocks.
    EXPECT_EQ(r.err, "IP Address: 127.0.0.1\nSend File: " + path + "\n....\x01Ma.txt*2500\x17\n....");
    EXPECT_EQ(r.out, "");
}

TEST_F(Transfer, DebugWithZeroAndDataBitsWithOtherNumbers)
{
    RunResult r0 = Send({"-d0"}, "x");
    EXPECT_EQ(r0.err, "IP Address: 127.0.0.1\n.");
    FakeDevice second;
    RunSpec sSpec;
    sSpec.args = {"-s127.0.0.1", "-p" + std::to_string(second.TcpPort()), "-d7"};
    sSpec.input = "x";
    RunResult r7 = RunMorlink(sSpec);
    second.Finish();
    ExpectCleanExit(r7);
    EXPECT_EQ(second.Connections(), Strings{"x"});
}

TEST_F(Transfer, OutputFileIsCreatedEmpty)
{
    const std::string out = dir.Write("answers.txt", "old content");
    RunResult r = Send({"-o" + out}, "q");
    ExpectCleanExit(r);
    EXPECT_TRUE(FileExists(out));
    EXPECT_EQ(ReadFile(out), "");
}

TEST_F(Transfer, ReceiveOptionStillSendsEverything)
{
    RunResult r = Send({"-rs", "-l"}, "ask");
    ExpectCleanExit(r);
    EXPECT_EQ(fake.Connections(), Strings{"ask"});
}

TEST_F(Transfer, ClosedStandardInputReadsAsEmpty)
{
    RunSpec sSpec;
    sSpec.args = {"-s127.0.0.1", "-p" + std::to_string(fake.TcpPort())};
    sSpec.bCloseStdin = true;
    RunResult r = RunMorlink(sSpec);
    fake.Finish();
    ExpectCleanExit(r);
    EXPECT_EQ(fake.Connections(), Strings{""});
}

TEST_F(Transfer, ClosedStandardErrorDoesNotCarryDebugTextToTheDevice)
{
    // The socket must not take descriptor 2, where the debug lines go.
    RunSpec sSpec;
    sSpec.args = {"-s127.0.0.1", "-p" + std::to_string(fake.TcpPort()), "-d"};
    sSpec.input = "payload";
    sSpec.bCloseStderr = true;
    RunResult r = RunMorlink(sSpec);
    fake.Finish();
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(fake.Connections(), Strings{"payload"});
}

}  // namespace
