// The sender run as a user runs it, against a fake device on 127.0.0.1: what
// arrives, in which frames and blocks, over TCP and UDP.
#include <gtest/gtest.h>

#include <filesystem>

#include "morlink_test_util.h"
#include "sim_device.h"

namespace {

using Strings = std::vector<std::string>;

// The remote-console prologue over the network, default frame characters.
const std::string kRemoteConsole = "\x01RCRA--r2\x17\x01RCRB--r1\x17\x01TK\x17\x01TD\x17";

struct TcpCase {
    Strings args;        // after -s127.0.0.1 -pPORT
    std::string input;   // standard input
    std::string device;  // the bytes the device gets
};

TEST(Transfer, TcpBytesAsTheDeviceGetsThem)
{
    const std::string all = AllByteValues(8);
    const TcpCase cases[] = {
        {{}, all, all},
        {{}, "", ""},
        {{"-slocalhost"}, "by name", "by name"},
        {{"data.txt", "-u"}, "first operand ends the options", "first operand ends the options"},
        {{"-t"}, "DATA", kRemoteConsole + "DATA"},
        {{"-aC:/FW/X.BIN"}, "xyz", "\x01MC:/FW/X.BIN*0\x17xyz"},
        {{"-amc/a.txt", "-tx"}, "", kRemoteConsole + "\x01Mmc/a.txt*0\x17"},
        {{"-l5E5F", "-t", "-aa.txt"}, "ab", "^RCRA--r2_^RCRB--r1_^TK_^TD_^Ma.txt*0_ab"},
        {{"-n5e5f", "-t", "-aa.txt"}, "ab", "^RCRA--r2_^RCRB--r1_^TK_^TD_^Ma.txt*0_ab"},
        {{"-l5E5", "-t"}, "", "^RCRA--r2\x17^RCRB--r1\x17^TK\x17^TD\x17"},
    };
    for (const TcpCase& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(no options)" : c.args[0]);
        SimDevice fake;
        Strings args = {"-s127.0.0.1", fake.TcpPortArg()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        RunResult r = RunArgs(args, c.input);
        fake.Collect();
        EXPECT_TRUE(r.bExited && r.iStatus == 0 && r.out.empty() && r.err.empty()) << r.err;
        EXPECT_EQ(fake.connections, Strings{c.device});
        EXPECT_TRUE(fake.datagrams.empty());
    }
}

TEST(Transfer, InputFileWithMemCardLengthAfterTheRemoteConsole)
{
    SimDevice fake;
    ScratchDir dir;
    const std::string input = Noise(1234, 9);
    RunResult r = RunArgs({"-s127.0.0.1", fake.TcpPortArg(), "-aa.txt", "-t", "-i" + dir.Write("f", input)});
    fake.Collect();
    EXPECT_EQ(r.iStatus, 0);
    const std::string frame("\x01"
                            "Ma.txt*1234\x17");
    ASSERT_EQ(frame.size(), 13u);
    EXPECT_EQ(fake.connections, Strings{kRemoteConsole + frame + input});
}

TEST(Transfer, UdpSendsOneDatagramPerFrameAndPerBlockOf1022Bytes)
{
    SimDevice fake;
    ScratchDir dir;
    const std::string input = Noise(2500, 3);
    RunResult r = RunArgs({"-s127.0.0.1", "-u", fake.UdpPortArg(), "-t", "-i" + dir.Write("f", input)});
    fake.Collect();
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_TRUE(fake.connections.empty());
    EXPECT_EQ(fake.datagrams, (Strings{"\x01RCRA--r2\x17", "\x01RCRB--r1\x17", "\x01TK\x17", "\x01TD\x17",
                                       input.substr(0, 1022), input.substr(1022, 1022), input.substr(2044)}));
}

TEST(Transfer, PortAbove65535IsCutToItsLow16BitsAndSlashIsAPrefix)
{
    SimDevice fake;
    RunResult r = RunArgs({"/s127.0.0.1", "/p" + std::to_string(fake.TcpPort() + 65536)}, "cut");
    fake.Collect();
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(fake.connections, Strings{"cut"});
}

TEST(Transfer, DebugShowsAddressFileFrameAndOneDotPerSend)
{
    SimDevice fake;
    ScratchDir dir;
    const std::string path = dir.Write("job.prn", Noise(2500, 1));
    RunResult r = RunArgs({"-s127.0.0.1", fake.TcpPortArg(), "-d", "-t", "-aa.txt", "-i" + path});
    EXPECT_EQ(r.iStatus, 0);
    // 4 remote-console frames, the MemCard frame, 3 blocks.
    EXPECT_EQ(r.err, "IP Address: 127.0.0.1\nSend File: " + path + "\n....\n\x01Ma.txt*2500\x17\n....");
}

TEST(Transfer, OutputFileIsCreatedEmpty)
{
    SimDevice fake;
    ScratchDir dir;
    const std::string out = dir.Write("answers.txt", "old content");
    RunResult r = RunArgs({"-s127.0.0.1", fake.TcpPortArg(), "-o" + out});
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_TRUE(std::filesystem::exists(out));
    EXPECT_EQ(ReadFile(out), "");
}

TEST(Transfer, ClosedStandardDescriptorsTakeNoSocket)
{
    // Closed standard input reads as empty; with standard error closed the
    // debug lines must not reach the device.
    for (bool bStdin : {true, false}) {
        SimDevice fake;
        RunSetup sSetup;
        sSetup.args = {"-s127.0.0.1", fake.TcpPortArg(), "-d"};
        sSetup.input = "payload";
        sSetup.bCloseStdin = bStdin;
        sSetup.bCloseStderr = !bStdin;
        RunResult r = RunMorlink(sSetup);
        fake.Collect();
        EXPECT_EQ(r.iStatus, 0);
        EXPECT_EQ(fake.connections, Strings{bStdin ? "" : "payload"});
    }
}

}  // namespace
