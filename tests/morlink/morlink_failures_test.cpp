// Failures of a run: exit codes, messages on standard error, and what the
// device gets to see before the end.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>

#include "morlink_test_util.h"
#include "sim_device.h"

namespace {

using Strings = std::vector<std::string>;

const char kProgramError[] = "programm error (i.e. false argument)\n";

TEST(Failures, RefusedConnectionEndsWith252AndTheSystemText)
{
    RefusingPort refusing;
    ScratchDir dir;
    RunResult r = RunArgs({"-s127.0.0.1", refusing.PortArg(), "-o" + dir.Path("out")}, "data");
    EXPECT_TRUE(r.bExited);
    EXPECT_EQ(r.iStatus, 252);
    EXPECT_EQ(r.err, "Connection refused\n");
    EXPECT_EQ(r.out, "");
    // The output file was created before the link failed and stays behind.
    EXPECT_EQ(ReadFile(dir.Path("out")), "");
    EXPECT_TRUE(std::filesystem::exists(dir.Path("out")));
}

TEST(Failures, UnresolvableHostEndsWith253AndTheResolverText)
{
    SimDevice fake;
    RunResult r = RunArgs({"-s127.0.0.1", "-sno-such-device.invalid", fake.TcpPortArg()});
    fake.Collect();
    EXPECT_EQ(r.iStatus, 253);
    Strings texts;
    for (int iCode : {EAI_NONAME, EAI_AGAIN, EAI_FAIL, EAI_NODATA})
        texts.push_back(std::string(gai_strerror(iCode)) + "\n");
    EXPECT_NE(std::find(texts.begin(), texts.end(), r.err), texts.end()) << r.err;
    EXPECT_TRUE(fake.connections.empty());
}

TEST(Failures, BadFileNamesEndWith255BeforeAnyConnection)
{
    ScratchDir dir;
    for (const std::string& sArg : {"-i" + dir.Path("missing.prn"), "-o" + dir.Path("no/dir/out")}) {
        SimDevice fake;
        RunResult r = RunArgs({"-s127.0.0.1", fake.TcpPortArg(), sArg}, "data");
        fake.Collect();
        EXPECT_EQ(r.iStatus, 255) << sArg;
        EXPECT_EQ(r.err, kProgramError);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(fake.connections.empty()) << sArg;
    }
}

TEST(Failures, SendingToAClosedConnectionIsASendErrorNotASignal)
{
    // The device closes the connection before any data arrive; the sender
    // writes into it afterwards, which the system refuses as a broken pipe.
    SimDevice fake;
    ScratchDir dir;
    const std::string fifo = dir.Path("input.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    RunSetup sSetup;
    sSetup.args = {"-s127.0.0.1", fake.TcpPortArg(), "-i" + fifo};
    SenderProcess sender(sSetup);
    int fd = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    fake.AcceptAndClose();
    // Input until the sender has ended, however much its kernel queues before
    // the device's reset comes back; our writes then fail, which must not end
    // the test. A sender still reading after 20 s has missed the reset.
    auto pfnOld = std::signal(SIGPIPE, SIG_IGN);
    ASSERT_EQ(fcntl(fd, F_SETFL, O_NONBLOCK), 0);
    const std::string block(65536, 'x');
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < tEnd) {
        pollfd sPoll = {fd, POLLOUT, 0};
        if (poll(&sPoll, 1, 50) > 0 && write(fd, block.data(), block.size()) < 0 && errno != EAGAIN)
            break;
    }
    close(fd);
    std::signal(SIGPIPE, pfnOld);
    RunResult r = sender.Wait();
    EXPECT_TRUE(r.bExited) << "ended by signal " << r.iStatus;
    EXPECT_EQ(r.iStatus, 251);
    EXPECT_EQ(r.err, "error during sending\n");
}

TEST(Failures, DirectoryAsInputFileEndsWith255BeforeAnyConnection)
{
    // A directory opens, but cannot be read: it is refused at once, before a
    // MemCard frame could announce a length that never comes.
    ScratchDir dir;
    for (const Strings& args : {Strings{}, Strings{"-a/x"}}) {
        SimDevice fake;
        Strings all = {"-s127.0.0.1", fake.TcpPortArg(), "-i" + dir.Dir()};
        all.insert(all.end(), args.begin(), args.end());
        RunResult r = RunArgs(all);
        fake.Collect();
        EXPECT_EQ(r.iStatus, 255);
        EXPECT_EQ(r.err, kProgramError);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(fake.connections.empty());
    }
}

TEST(Failures, OutputThatIsTheInputFileEndsWith255AndLeavesItWhole)
{
    // By the same name, another spelling of it, a hard link and a symbolic link.
    ScratchDir dir;
    const std::string input = Noise(5000, 8);
    const std::string path = dir.Write("job.prn", input);
    ASSERT_EQ(link(path.c_str(), dir.Path("hard.prn").c_str()), 0);
    ASSERT_EQ(symlink(path.c_str(), dir.Path("soft.prn").c_str()), 0);
    for (const char* pcOut : {"job.prn", "./job.prn", "hard.prn", "soft.prn"}) {
        dir.Write("job.prn", input);
        SimDevice fake;
        RunSetup sSetup;
        sSetup.args = {"-s127.0.0.1", fake.TcpPortArg(), "-ijob.prn", std::string("-o") + pcOut, "-r1"};
        sSetup.cwd = dir.Dir();
        RunResult r = RunMorlink(sSetup);
        fake.Collect();
        EXPECT_EQ(r.iStatus, 255) << pcOut;
        EXPECT_EQ(r.err, kProgramError) << pcOut;
        EXPECT_TRUE(ReadFile(path) == input) << pcOut << ": " << ReadFile(path).size() << " bytes left";
        EXPECT_TRUE(fake.connections.empty()) << pcOut;
    }
    // Without -i: standard input read from that file.
    for (const char* pcOut : {"job.prn", "hard.prn", "soft.prn"}) {
        dir.Write("job.prn", input);
        SimDevice fake;
        RunSetup sSetup;
        sSetup.args = {"-s127.0.0.1", fake.TcpPortArg(), std::string("-o") + pcOut};
        sSetup.cwd = dir.Dir();
        sSetup.stdinPath = path;
        RunResult r = RunMorlink(sSetup);
        fake.Collect();
        EXPECT_EQ(r.iStatus, 255) << "stdin, " << pcOut;
        EXPECT_EQ(r.err, kProgramError) << "stdin, " << pcOut;
        EXPECT_TRUE(ReadFile(path) == input) << "stdin, " << pcOut;
        EXPECT_TRUE(fake.connections.empty()) << "stdin, " << pcOut;
    }

    // A device may be both: nothing of it is destroyed.
    for (bool bStdin : {false, true}) {
        SimDevice fake;
        RunSetup sSetup;
        sSetup.args = {"-s127.0.0.1", fake.TcpPortArg(), "-o/dev/null"};
        if (bStdin)
            sSetup.stdinPath = "/dev/null";
        else
            sSetup.args.push_back("-i/dev/null");
        RunResult r = RunMorlink(sSetup);
        fake.Collect();
        EXPECT_EQ(r.iStatus, 0) << bStdin;
        EXPECT_EQ(r.err, "") << bStdin;
        EXPECT_EQ(fake.connections, Strings{""}) << bStdin;
    }
}

TEST(Failures, InputBeyond32BitLengthIsRefusedForTheMemCard)
{
    // The MemCard frame cannot announce the length of a file of 4 GiB or more.
    SimDevice fake;
    ScratchDir dir;
    const std::string path = dir.Write("huge.bin", "");
    std::filesystem::resize_file(path, (std::uintmax_t{1} << 32) + 5);
    RunResult r = RunArgs({"-s127.0.0.1", fake.TcpPortArg(), "-t", "-ahuge.bin", "-i" + path});
    fake.Collect();
    EXPECT_EQ(r.iStatus, 255);
    EXPECT_EQ(r.err, kProgramError);
    EXPECT_EQ(fake.connections, Strings{""});
}

TEST(Failures, SerialLinkSelectedByCUsesNoNetwork)
{
    // -c first: -s and -p set serial values; the network stays unused. The
    // port character names no device, so no real port is ever opened here.
    SimDevice fake;
    RunResult r = RunArgs({"-cA", "-s127.0.0.1", fake.TcpPortArg()}, "data");
    fake.Collect();
    EXPECT_EQ(r.iStatus, 240);
    EXPECT_TRUE(fake.connections.empty());
}

TEST(Failures, DebugModeShowsTheDiagnosticLineBeforeTheSystemText)
{
    // Debug mode pauses 5 s before the end; the one test that waits for it.
    RefusingPort refusing;
    RunResult r = RunArgs({"-s127.0.0.1", refusing.PortArg(), "-d"});
    EXPECT_EQ(r.iStatus, 252);
    // "<source path>, Line <n>: <reason>, <last error>:" between address and text.
    const std::string sHead = "IP Address: 127.0.0.1\n";
    const std::string sTail = ": -1, " + std::to_string(ECONNREFUSED) + ":\nConnection refused\n";
    ASSERT_GT(r.err.size(), sHead.size() + sTail.size()) << r.err;
    EXPECT_EQ(r.err.substr(0, sHead.size()), sHead);
    EXPECT_EQ(r.err.substr(r.err.size() - sTail.size()), sTail);
    const std::string sSite = r.err.substr(sHead.size(), r.err.size() - sHead.size() - sTail.size());
    const std::size_t pos = sSite.find("netlink.cpp, Line ");
    ASSERT_NE(pos, std::string::npos) << r.err;
    const std::string sNumber = sSite.substr(pos + 18);
    EXPECT_TRUE(!sNumber.empty() && sNumber.find_first_not_of("0123456789") == std::string::npos);
}

}  // namespace
