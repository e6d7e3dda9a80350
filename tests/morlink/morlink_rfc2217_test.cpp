// The port server link (-crfc2217://HOST:PORT): the value's parsing, then the
// real binary against two port servers on 127.0.0.1 (ser2net and a script of
// pyserial's PortManager), each driving a pseudo-terminal that plays the
// device, and against scripted servers that fail in one way each. Every
// command line names a dead network port before -c, so that a fault can
// never reach another device.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "morlink_serial_pty.h"
#include "morlink_test_util.h"
#include "rfc2217link.h"

namespace {

using Strings = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

const std::string kScripts = MORLINK_SOURCE_DIR "/tests/morlink/";
const char kSerialError[] = "serial error\n";
const char kDeadPort[] = "-p1";

struct ParseCase {
    const char* pcValue;
    const char* pcHost;  // null: refused
    int iPort;
};

TEST(PortServerValue, HostAndPortOrRefused)
{
    const ParseCase cases[] = {
        {"rfc2217://127.0.0.1:2217", "127.0.0.1", 2217},
        {"rfc2217://[::1]:2217", "::1", 2217},
        {"rfc2217://[fe80::1%eth0]:1", "fe80::1%eth0", 1},
        {"rfc2217://server.example:65535", "server.example", 65535},
        {"rfc2217://h:007", "h", 7},
        {"rfc2217://127.0.0.1", nullptr, 0},
        {"rfc2217://127.0.0.1:", nullptr, 0},
        {"rfc2217://127.0.0.1:0", nullptr, 0},
        {"rfc2217://127.0.0.1:65536", nullptr, 0},
        {"rfc2217://127.0.0.1:99999999999", nullptr, 0},
        {"rfc2217://127.0.0.1:+22", nullptr, 0},
        {"rfc2217://127.0.0.1:22 ", nullptr, 0},
        {"rfc2217://127.0.0.1:22/x", nullptr, 0},
        {"rfc2217://127.0.0.1:22:23", nullptr, 0},
        {"rfc2217://:2217", nullptr, 0},
        {"rfc2217://[]:2217", nullptr, 0},
        {"rfc2217://[::1]2217", nullptr, 0},
        {"rfc2217://[::1:2217", nullptr, 0},
        {"rfc2217://::1:2217", nullptr, 0},
        {"rfc2217://", nullptr, 0},
        {"RFC2217://h:1", nullptr, 0},
        {"/dev/ttyS0", nullptr, 0},
    };
    for (const ParseCase& c : cases) {
        char pcHost[64] = "unchanged";
        std::uint16_t usPort = 0;
        const bool bParsed = ParsePortServer(c.pcValue, pcHost, sizeof pcHost, &usPort);
        EXPECT_EQ(bParsed, c.pcHost != nullptr) << c.pcValue;
        if (bParsed && c.pcHost != nullptr) {
            EXPECT_STREQ(pcHost, c.pcHost) << c.pcValue;
            EXPECT_EQ(usPort, c.iPort) << c.pcValue;
        }
    }
    char pcSmall[4];
    std::uint16_t usPort = 0;
    EXPECT_TRUE(ParsePortServer("rfc2217://abc:1", pcSmall, sizeof pcSmall, &usPort));
    EXPECT_FALSE(ParsePortServer("rfc2217://abcd:1", pcSmall, sizeof pcSmall, &usPort));
}

// A TCP port on 127.0.0.1 that nothing listens on just now.
int FreePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sAddr{};
    sAddr.sin_family = AF_INET;
    sAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sAddr;
    bind(fd, reinterpret_cast<sockaddr*>(&sAddr), sizeof sAddr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&sAddr), &len);
    close(fd);
    return ntohs(sAddr.sin_port);
}

// The inode of the socket listening on 127.0.0.1:iPort, or "" when none is.
std::string ListeningInode(int iPort)
{
    std::ifstream tcp("/proc/net/tcp");
    std::string line;
    char pcLocal[32];
    std::snprintf(pcLocal, sizeof pcLocal, "0100007F:%04X", iPort);
    while (std::getline(tcp, line)) {
        std::istringstream fields(line);
        std::string sSlot, sLocal, sRemote, sState, sQueues, sTimer, sRetr, sUid, sTimeout, sInode;
        fields >> sSlot >> sLocal >> sRemote >> sState >> sQueues >> sTimer >> sRetr >> sUid >> sTimeout >> sInode;
        if (sLocal == pcLocal && sState == "0A")
            return sInode;
    }
    return "";
}

