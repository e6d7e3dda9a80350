// Receiving: the real binary against the simulated device on 127.0.0.1, with
// time-outs, keep-alive (also on UDP and, on a pseudo-terminal, a serial
// port), the device closing, output files and the modes.
#include <gtest/gtest.h>

#include "morlink_serial_pty.h"
#include "morlink_talk.h"
#include "morlink_test_util.h"
#include "sim_device.h"

namespace {

using Strings = std::vector<std::string>;

const std::string kAnswerReady = "send:\\x01TD\"Ready\"\\x17";

TEST(Receive, SilentDeviceTimesOutAndRunEndsWithZero)
{
    SimDevice dev;
    RunResult r = Talk(dev, {"-r1"}, "job", {});
    EXPECT_TRUE(r.bExited);
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.err, "Timeout\n");
    EXPECT_GE(r.dWall, 0.9);
    EXPECT_EQ(dev.connections.at(0), "job");
}

TEST(Receive, TimeoutEndsWithOneWhenAskedTo)
{
    SimDevice dev;
    RunResult r = Talk(dev, {"-rt1"}, "job", {});
    EXPECT_EQ(r.iStatus, 1);
    EXPECT_EQ(r.err, "Timeout\n");
}

// Without -rs the sender would wait for a silent device for ever (and be killed).
TEST(Receive, ExitWhenSentEndsRightAfterTheInput)
{
    SimDevice dev;
    RunResult r = Talk(dev, {"-rs9"}, std::string(100000, 'x'), {});
    EXPECT_TRUE(r.bExited);
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_LT(r.dWall, 8) << "it must not wait for the time-out";
    EXPECT_EQ(dev.connections.at(0).size(), 100000u) << "nothing of the input is lost";
}

TEST(Receive, KeepAliveSendsSpacesAfterTheInputAndNeverTimesOut)
{
    SimDevice dev;
    RunResult r = Talk(dev, {"-r*1", "-l"}, "job", {"recv:3", "sleep:3500", "send:\\x01AOK;2\\x17ok"});
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.out, "ok");
    EXPECT_EQ(r.err, "") << "keep-alive mode reports no silence";
    const std::string& rec = dev.connections.at(0);
    ASSERT_GE(rec.size(), 5u);
    EXPECT_EQ(rec.substr(0, 3), "job");
    EXPECT_EQ(rec.substr(3), std::string(rec.size() - 3, ' '));
}

// Once -e has ended the sending direction, no keep-alive byte can go out: the
// receiver goes on reading, and reports silence only after the device closes.
TEST(Receive, KeepAliveAfterTheConfirmationWaitGoesOnReading)
{
    SimDevice dev;
    RunResult r = Talk(dev, {"-r*3", "-e8"}, "job", {"recv:3", "hold:4000", "send:late", "close"});
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.out, "late");
    EXPECT_EQ(r.err, "Timeout\n");
    EXPECT_GE(r.dWall, 6.9) << "the time-out counts from the last data";
    EXPECT_EQ(dev.connections.at(0), "job") << "no keep-alive byte after the end of sending";
}

// The UDP socket has no connection: the keep-alive cannot go, and the silence
// is reported as without -r*.
TEST(Receive, KeepAliveOverUdpReportsTheSilence)
{
    SimDevice dev;
    RunResult r = Talk(dev, {"-r*1"}, "job", {}, true);
    EXPECT_TRUE(r.bExited);
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.err, "Timeout\n");
    EXPECT_GE(r.dWall, 0.9);
    EXPECT_EQ(dev.datagrams.at(0), "job");
}

// A serial port has no keep-alive: the silence is reported at once.
TEST(Receive, KeepAliveOnASerialPortReportsTheSilence)
{
    PtyPair pty;
    PtyCollector device(pty);
    RunResult r = RunArgs({pty.PortArg(), "-r*2"}, "job");
    EXPECT_TRUE(r.bExited);
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.err, "Timeout\n");
    EXPECT_GE(r.dWall, 1.9);
    EXPECT_LT(r.dWall, 15.0);
    EXPECT_EQ(device.Stop(), "job");
}

