// The opt-in extensions of morlink, run as a user runs them: waiting for a
// device (-w), confirming the end of a job (-e), progress (-g), IPv6 and the
// trace of the link (-f).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
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

// -f: the trace of the link. Its records, parsed by their layout, hold every
// byte that the device got and sent, in order.

const std::string kRemoteConsole = "\x01RCRA--r2\x17\x01RCRB--r1\x17\x01TK\x17\x01TD\x17";

std::vector<TraceEntry> ReadTrace(const std::string& path)
{
    std::string errors;
    std::vector<TraceEntry> records = ParseTrace(ReadFile(path), &errors);
    EXPECT_EQ(errors, "");
    return records;
}

TEST(Trace, TcpRecordsHoldWhatTheDeviceGotAndSent)
{
    ScratchDir dir;
    const std::string input = Noise(300000, 3);
    const std::string frame = "\x01Mc/a.bin*300000\x17";
    const std::size_t uSent = kRemoteConsole.size() + frame.size() + input.size();
    std::string answer = "\x01\"ready\"\x17";
    for (std::uint64_t i = 0; i < 70000; ++i)
        answer += static_cast<char>(SimBlobByte(i));
    SimDevice dev;
    dev.Play(SimScript({"send:\\x01\"ready\"\\x17", "recv:" + std::to_string(uSent), "blob:70000", "close"}));
    RunResult r = RunMorlink(Sender({dev.TcpPortArg(), "-t", "-ac/a.bin", "-i" + dir.Write("in", input), "-r",
                                     "-o" + dir.Path("out"), "-f" + dir.Path("trace")},
                                    ""));
    dev.Wait();
    EXPECT_EQ(r.iStatus, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<TraceEntry> records = ReadTrace(dir.Path("trace"));
    const auto itFirst = std::find_if(records.begin(), records.end(), [](const TraceEntry& s) { return s.bSend; });
    ASSERT_NE(itFirst, records.end());
    EXPECT_EQ(itFirst->data, "\x01RCRA--r2\x17");
    EXPECT_TRUE(dev.connections.at(0) == kRemoteConsole + frame + input);
    EXPECT_TRUE(TraceBytes(records, true) == dev.connections.at(0));
    EXPECT_TRUE(TraceBytes(records, false) == answer);
    EXPECT_TRUE(std::any_of(records.begin(), records.end(), [](const TraceEntry& s) { return s.data.size() == 4096; }));
    EXPECT_TRUE(!records.back().bSend && records.back().data.empty()) << "the device's close";
    EXPECT_EQ(std::count_if(records.begin(), records.end(), [](const TraceEntry& s) { return s.data.empty(); }), 1)
        << "one entry for one close, however often it is read";
}

// Answers read and dropped beneath other operations: while -e waits for the
// device's close, and while the link closes.
TEST(Trace, AnswersDroppedAtTheEndAreTraced)
{
    ScratchDir dir;
    SimDevice dev;
    dev.Play(SimScript({"recv:3", "send:late answer", "close"}));
    RunResult r = RunMorlink(Sender({dev.TcpPortArg(), "-e", "-f" + dir.Path("trace1")}, "job"));
    dev.Wait();
    EXPECT_EQ(r.iStatus, 0) << r.err;
    std::vector<TraceEntry> records = ReadTrace(dir.Path("trace1"));
    EXPECT_EQ(TraceBytes(records, true), "job");
    EXPECT_EQ(TraceBytes(records, false), "late answer");

    // The answer is there before the input: the test holds the input back in a pipe.
    RefusingPort port;
    port.Listen();
    const std::string fifo = dir.Path("input.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    SenderProcess sender(Sender({port.PortArg(), "-i" + fifo, "-f" + dir.Path("trace2")}, ""));
    const int fdInput = open(fifo.c_str(), O_WRONLY);
    const int fd = port.AcceptOne();
    ASSERT_TRUE(fdInput >= 0 && fd >= 0);
    EXPECT_EQ(send(fd, "early answer", 12, MSG_NOSIGNAL), 12);
    EXPECT_EQ(write(fdInput, "job", 3), 3);
    close(fdInput);
    std::string got;
    char pcBuf[64];
    for (ssize_t n; (n = recv(fd, pcBuf, sizeof pcBuf, 0)) > 0;)
        got.append(pcBuf, static_cast<std::size_t>(n));
    close(fd);
    r = sender.Wait();
    EXPECT_EQ(r.iStatus, 0) << r.err;
    EXPECT_EQ(got, "job");
    records = ReadTrace(dir.Path("trace2"));
    EXPECT_EQ(TraceBytes(records, true), "job");
    EXPECT_EQ(TraceBytes(records, false), "early answer");
}

// One send record per datagram; an empty datagram is a record of 0 bytes.
TEST(Trace, UdpRecordsAreTheDatagrams)
{
    ScratchDir dir;
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sAddr{};
    sAddr.sin_family = AF_INET;
    sAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sAddr;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&sAddr), sizeof sAddr), 0);
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&sAddr), &len), 0);
    const timeval sWait = {20, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &sWait, sizeof sWait);
    const std::string input = Noise(5000, 4);
    SenderProcess sender(
        Sender({"-u", "-p" + std::to_string(ntohs(sAddr.sin_port)), "-r1", "-f" + dir.Path("trace")}, input));
    Strings datagrams;
    sockaddr_in sFrom{};
    char pcBuf[2048];
    for (std::size_t uGot = 0; uGot < input.size();) {
        socklen_t lenFrom = sizeof sFrom;
        const ssize_t n = recvfrom(fd, pcBuf, sizeof pcBuf, 0, reinterpret_cast<sockaddr*>(&sFrom), &lenFrom);
        ASSERT_GE(n, 0);
        datagrams.emplace_back(pcBuf, static_cast<std::size_t>(n));
        uGot += static_cast<std::size_t>(n);
    }
    for (const char* pc : {"one", "", "two"})
        sendto(fd, pc, std::strlen(pc), 0, reinterpret_cast<sockaddr*>(&sFrom), sizeof sFrom);
    RunResult r = sender.Wait();
    close(fd);
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.err, "Timeout\n");
    Strings sends, recvs;
    for (const TraceEntry& s : ReadTrace(dir.Path("trace")))
        (s.bSend ? sends : recvs).push_back(s.data);
    EXPECT_EQ(sends, datagrams);
    EXPECT_EQ(recvs, (Strings{"one", "", "two"}));
}