// True when process pid holds the socket with that inode.
bool HoldsSocket(int pid, const std::string& sInode)
{
    const std::string sDir = "/proc/" + std::to_string(pid) + "/fd";
    DIR* pDir = opendir(sDir.c_str());
    if (pDir == nullptr)
        return false;
    bool bHolds = false;
    while (const dirent* pEntry = readdir(pDir)) {
        char pcLink[64] = {};
        const std::string sFd = sDir + "/" + pEntry->d_name;
        if (readlink(sFd.c_str(), pcLink, sizeof pcLink - 1) > 0 && "socket:[" + sInode + "]" == pcLink)
            bHolds = true;
    }
    closedir(pDir);
    return bHolds;
}

// A server program in the background, its output in a log; stopped with
// SIGTERM, then SIGKILL, whatever way the test ends.
class Server {
public:
    Server(Strings args, const std::string& sLog)
    {
        std::vector<char*> argv = CStrings(args);
        m_pid = fork();
        if (m_pid == 0) {
            const int fd = open(sLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            dup2(fd, 1);
            dup2(fd, 2);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~Server()
    {
        kill(m_pid, SIGTERM);
        const Clock::time_point tEnd = Clock::now() + std::chrono::seconds(5);
        while (waitpid(m_pid, nullptr, WNOHANG) == 0) {
            if (Clock::now() > tEnd) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, nullptr, 0);
                return;
            }
            usleep(5000);
        }
    }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Waits until the server's own socket listens on iPort: false when it
    // ends or 20 s pass first (it could not bind, or it read a bad setting).
    bool WaitListening(int iPort) const
    {
        const Clock::time_point tEnd = Clock::now() + std::chrono::seconds(20);
        while (Clock::now() < tEnd && waitpid(m_pid, nullptr, WNOHANG) == 0) {
            const std::string sInode = ListeningInode(iPort);
            if (!sInode.empty() && HoldsSocket(m_pid, sInode))
                return true;
            usleep(5000);
        }
        return false;
    }

private:
    pid_t m_pid = -1;
};

enum ServerKind {
    SER2NET,
    PORT_MANAGER
};

Strings ServerArgs(ServerKind eKind, const ScratchDir& dir, const std::string& sTty, int iPort)
{
    if (eKind == PORT_MANAGER)
        return {"/usr/bin/python3", kScripts + "rfc2217_portmanager.py", sTty, std::to_string(iPort),
                dir.Path("settings.log")};
    const std::string sConfig = dir.Write("ser2net.yaml", "%YAML 1.1\n---\nconnection: &c\n"
                                                          "  accepter: telnet(rfc2217),tcp,127.0.0.1," +
                                                              std::to_string(iPort) +
                                                              "\n"
                                                              "  connector: serialdev," +
                                                              sTty + ",9600n81,local\n");
    return {"/usr/sbin/ser2net", "-n", "-d", "-u", "-c", sConfig};
}

// A server started by the arguments for a port, listening on a port of its
// own (*piPort); null when none did.
std::unique_ptr<Server> Start(const std::function<Strings(int)>& args, const std::string& sLog, int* piPort)
{
    for (int i = 0; i < 3; ++i) {
        *piPort = FreePort();
        auto pServer = std::make_unique<Server>(args(*piPort), sLog);
        if (pServer->WaitListening(*piPort))
            return pServer;
    }
    return nullptr;
}

// What the device gets, read on a thread from the master side.
class Device {
public:
    explicit Device(int fd) : m_fd(fd), m_thread([this] { Read(); }) {}
    ~Device()
    {
        m_bStop = true;
        m_thread.join();
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // Waits until n bytes have come, up to dSeconds: what came.
    std::string WaitFor(std::size_t n, double dSeconds)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cond.wait_for(lock, std::chrono::duration<double>(dSeconds), [&] { return m_data.size() >= n; });
        return m_data;
    }

private:
    void Read()
    {
        char pcBuf[65536];
        while (!m_bStop) {
            pollfd sPoll = {m_fd, POLLIN, 0};
            if (poll(&sPoll, 1, 20) <= 0 || (sPoll.revents & POLLIN) == 0)
                continue;
            const ssize_t n = read(m_fd, pcBuf, sizeof pcBuf);
            if (n <= 0)
                continue;
            std::lock_guard<std::mutex> lock(m_mutex);
            m_data.append(pcBuf, static_cast<std::size_t>(n));
            m_cond.notify_all();
        }
    }