TEST(Receive, DeviceClosingEndsTheReceiverWithoutSpinning)
{
    SimDevice quick;
    RunResult r = Talk(quick, {"-r"}, "job", {"recv:3", "send:hi", "close"});
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.out, "hi");
    EXPECT_EQ(r.err, "");
    EXPECT_LT(r.dCpu, 0.5);

    SimDevice timed;
    r = Talk(timed, {"-r2"}, "job", {"recv:3", "send:hi", "close"});
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.out, "hi");
    EXPECT_EQ(r.err, "Timeout\n");
    EXPECT_GE(r.dWall, 1.9) << "the time-out is waited out from the last data";
    EXPECT_LT(r.dCpu, 0.5) << "waiting must not use the processor";
}

TEST(Receive, OutputFileGetsTheAnswersInBinary)
{
    ScratchDir dir;
    SimDevice dev;
    RunResult r = Talk(dev, {"-r1", "-o" + dir.Path("answers")}, "job", {"recv:3", "send:a\\r\\nb\\x00\\xff\\x1a"});
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(ReadFile(dir.Path("answers")), std::string("a\r\nb\0\xff\x1a", 7));
    EXPECT_EQ(r.out, "");
}

// The input has no end and the device stops reading: only the answer can end
// the run, while the sender is still sending.
TEST(Receive, ModeZeroEndsAtTheFirstAnswerWhileInputIsStillSent)
{
    SimDevice dev(SimBuffer::SMALL);
    RunResult r = Talk(dev, {"-r", "-l", "-m0"}, kEndlessInput, {"recv:1000", kAnswerReady, "stall"});
    EXPECT_TRUE(r.bExited);
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.out, "Ready");
    EXPECT_EQ(r.err, "");
}

TEST(Receive, SizeAnswerStreamsItsDataAndEnds)
{
    ScratchDir dir;
    SimDevice dev;
    RunResult r = Talk(dev, {"-r5", "-l", "-o" + dir.Path("data")}, "job",
                       {"recv:3", "send:pre\\x01AOK;300000\\x17", "blob:300000", "sleep:10000"});
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.err, "") << "the countdown ends the session, not a time-out";
    std::string expected = "pre";
    for (std::uint64_t i = 0; i < 300000; i++)
        expected += static_cast<char>(SimBlobByte(i));
    EXPECT_EQ(ReadFile(dir.Path("data")), expected);
}

TEST(Receive, RemoteConsoleOverUdp)
{
    SimDevice dev;
    RunResult r = Talk(dev, {"-t", "-l", "-r1"}, "job", {"recv:31", kAnswerReady}, true);
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.out, "Ready\n");
    EXPECT_EQ(r.err, "Timeout\n");
    EXPECT_EQ(dev.datagrams.at(0), "\x01RCRA--r2\x17\x01RCRB--r1\x17\x01TK\x17\x01TD\x17job");
}

// An answer cut short when receiving ends (time-out, -rt time-out, the device
// closing) is written as the device sent it.
TEST(Receive, UnfinishedAnswerWrittenWhenReceivingEnds)
{
    struct Case {
        Strings args;
        std::string sAnswer, sEnd, sOut;
        int iStatus;
    };
    const std::string SOH = "\x01";
    const Case cases[] = {
        {{"-r1"}, "ab\\x01XYZ partial", "sleep:0", "ab" + SOH + "XYZ partial", 0},
        {{"-rt1"}, "\\x01TD\"Hel", "sleep:0", SOH + "TD\"Hel", 1},
        {{"-r"}, "\\x01AOK;1", "close", SOH + "AOK;1", 0},
    };
    for (const Case& c : cases) {
        SimDevice dev;
        Strings args = c.args;
        args.insert(args.end(), {"-l", "-m1"});
        RunResult r = Talk(dev, args, "job", {"recv:3", "send:" + c.sAnswer, c.sEnd});
        EXPECT_EQ(r.out, c.sOut) << c.sAnswer;
        EXPECT_EQ(r.iStatus, c.iStatus) << c.sAnswer;
    }
}

