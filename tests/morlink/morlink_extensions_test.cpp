// The opt-in extensions of morlink, run as a user runs them: waiting for a
// device (-w), confirming the end of a job (-e), progress (-g) and IPv6.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <regex>
#include <thread>

#include "morlink_talk.h"
#include "morlink_test_util.h"
#include "sim_device.h"

namespace {

using Strings = std::vector<std::string>;

TEST(Wait, ADeviceThatComesUpLateIsReached)
{
    RefusingPort port;
    std::thread up([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        port.Listen();
    });
    RunResult r = RunMorlink(Sender({port.PortArg(), "-w5"}, "job"));
    up.join();
    EXPECT_EQ(r.iStatus, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_GE(r.dWall, 1.4);
    EXPECT_EQ(port.Accept(), "job");
}

TEST(Wait, NoDeviceIsReportedWhenTheTimeIsUp)
{
    RefusingPort port;
    RunResult r = RunMorlink(Sender({port.PortArg(), "-w1"}, "job"));
    EXPECT_EQ(r.iStatus, 252);
    EXPECT_EQ(r.err, "Connection refused\n");
    EXPECT_GE(r.dWall, 0.95) << "never reported sooner";
    EXPECT_LT(r.dWall, 4.0);

    r = RunMorlink(Sender({port.PortArg(), "-w1", "-d"}, "job"));
    EXPECT_NE(r.err.find("Waiting for the device (Connection refused): next try in 250 ms\n"), std::string::npos)
        << r.err;
}

struct ConfirmCase {
    Strings args;
    Strings steps;
    SimBuffer eBuffer;
    bool bEndless;
    int iStatus;
    std::string err;
};

TEST(Confirm, TheDevicesCloseConfirmsTheJob)
{
    const ConfirmCase cases[] = {
        {{"-e"}, {"recv:3", "close"}, SimBuffer::KERNEL, false, 0, ""},
        {{"-e1"}, {"recv:3", "hold:5000"}, SimBuffer::KERNEL, false, 1, "Timeout\n"},
        {{"-e"}, {"recv:3", "reset"}, SimBuffer::KERNEL, false, 251, "error during sending\n"},
        {{"-e"}, {"recv:100000", "reset"}, SimBuffer::SMALL, true, 251, "error during sending\n"},
        {{"-e5", "-r"}, {"recv:3", "send:hello", "close"}, SimBuffer::KERNEL, false, 0, ""},
        {{"-e1", "-rs9"}, {"recv:3", "hold:5000"}, SimBuffer::KERNEL, false, 1, "Timeout\n"},
        // The time limit bounds the whole wait; when it is up, the
        // connection's state decides.
        {{"-e3"}, {"recv:3", "hold:500", "reset"}, SimBuffer::KERNEL, false, 251, "error during sending\n"},
        {{"-e1"}, {"recv:3", "hold:2000", "reset"}, SimBuffer::KERNEL, false, 1, "Timeout\n"},
        {{"-e3"}, {"recv:3", "hold:500", "close"}, SimBuffer::KERNEL, false, 0, ""},
    };
    for (const ConfirmCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args) + testing::PrintToString(c.steps));
        SimDevice dev(c.eBuffer);
        dev.Play(SimScript(c.steps), false, 10000);
        RunSetup sSetup = Sender({dev.TcpPortArg()}, "job");
        sSetup.args.insert(sSetup.args.end(), c.args.begin(), c.args.end());
        if (c.bEndless)
            sSetup.stdinPath = kEndlessInput;
        RunResult r = RunMorlink(sSetup);
        dev.Finish();
        EXPECT_EQ(r.iStatus, c.iStatus);
        EXPECT_EQ(r.err, c.err);
        EXPECT_LT(r.dWall, 4.0);
    }
}