    int m_fd;
    std::atomic<bool> m_bStop{false};
    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::string m_data;
    std::thread m_thread;
};

// The terminal's settings as a connected client has set them.
struct LineSettings {
    std::uint32_t ulSpeed;
    bool bTwoStopBits;
    bool bXonXoff;
};

// Waits until the terminal has the settings: the client is connected and its
// settings are in force; false when 20 s pass first.
bool WaitSettings(const PtyPair& pty, const LineSettings& s)
{
    const Clock::time_point tEnd = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < tEnd) {
        termios sTerm;
        if (tcgetattr(pty.Slave(), &sTerm) == 0 && TerminalSpeed(pty.Slave()) == s.ulSpeed &&
            ((sTerm.c_cflag & CSTOPB) != 0) == s.bTwoStopBits &&
            ((sTerm.c_iflag & IXON) != 0 && (sTerm.c_iflag & IXOFF) != 0) == s.bXonXoff)
            return true;
        usleep(2000);
    }
    return false;
}

// The same checks against each real port server, on a terminal of its own.
class PortServer : public ::testing::TestWithParam<ServerKind> {
protected:
    void SetUp() override
    {
        m_pServer = Start([this](int iPort) { return ServerArgs(GetParam(), m_dir, m_pty.Path(), iPort); },
                          m_dir.Path("server.log"), &m_iPort);
        ASSERT_TRUE(m_pServer != nullptr) << "no port server (tools/setup test installs ser2net and "
                                             "python3-serial): "
                                          << ReadFile(m_dir.Path("server.log"));
    }

    RunSetup Sender(const Strings& args, const std::string& input) const
    {
        RunSetup sSetup;
        sSetup.args = {"-s127.0.0.1", kDeadPort, "-crfc2217://127.0.0.1:" + std::to_string(m_iPort)};
        sSetup.args.insert(sSetup.args.end(), args.begin(), args.end());
        sSetup.input = input;
        sSetup.dKillAfter = 60;
        return sSetup;
    }

    PtyPair m_pty;
    ScratchDir m_dir;
    int m_iPort = 0;
    std::unique_ptr<Server> m_pServer;
};

// Every byte value, runs of 0xFF, CR NUL and CR LF.
std::string TelnetHardBytes(int iRounds)
{
    return AllByteValues(iRounds) + std::string(300, '\xff') + std::string("\r\0\r\n\xff\r\0", 7) + AllByteValues(1);
}

TEST_P(PortServer, SettingsDataBothWaysConfirmRecordAndTrace)
{
    const std::string input = TelnetHardBytes(8);
    const std::string reply = TelnetHardBytes(2);
    SenderProcess sender(
        Sender({"-b19200", "-d7", "-pe", "-s2", "-r3", "-e10", "-j", "-f" + m_dir.Path("trace")}, input));
    Device device(m_pty.Master());
    ASSERT_TRUE(WaitSettings(m_pty, {19200, true, false}));
    m_pty.Send(reply);
    EXPECT_TRUE(device.WaitFor(input.size(), 30) == input);
    RunResult r = sender.Wait();
    EXPECT_EQ(r.iStatus, 0) << r.err;
    EXPECT_TRUE(r.out == reply) << r.out.size() << " bytes received";
    // Data bits and parity show in the replies, which the sender checks, and
    // in the script's log.
    if (GetParam() == PORT_MANAGER) {
        const std::string sLog = ReadFile(m_dir.Path("settings.log"));
        for (const char* pcLine : {"set baud rate: 19200\n", "set data size: 7\n", "set parity: E\n",
                                   "set stop bits: 2\n", "changed flow control to None\n"})
            EXPECT_NE(sLog.find(pcLine), std::string::npos) << pcLine << " in " << sLog;
    }
    const std::vector<RecordFields> records = ParseRecords(LastLine(r.err));
    ASSERT_EQ(records.size(), 1u) << r.err;
    const RecordFields expected = {{"link", "\"rfc2217\""},
                                   {"device", "\"127.0.0.1\""},
                                   {"port", std::to_string(m_iPort)},
                                   {"sent", std::to_string(input.size())},
                                   {"received", std::to_string(reply.size())},
                                   {"confirmed", "true"}};
    for (const auto& [sName, sValue] : expected)
        EXPECT_EQ(RecordField(records[0], sName), sValue) << sName;
    std::string errors;
    const std::vector<TraceEntry> trace = ParseTrace(ReadFile(m_dir.Path("trace")), &errors);
    EXPECT_EQ(errors, "");
    EXPECT_TRUE(TraceBytes(trace, true) == input);
    EXPECT_TRUE(TraceBytes(trace, false) == reply);
}

TEST_P(PortServer, XonXoffReachesTheTerminal)
{
    SenderProcess sender(Sender({"-x", "-b9600", "-s1", "-r2"}, "x"));
    EXPECT_TRUE(WaitSettings(m_pty, {9600, false, true}));
    RunResult r = sender.Wait();
    EXPECT_EQ(r.iStatus, 0) << r.err;
}

