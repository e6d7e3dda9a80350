// Faults met while a session runs: a reset connection, a full disk, broken
// standard input, a device that stops short or stops reading. Each ends as it
// must, without spinning and without hanging.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "morlink_talk.h"
#include "morlink_test_util.h"
#include "platform.h"
#include "sim_device.h"

namespace {

using Strings = std::vector<std::string>;

const std::string kSendError = "error during sending\n";
const std::string kReceiveError = "error during receiving\n";

// The device's small receive buffer and the endless input: the reset always
// meets a sender that is still sending, however much the machine's kernel
// would otherwise take in for the device.
TEST(Faults, ResetInTheMiddleOfATransfer)
{
    SimDevice plain(SimBuffer::SMALL);
    RunResult r = Talk(plain, {}, kEndlessInput, {"recv:100000", "reset"});
    EXPECT_TRUE(r.bExited);
    EXPECT_EQ(r.iStatus, 251);
    EXPECT_EQ(r.err, kSendError);

    // With a receiver, whichever thread meets the reset first reports it.
    SimDevice receiving(SimBuffer::SMALL);
    r = Talk(receiving, {"-r"}, kEndlessInput, {"recv:100000", "reset"});
    EXPECT_TRUE(r.bExited);
    EXPECT_TRUE(r.iStatus == 251 || r.iStatus == 250) << r.iStatus;
    if (r.iStatus == 251)
        EXPECT_EQ(r.err, kSendError);
    else
        EXPECT_EQ(r.err, "Connection reset by peer\n");
}

TEST(Faults, FullDiskForTheAnswers)
{
    SimDevice dev;
    RunResult r = Talk(dev, {"-r5", "-o/dev/full"}, "job", {"recv:3", "send:hello"});
    EXPECT_EQ(r.iStatus, 250);
    EXPECT_EQ(r.err, kReceiveError);
}

TEST(Faults, StandardInputClosedOrUnreadable)
{
    SimDevice closed;
    RunSetup sSetup = SenderSetup(closed, {}, "");
    sSetup.bCloseStdin = true;
    RunResult r = RunMorlink(sSetup);
    closed.Collect();
    EXPECT_EQ(r.iStatus, 0) << "a closed standard input reads as an empty one";
    EXPECT_EQ(closed.connections, Strings{""});

    ScratchDir dir;
    SimDevice unreadable;
    sSetup = SenderSetup(unreadable, {"-t"}, "");
    sSetup.stdinPath = dir.Dir();  // a directory opens but cannot be read
    r = RunMorlink(sSetup);
    unreadable.Collect();
    EXPECT_EQ(r.iStatus, 251);
    EXPECT_EQ(r.err, kSendError);
    EXPECT_EQ(unreadable.connections, Strings{"\x01RCRA--r2\x17\x01RCRB--r1\x17\x01TK\x17\x01TD\x17"})
        << "nothing is sent after the failed read";
}

TEST(Faults, SizeAnswerCutShortByTheDevice)
{
    const Strings steps = {"recv:3", "send:\\x01AOK;1000\\x17abc", "close"};
    SimDevice timed;
    RunResult r = Talk(timed, {"-r2", "-l"}, "job", steps);
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.out, "abc");
    EXPECT_EQ(r.err, "Timeout\n");
    EXPECT_GE(r.dWall, 1.9);
    EXPECT_LT(r.dCpu, 0.5);

    SimDevice untimed;
    r = Talk(untimed, {"-r", "-l"}, "job", steps);
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.out, "abc");
    EXPECT_EQ(r.err, "") << "without a time-out the receiver ends quietly";
    EXPECT_LT(r.dCpu, 0.5);
}

// The device takes a little, then no more: its small window fills and sending
// blocks, for good (endless input) or until the device resumes (an input
// larger than the sender's kernel can hold besides).
TEST(Faults, DeviceThatStopsReading)
{
    SimDevice exits(SimBuffer::SMALL);
    RunResult r = Talk(exits, {"-rt2"}, kEndlessInput, {"recv:1000", "stall"});
    EXPECT_EQ(r.iStatus, 1);
    EXPECT_EQ(r.err, "Timeout\n");
    EXPECT_GE(r.dWall, 1.9);
    EXPECT_LT(r.dWall, 10);

    // The device resumes, as a print spooler does: the time-out is reported,
    // and the sender goes on until all is delivered.
    const std::string input(SimSenderBufferLimit() + (8 << 20), 'w');
    SimDevice resumes(SimBuffer::SMALL);
    r = Talk(resumes, {"-r2"}, input, {"recv:1000", "hold:3500"});
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.err, "Timeout\n");
    EXPECT_EQ(resumes.connections.at(0).size(), input.size());
}

// The offset of the sender's descriptor for path, from /proc; -1 without one.
long long InputOffset(int pid, const std::string& path)
{
    const std::string sProc = "/proc/" + std::to_string(pid);
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(sProc + "/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        std::error_code ecLink;
        if (std::filesystem::read_symlink(it->path(), ecLink) != std::filesystem::canonical(path))
            continue;
        std::ifstream info(sProc + "/fdinfo/" + it->path().filename().string());
        std::string sKey;
        long long llPos = -1;
        if (info >> sKey >> llPos && sKey == "pos:")
            return llPos;
    }
    return -1;
}

// Waits until the sender has read past the start of path and then stays put
// for half a second (the device reads nothing); that offset, or -1.
long long SettledOffset(int pid, const std::string& path)
{
    long long llLast = -1;
    for (int iSame = 0, iTries = 0; iTries < 400; ++iTries) {
        usleep(50000);
        const long long llPos = InputOffset(pid, path);
        iSame = llPos > 0 && llPos == llLast ? iSame + 1 : 0;
        llLast = llPos;
        if (iSame == 10)
            return llPos;
    }
    return -1;
}