// The records' numbers are the same under a German locale, whose decimal
// comma the progress line shows. The locale is built for the test.
TEST(Trace, NumbersAreTheSameUnderAGermanLocale)
{
    ScratchDir dir;
    const std::string command = "localedef -i de_DE -f UTF-8 " + dir.Path("de_DE.UTF-8") + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << "localedef and the locale sources (Debian's locales package)";
    SimDevice dev;
    RunSetup sSetup = Sender({dev.TcpPortArg(), "-g", "-f"}, "job");
    sSetup.env = {"LOCPATH=" + dir.Dir(), "LC_ALL=de_DE.UTF-8"};
    RunResult r = RunMorlink(sSetup);
    dev.Collect();
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_TRUE(std::regex_search(r.err, std::regex("3 Bytes gesendet in [0-9]+,[0-9] s"))) << r.err;
    std::string errors;
    const std::vector<TraceEntry> records = ParseTrace(r.err, &errors, true);
    EXPECT_EQ(records.size(), 1u) << r.err;
    EXPECT_EQ(TraceBytes(records, true), "job");
}

// On standard error with debug output: each record starts a line of its
// own, after the dot of the block before it.
TEST(Trace, OnStandardErrorARecordStartsALine)
{
    SimDevice dev;
    RunResult r = RunMorlink(Sender({dev.TcpPortArg(), "-d", "-t", "-f"}, "abc"));
    dev.Collect();
    EXPECT_EQ(r.iStatus, 0);
    std::string errors;
    const std::vector<TraceEntry> records = ParseTrace(r.err, &errors, true);
    EXPECT_EQ(records.size(), 5u) << r.err;
    EXPECT_EQ(TraceBytes(records, true), dev.connections.at(0));
    EXPECT_EQ(dev.connections.at(0), kRemoteConsole + "abc");
    EXPECT_NE(r.err.find("IP Address: 127.0.0.1\n0."), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("|.TK.|\n.\n0."), std::string::npos) << r.err;
}

// Standard error that reads slowly: the receiver's "Timeout" waits for the
// trace entry being written, and starts a line of its own.
TEST(Trace, AMessageNeverLandsInsideAnEntry)
{
    SimDevice dev;
    dev.Play(SimScript({"recv:1", "hold:3000"}));
    const std::string input = Noise(256 << 10, 8);
    RunResult r = RunWithSlowStderr(SenderSetup(dev, {"-r1", "-f"}, input), 0, 1000);
    dev.Finish();
    EXPECT_EQ(r.iStatus, 0);
    std::string errors;
    const std::vector<TraceEntry> records = ParseTrace(r.err, &errors, true);
    EXPECT_EQ(errors, "");
    EXPECT_TRUE(TraceBytes(records, true) == input);
    EXPECT_TRUE(r.err.rfind("Timeout\n", 0) == 0 || r.err.find("\nTimeout\n") != std::string::npos);
}

TEST(Trace, ATraceFileThatIsTheInputOrTheOutputOrCannotBeOpenedIsRefused)
{
    ScratchDir dir;
    const std::string in = dir.Write("in", "job"), out = dir.Write("out", "keep");
    ASSERT_EQ(link(out.c_str(), dir.Path("out2").c_str()), 0);
    const std::pair<Strings, std::string> cases[] = {
        {{"-i" + in, "-f" + in}, ""},          {{"-f" + dir.Path("in2")}, in},  // standard input, read from the file
        {{"-o" + out, "-f" + out}, ""},        {{"-o" + out, "-f" + dir.Path("out2")}, ""},
        {{"-f" + dir.Path("none/trace")}, ""}, {{"-f" + dir.Dir()}, ""},
    };
    ASSERT_EQ(link(in.c_str(), dir.Path("in2").c_str()), 0);
    for (const auto& [args, stdinPath] : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        SimDevice dev;
        RunSetup sSetup = Sender({dev.TcpPortArg()}, "");
        sSetup.args.insert(sSetup.args.end(), args.begin(), args.end());
        sSetup.stdinPath = stdinPath;
        RunResult r = RunMorlink(sSetup);
        dev.Collect();
        EXPECT_EQ(r.iStatus, 255);
        EXPECT_EQ(r.err, "programm error (i.e. false argument)\n");
        EXPECT_TRUE(dev.connections.empty());
        EXPECT_EQ(ReadFile(in), "job");
        EXPECT_EQ(ReadFile(out), "keep");
    }
    SimDevice dev;
    RunResult r = RunMorlink(Sender({dev.TcpPortArg(), "-o/dev/null", "-f/dev/null"}, "job"));
    dev.Collect();
    EXPECT_EQ(r.iStatus, 0) << r.err;
    EXPECT_EQ(dev.connections, Strings{"job"});
}

}  // namespace