// The device takes 100 bytes and closes; the rest of the job reaches it only
// afterwards (the test holds it back in a pipe) and is refused with a reset.
TEST(Confirm, ACloseBeforeTheWholeJobIsAFailedSend)
{
    for (const Strings& args : {Strings{"-e3"}, Strings{"-r", "-e3"}}) {
        SCOPED_TRACE(testing::PrintToString(args));
        SimDevice dev;
        dev.Play(SimScript({"recv:100", "close"}), false, 10000);
        ScratchDir dir;
        const std::string fifo = dir.Path("input.fifo");
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        RunSetup sSetup = Sender({dev.TcpPortArg(), "-i" + fifo}, "");
        sSetup.args.insert(sSetup.args.end(), args.begin(), args.end());
        SenderProcess sender(sSetup);
        const int fd = open(fifo.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        const std::string first(100, 'a'), rest(3000, 'b');
        ASSERT_EQ(write(fd, first.data(), first.size()), 100);
        dev.Wait();
        ASSERT_EQ(write(fd, rest.data(), rest.size()), 3000);
        close(fd);
        RunResult r = sender.Wait();
        EXPECT_EQ(r.iStatus, 251);
        EXPECT_EQ(r.err, "error during sending\n");
    }
}

// A device that ends its side early and goes on reading confirms the job once
// it has taken every byte.
TEST(Confirm, AnEarlyCloseCountsOnceEverythingIsTaken)
{
    const std::string job = Noise(100000, 7);
    SimDevice dev(SimBuffer::SMALL);
    dev.Play(SimScript({"shut", "hold:1000", "recv:100000", "sleep:3000"}), false, 10000);
    RunResult r = RunMorlink(Sender({dev.TcpPortArg(), "-e5"}, job));
    dev.Finish();
    EXPECT_EQ(r.iStatus, 0) << r.err;
    EXPECT_GE(r.dWall, 0.9) << "confirmed before the device took the job";
    EXPECT_LT(r.dWall, 3.0) << "the device's close came long before";
    EXPECT_EQ(dev.connections.at(0), job);
}

// A slow device that never closes: the time limit ends the wait long before
// the transfer would have ended (20 KiB/s for 64 KiB, of which the kernels
// hold at least 32 KiB once the sender has handed over the last byte).
TEST(Confirm, ASlowDeviceIsNotWaitedForPastTheLimit)
{
    SimDevice dev(SimBuffer::SMALL);
    dev.Play(SimScript({"trickle:1024"}), false, 20000);
    RunResult r = RunMorlink(Sender({dev.TcpPortArg(), "-e1"}, std::string(65536, 'x')));
    dev.Finish();
    EXPECT_EQ(r.iStatus, 1);
    EXPECT_EQ(r.err, "Timeout\n");
    EXPECT_LT(dev.ReceivedCount(), 65536u) << "the run waited for the whole transfer";
}

TEST(Progress, SummaryLineCountsTheInput)
{
    ScratchDir dir;
    const std::string sFile = dir.Write("job.prn", Noise(100000, 3));
    const std::regex english(R"(100000 bytes sent in \d+\.\d s \(\d+\.\d KiB/s\)\n)");
    const std::regex german(R"(100000 Bytes gesendet in \d+\.\d s \(\d+\.\d KiB/s\)\n)");
    for (const std::regex* pLine : {&english, &german}) {
        SimDevice dev;
        RunSetup sSetup = Sender({dev.TcpPortArg(), "-g", "-t", "-i" + sFile}, "");
        if (pLine == &german)
            sSetup.env = {"LANGUAGE=de", "LANG=C.UTF-8"};
        RunResult r = RunMorlink(sSetup);
        dev.Collect();
        EXPECT_EQ(r.iStatus, 0);
        EXPECT_TRUE(std::regex_match(r.err, *pLine)) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

// A pseudo-terminal as the sender's standard error; the test reads its other side.
struct Terminal {
    int fdMaster = posix_openpt(O_RDWR | O_NOCTTY);
    int fdSlave = -1;  // kept open, so that what was written stays readable
    std::string path, text;
    Terminal()
    {
        if (fdMaster >= 0 && grantpt(fdMaster) == 0 && unlockpt(fdMaster) == 0)
            path = ptsname(fdMaster);
        fdSlave = path.empty() ? -1 : open(path.c_str(), O_RDWR | O_NOCTTY);
    }
    ~Terminal()
    {
        close(fdSlave);
        close(fdMaster);
    }
    // Reads what has come, waiting up to iMs for the first of it.
    void Read(int iMs)
    {
        pollfd sPoll = {fdMaster, POLLIN, 0};
        char pcBuf[4096];
        for (ssize_t n; poll(&sPoll, 1, iMs) > 0 && (n = read(fdMaster, pcBuf, sizeof pcBuf)) > 0; iMs = 0)
            text.append(pcBuf, static_cast<std::size_t>(n));
    }
};

// A failure message or "Timeout" starts a line of its own, also when the
// receiver reports it while the live line is rewritten. The device ends the
// run once the line shows: it resets, or stops sending what kept -rt1 going.
TEST(Progress, MessagesStartALineOfTheirOwn)
{
    for (bool bTimeout : {false, true}) {
        SCOPED_TRACE(bTimeout ? "Timeout" : "send error");
        Terminal term;
        ASSERT_GE(term.fdSlave, 0);
        RefusingPort port;
        port.Listen();
        RunSetup sSetup = Sender({port.PortArg(), "-g"}, "");
        if (bTimeout)
            sSetup.args.push_back("-rt1");
        sSetup.stdinPath = kEndlessInput;
        sSetup.stderrPath = term.path;
        SenderProcess sender(sSetup);
        const int fd = port.AcceptOne();
        std::atomic<bool> bStop{false};
        std::thread drain([&] {
            char pcBuf[65536];
            for (pollfd sPoll = {fd, POLLIN, 0}; !bStop;)
                if (poll(&sPoll, 1, 50) > 0 && recv(fd, pcBuf, sizeof pcBuf, MSG_DONTWAIT) == 0)
                    break;
        });
        for (int i = 0; i < 100 && term.text.find("bytes sent") == std::string::npos; ++i) {
            if (bTimeout) {
                EXPECT_EQ(send(fd, ".", 1, MSG_NOSIGNAL), 1);
            }
            term.Read(200);
        }
        EXPECT_NE(term.text.find("bytes sent"), std::string::npos);
        if (!bTimeout) {
            bStop = true;
            drain.join();
            const linger sLinger = {1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &sLinger, sizeof sLinger);
            close(fd);
        }
        RunResult r = sender.Wait();
        term.Read(0);
        if (bTimeout) {
            bStop = true;
            drain.join();
            close(fd);
        }
        EXPECT_EQ(r.iStatus, bTimeout ? 1 : 251);
        const std::string sMessage = bTimeout ? "Timeout\r\n" : "error during sending\r\n";
        const std::size_t uAt = term.text.find(sMessage);
        ASSERT_TRUE(uAt != std::string::npos && uAt >= 2) << term.text;
        EXPECT_EQ(term.text.substr(uAt - 2), "\r\n" + sMessage) << term.text;
    }
}

// A socket on ::1 standing in for an IPv6 device; none when the host has no
// IPv6 loopback.
struct Ipv6Device {
    int fd = -1;
    std::uint16_t usPort = 0;
    explicit Ipv6Device(int iType)
    {
        fd = socket(AF_INET6, iType, 0);
        sockaddr_in6 sAddr{};
        sAddr.sin6_family = AF_INET6;
        sAddr.sin6_addr = in6addr_loopback;
        socklen_t len = sizeof sAddr;
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&sAddr), len) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&sAddr), &len) != 0 ||
            (iType == SOCK_STREAM && listen(fd, 4) != 0)) {
            fd = -1;
            return;
        }
        usPort = ntohs(sAddr.sin6_port);
    }
    ~Ipv6Device()
    {
        if (fd >= 0)
            close(fd);
    }
    // What the sender, which has ended, sent: the connection's bytes, or the
    // first datagram.
    std::string Read(bool bStream)
    {
        char pcBuf[2048];
        if (!bStream) {
            const ssize_t n = recv(fd, pcBuf, sizeof pcBuf, MSG_DONTWAIT);
            return n > 0 ? std::string(pcBuf, static_cast<std::size_t>(n)) : "";
        }
        const int fdData = accept(fd, nullptr, nullptr);
        std::string sData;
        for (ssize_t n; (n = read(fdData, pcBuf, sizeof pcBuf)) > 0;)
            sData.append(pcBuf, static_cast<std::size_t>(n));
        close(fdData);
        return sData;
    }
};

TEST(Ipv6, TcpAndUdpReachTheLoopback)
{
    for (bool bStream : {true, false}) {
        Ipv6Device dev(bStream ? SOCK_STREAM : SOCK_DGRAM);
        if (dev.fd < 0)
            GTEST_SKIP() << "this host has no IPv6 loopback (::1)";
        RunSetup sSetup = Sender({"-s::1", "-p" + std::to_string(dev.usPort), "-d"}, "job");
        if (!bStream)
            sSetup.args.push_back("-u");
        RunResult r = RunMorlink(sSetup);
        EXPECT_EQ(r.iStatus, 0) << r.err;
        EXPECT_EQ(r.err.rfind("IP Address: ::1\n", 0), 0u) << r.err;
        EXPECT_EQ(dev.Read(bStream), "job");
    }
}

}  // namespace