// -l: the device's answer, 0xFF in its text, reaches the filter unescaped,
// which ends the run on it (mode 0).
TEST_P(PortServer, FilterSeesTheDeviceBytes)
{
    SenderProcess sender(Sender({"-l", "-r20"}, ""));
    ASSERT_TRUE(WaitSettings(m_pty, {57600, true, false}));
    m_pty.Send("\x01TD\"H\xff\xffo\"\x17");
    RunResult r = sender.Wait();
    EXPECT_EQ(r.iStatus, 0) << r.err;
    EXPECT_EQ(r.out, "H\xff\xffo");
}

INSTANTIATE_TEST_SUITE_P(Servers, PortServer, ::testing::Values(SER2NET, PORT_MANAGER),
                         [](const ::testing::TestParamInfo<ServerKind>& sInfo) {
                             return sInfo.param == SER2NET ? "ser2net" : "PortManager";
                         });

TEST(Ser2net, FramesAndAMebibyteArriveWhole)
{
    PtyPair pty;
    ScratchDir dir;
    int iPort = 0;
    auto pServer = Start([&](int i) { return ServerArgs(SER2NET, dir, pty.Path(), i); }, dir.Path("log"), &iPort);
    ASSERT_TRUE(pServer != nullptr) << ReadFile(dir.Path("log"));
    Device device(pty.Master());
    const std::string input = Noise(1 << 20, 31) + TelnetHardBytes(4);
    // The remote console's frames (named for the serial link) with 0xFF as
    // their start byte go first. The device answers once it has everything,
    // which ends the run (mode 0): ser2net drops what it still holds for the
    // terminal when the client leaves.
    const std::string frames = "\xffRCRA--r1\x17\xffRCRB--r1\x17\xffTK\x17\xffTD\x17";
    RunSetup sSetup;
    sSetup.args = {"-s127.0.0.1", kDeadPort, "-crfc2217://127.0.0.1:" + std::to_string(iPort),
                   "-b115200",    "-e30",    "-t",
                   "-lFF17",      "-m0",     "-r60"};
    sSetup.input = input;
    SenderProcess sender(sSetup);
    EXPECT_TRUE(device.WaitFor(frames.size() + input.size(), 60) == frames + input);
    pty.Send("\xffTD\"done\"\x17");
    RunResult r = sender.Wait();
    EXPECT_EQ(r.iStatus, 0) << r.err;
    EXPECT_EQ(r.out, "done");
}

// A value that names no server, or settings that a local port refuses: 240
// before any connection is tried (-w would wait for one).
TEST(PortServerValue, UnusableValuesEndWith240AtOnce)
{
    const std::string sGood = "-crfc2217://127.0.0.1:" + std::to_string(FreePort());
    const Strings cases[] = {
        {"-crfc2217://127.0.0.1"},
        {"-crfc2217://127.0.0.1:0"},
        {"-crfc2217://127.0.0.1:65536"},
        {"-crfc2217://:2217"},
        {"-crfc2217://[::1]"},
        {"-crfc2217://127.0.0.1:2217/"},
        {sGood, "-b0"},
        {sGood, "-d9"},
        {sGood, "-d4"},
        {sGood, "-s3"},
        {sGood, "-s0"},
        {sGood, "-px"},
    };
    for (const Strings& c : cases) {
        Strings args = {"-s127.0.0.1", kDeadPort};
        args.insert(args.end(), c.begin(), c.end());
        args.push_back("-w5");
        const Clock::time_point tStart = Clock::now();
        RunResult r = RunArgs(args, "x");
        EXPECT_EQ(r.iStatus, 240) << c.back();
        EXPECT_EQ(r.err, kSerialError) << c.back();
        EXPECT_LT(std::chrono::duration<double>(Clock::now() - tStart).count(), 3.0) << c.back();
    }
    RunResult r = RunArgs({"-s127.0.0.1", kDeadPort, "-crfc2217://127.0.0.1", "-j"});
    const std::vector<RecordFields> records = ParseRecords(r.err.substr(std::strlen(kSerialError)));
    ASSERT_EQ(records.size(), 1u) << r.err;
    EXPECT_EQ(RecordField(records[0], "link"), "\"rfc2217\"");
    EXPECT_EQ(RecordField(records[0], "device"), "\"rfc2217://127.0.0.1\"");
    EXPECT_EQ(RecordField(records[0], "port"), "null");

    // The connection is the network link's: refused is 252, a name that does
    // not resolve 253.
    r = RunArgs({"-s127.0.0.1", kDeadPort, sGood}, "x");
    EXPECT_EQ(r.iStatus, 252);
    EXPECT_EQ(r.err, "Connection refused\n");
    r = RunArgs({"-s127.0.0.1", kDeadPort, "-crfc2217://no-such-device.invalid:2217"}, "x");
    EXPECT_EQ(r.iStatus, 253) << r.err;
}