// -a announces the file's length: that many bytes follow the frame, however
// the file changes while it is sent. Far larger than what the kernels hold
// while the device reads nothing, it changes in the middle.
TEST(Faults, MemCardFileThatChangesWhileItIsSent)
{
    ScratchDir dir;
    const std::uint64_t ullSize = 2 * SimSenderBufferLimit() + (4 << 20);
    const std::string sFrame = "\x01Mjob.bin*" + std::to_string(ullSize) + "\x17";
    for (bool bGrows : {false, true}) {
        SCOPED_TRACE(bGrows ? "grows" : "shrinks");
        const std::string path = dir.Write("job.bin", "");
        std::filesystem::resize_file(path, ullSize);
        SimDevice dev(SimBuffer::SMALL);
        dev.ChecksumOnly();
        dev.Play(SimScript({"recv:1000", "gate"}), false, 30000);
        SenderProcess sender(SenderSetup(dev, {"-ajob.bin", "-i" + path}, ""));
        const long long llPos = SettledOffset(sender.Pid(), path);
        ASSERT_GT(llPos, 0);
        ASSERT_LT(static_cast<std::uint64_t>(llPos), ullSize);
        std::filesystem::resize_file(path, bGrows ? ullSize + (1 << 20) : static_cast<std::uint64_t>(llPos) / 2);
        dev.OpenGate();
        RunResult r = sender.Wait();
        dev.Wait();
        EXPECT_EQ(r.iStatus, bGrows ? 0 : 251);
        EXPECT_EQ(r.err, bGrows ? "" : kSendError);
        if (bGrows) {
            EXPECT_EQ(dev.ReceivedCount(), sFrame.size() + ullSize);
        }
    }
}

TEST(Faults, WaitingForADeviceEndsAtOnceOnASignal)
{
    for (int iSignal : {SIGTERM, SIGINT}) {
        for (const Strings& args : {Strings{"-rs"}, Strings{"-r"}, Strings{}}) {
            SimDevice dev(SimBuffer::SMALL);
            dev.Play(SimScript({"recv:1000", "stall"}), false, 30000);
            SenderProcess sender(SenderSetup(dev, args, kEndlessInput));
            usleep(1000000);
            sender.Signal(iSignal);
            RunResult r = sender.Wait();
            dev.Finish();
            EXPECT_FALSE(r.bExited);
            EXPECT_EQ(r.iStatus, iSignal);
            EXPECT_LT(r.dWall, 5);
            EXPECT_LT(r.dCpu, 0.5) << "waiting must not use the processor";
        }
    }
}

// A signal with a handler installed without SA_RESTART, as a program that
// hosts the link code may have: a call that it interrupts fails with EINTR.
class Interrupter {
public:
    Interrupter()
    {
        struct sigaction sAction {};
        sAction.sa_handler = [](int) {};
        sigaction(SIGUSR1, &sAction, &m_sOld);
    }
    ~Interrupter()
    {
        if (m_thread.joinable())
            m_thread.join();
        sigaction(SIGUSR1, &m_sOld, nullptr);
    }
    Interrupter(const Interrupter&) = delete;
    Interrupter& operator=(const Interrupter&) = delete;
    // After 200 ms the calling thread gets the signal; 200 ms later fnThen runs.
    template <typename Then>
    void Soon(Then fnThen)
    {
        m_thread = std::thread([this, fnThen, tTarget = pthread_self()] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            pthread_kill(tTarget, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            fnThen();
        });
    }

private:
    struct sigaction m_sOld {};
    std::thread m_thread;
};

// A send that waits for room is interrupted before it has sent anything: it
// sends again rather than failing (the link would end with status 251).
TEST(Faults, SendGoesOnAfterASignal)
{
    int afd[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, afd), 0);
    char acBlock[4096] = {};
    while (send(afd[0], acBlock, sizeof acBlock, MSG_DONTWAIT) > 0) {
    }
    int n = 0;
    {
        Interrupter sSignal;
        sSignal.Soon([&] {
            char acSink[65536];
            while (recv(afd[1], acSink, sizeof acSink, MSG_DONTWAIT) > 0) {
            }
        });
        n = PlatSend(afd[0], acBlock, sizeof acBlock);
    }
    EXPECT_EQ(n, static_cast<int>(sizeof acBlock)) << std::strerror(errno);
    close(afd[0]);
    close(afd[1]);
}

// A connect that waits for a listener whose queue is full is interrupted:
// the attempt goes on in the kernel and is waited for, and the connection is
// made once the listener has room (the link would end with status 252).
TEST(Faults, ConnectGoesOnAfterASignal)
{
    RefusingPort sPort;
    sPort.Listen(0);
    PlatAddr sAddr{};
    ASSERT_EQ(PlatResolve("127.0.0.1", sPort.Port(), &sAddr, 1), 1);
    const PlatSocket first = PlatSocketOpen(false, sAddr);
    ASSERT_TRUE(PlatConnect(first, sAddr));  // fills the queue
    const PlatSocket second = PlatSocketOpen(false, sAddr);
    bool bConnected = false;
    {
        Interrupter sSignal;
        sSignal.Soon([&] { close(sPort.AcceptOne()); });
        bConnected = PlatConnect(second, sAddr);
    }
    EXPECT_TRUE(bConnected) << std::strerror(errno);
    PlatSocketClose(first);
    PlatSocketClose(second);
}

}  // namespace