// The end of the wait for the device's confirmation (-e) ends receiving too:
// the held answer is written every time, unless told to end once sent (-rs),
// at any end: the -e time-out, the device's close, or the receiver's own
// time-out first. The -e time-out reports one "Timeout" of its own.
TEST(Receive, UnfinishedAnswerWrittenWhenTheConfirmationTimesOut)
{
    struct Case {
        Strings args;
        std::string sEnd, sOut, sErr;
        int iStatus;
    };
    const Case cases[] = {
        {{"-l", "-r", "-e1"}, "hold:5000", "pre\x01TD\"half", "Timeout\n", 1},
        {{"-l", "-r3", "-e1"}, "hold:5000", "pre\x01TD\"half", "Timeout\n", 1},
        {{"-l", "-rs9", "-e1"}, "hold:5000", "pre", "Timeout\n", 1},
        {{"-l", "-rs9", "-e1"}, "close", "pre", "", 0},
        {{"-l", "-rs", "-e3"}, "hold:5000", "pre", "Timeout\nTimeout\n", 1},
    };
    for (const Case& c : cases)
        for (int i = 0; i < 3; ++i) {
            SCOPED_TRACE(testing::PrintToString(c.args) + " " + c.sEnd);
            SimDevice dev;
            RunResult r = Talk(dev, c.args, "job", {"send:pre\\x01TD\"half", "recv:3", c.sEnd});
            EXPECT_EQ(r.out, c.sOut);
            EXPECT_EQ(r.err, c.sErr);
            EXPECT_EQ(r.iStatus, c.iStatus);
        }
}

// A slow trace on standard error holds the receiver with answers in hand when
// the -e time-out comes: they still reach the output, and the record counts
// them as the trace shows them.
TEST(Receive, AnswersInHandWhenTheConfirmationTimesOutReachTheOutput)
{
    SimDevice dev;
    dev.Play(SimScript({"recv:3", "blob:40000", "gate"}));
    RunResult r = RunWithSlowStderr(SenderSetup(dev, {"-r", "-e1", "-f", "-j"}, "job"), 3);
    dev.OpenGate();
    dev.Finish();
    EXPECT_EQ(r.iStatus, 1);
    std::string errors;
    const std::string received = TraceBytes(ParseTrace(r.err, &errors, true), false);
    EXPECT_EQ(errors, "");
    std::string blob;
    for (std::size_t i = 0; i < received.size(); ++i)
        blob += static_cast<char>(SimBlobByte(i));
    EXPECT_FALSE(received.empty());
    EXPECT_TRUE(received == blob);
    EXPECT_TRUE(r.out == received) << r.out.size() << " bytes written of " << received.size();
    const std::vector<RecordFields> records = ParseRecords(LastLine(r.err));
    ASSERT_EQ(records.size(), 1u) << LastLine(r.err);
    EXPECT_EQ(RecordField(records[0], "received"), std::to_string(received.size()));
    EXPECT_EQ(RecordField(records[0], "written"), std::to_string(received.size()));
}

// A size answer whose second number is given up still announces its data.
TEST(Receive, AbandonedSecondNumberKeepsTheSize)
{
    SimDevice dev;
    const std::string frame = std::string("\x01") + "AOK;5;" + std::string(33, 'x');
    RunResult r =
        Talk(dev, {"-r4", "-l", "-m1"}, "job", {"recv:3", "send:\\x01AOK;5;" + std::string(33, 'x') + "abcdefgh"});
    EXPECT_EQ(r.out, frame + "\nabcdefgh");
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.err, "") << "the countdown ends the run, not the time-out";
}

}  // namespace

namespace {

// The device answers at once and reads late: the answers left unread when the
// sender closes must not reset the connection and cut off the data's end. The
// device's small window and an input larger than the sender's kernel can hold
// leave data on the way when the sender is done.
TEST(Receive, UnreadAnswersDoNotCutTheDataShort)
{
    std::string input = Noise(SimSenderBufferLimit() + (8 << 20), 5);
    for (const Strings& args : {Strings{}, Strings{"-rs9"}}) {
        SimDevice dev(SimBuffer::SMALL);
        RunResult r = Talk(dev, args, input, {"send:hello", "hold:1500"});
        EXPECT_EQ(r.iStatus, 0);
        EXPECT_TRUE(dev.connections.at(0) == input)
            << "the device got " << dev.connections.at(0).size() << " of " << input.size() << " bytes";
    }
}

}  // namespace