struct FaultCase {
    const char* pcMode;
    Strings args;
    int iStatus;
    std::string err;
    double dMinSeconds, dMaxSeconds;
};

TEST(PortServerFaults, EachFailureNamedAndEnded)
{
    const FaultCase cases[] = {
        {"refuse", {}, 240, "the port server refuses RFC 2217\nserial error\n", 0, 3},
        {"binary", {}, 240, "the port server refuses BINARY\nserial error\n", 0, 3},
        {"silent", {}, 240, "no RFC 2217 answer\nserial error\n", 4.9, 15},
        {"baud", {"-b19200"}, 240, "baud rate: asked for 19200, the port server set 9600\nserial error\n", 0, 3},
        {"busy", {}, 240, "Port already in use\nserial error\n", 0, 3},
        {"busy", {"-w2"}, 240, "Port already in use\nserial error\n", 1.9, 10},
        {"busy-once", {"-w10", "-e10"}, 0, "", 0, 10},
        {"query", {"-e10"}, 251, "error during sending\n", 0, 5},
        // The -e time-out ends the receiver's wait, which is no hang-up.
        {"unanswered", {"-r", "-e1"}, 1, "Timeout\n", 0.9, 5},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.pcMode);
        ScratchDir dir;
        int iPort = 0;
        auto pServer = Start(
            [&](int i) {
                return Strings{"/usr/bin/python3", kScripts + "rfc2217_faults.py", c.pcMode, std::to_string(i),
                               dir.Path("log")};
            },
            dir.Path("server.log"), &iPort);
        ASSERT_TRUE(pServer != nullptr) << ReadFile(dir.Path("server.log"));
        Strings args = {"-s127.0.0.1", kDeadPort, "-crfc2217://127.0.0.1:" + std::to_string(iPort)};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Clock::time_point tStart = Clock::now();
        RunResult r = RunArgs(args, "job");
        const double dSeconds = std::chrono::duration<double>(Clock::now() - tStart).count();
        EXPECT_EQ(r.iStatus, c.iStatus);
        EXPECT_EQ(r.err, c.err);
        EXPECT_GE(dSeconds, c.dMinSeconds);
        EXPECT_LT(dSeconds, c.dMaxSeconds);
    }
}

// Device bytes that come while the link opens are received first; Telnet
// commands among the device's bytes never reach the output; the offer among
// them is refused once.
TEST(PortServerFaults, CommandsAmongTheDataAreTakenOut)
{
    ScratchDir dir;
    int iPort = 0;
    auto pServer = Start(
        [&](int i) {
            return Strings{"/usr/bin/python3", kScripts + "rfc2217_faults.py", "chatty", std::to_string(i),
                           dir.Path("log")};
        },
        dir.Path("server.log"), &iPort);
    ASSERT_TRUE(pServer != nullptr) << ReadFile(dir.Path("server.log"));
    RunResult r = RunArgs({"-s127.0.0.1", kDeadPort, "-crfc2217://127.0.0.1:" + std::to_string(iPort), "-r2"});
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.err, "Timeout\n");
    EXPECT_EQ(r.out, std::string("<\xff>ab\xff\r\0cd\xff", 11));
    // The server logs what it got once the connection has ended.
    const Clock::time_point tEnd = Clock::now() + std::chrono::seconds(20);
    while (ReadFile(dir.Path("log")).find("closed\n") == std::string::npos && Clock::now() < tEnd)
        usleep(5000);
    EXPECT_EQ(ReadFile(dir.Path("log")), "254 1\nclosed\n");

    // -e without -r: the device's bytes before the reply are read through the
    // decoder, dropped and counted.
    r = RunArgs({"-s127.0.0.1", kDeadPort, "-crfc2217://127.0.0.1:" + std::to_string(iPort), "-e10", "-j"});
    EXPECT_EQ(r.iStatus, 0) << r.err;
    const std::vector<RecordFields> records = ParseRecords(r.err);
    ASSERT_EQ(records.size(), 1u) << r.err;
    EXPECT_EQ(RecordField(records[0], "received"), "11");
    EXPECT_EQ(RecordField(records[0], "confirmed"), "true");
}

}  // namespace
