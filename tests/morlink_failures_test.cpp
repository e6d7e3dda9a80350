// Failures of a run: exit codes, messages on standard error, and what the
// device gets to see before the end.
#include <gtest/gtest.h>

#include <netdb.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "fake_device.h"
#include "morlink_test_util.h"

namespace {

using Strings = std::vector<std::string>;

const char kProgramError[] = "programm error (i.e. false argument)\n";

RunResult RunSender(Strings args, const std::string& input = "")
{
    RunSpec sSpec;
    sSpec.args = args;
    sSpec.input = input;
    return RunMorlink(sSpec);
}

std::string PortArg(std::uint16_t usPort)
{
    return "-p" + std::to_string(usPort);
}

TEST(Failures, RefusedConnectionEndsWith252AndTheSystemText)
{
    RefusingPort refusing;
    RunResult r = RunSender({"-s127.0.0.1", PortArg(refusing.Port())}, "data");
    EXPECT_TRUE(r.bExited);
    EXPECT_EQ(r.iStatus, 252);
    EXPECT_EQ(r.err, "Connection refused\n");
    EXPECT_EQ(r.out, "");
}

TEST(Failures, BlankAfterPortLetterGivesPortZero)
{
    // "-p 9100": the port becomes 0 and "9100" ends the options.
    RunResult r = RunSender({"-s127.0.0.1", "-p", "9100"});
    EXPECT_EQ(r.iStatus, 252);
    EXPECT_EQ(r.err, "Connection refused\n");
}

TEST(Failures, UnresolvableHostEndsWith253AndTheResolverText)
{
    FakeDevice fake;
    RunResult r = RunSender({"-s127.0.0.1", "-sno-such-device.invalid", PortArg(fake.TcpPort())});
    fake.Finish();
    EXPECT_EQ(r.iStatus, 253);
    Strings resolverTexts;
    for (int iCode : {EAI_NONAME, EAI_AGAIN, EAI_FAIL, EAI_NODATA})
        resolverTexts.push_back(std::string(gai_strerror(iCode)) + "\n");
    EXPECT_NE(std::find(resolverTexts.begin(), resolverTexts.end(), r.err), resolverTexts.end())
        << r.err;
    EXPECT_TRUE(fake.Connections().empty());
}

TEST(Failures, MissingInputFileEndsWith255BeforeAnyConnection)
{
    FakeDevice fake;
    ScratchDir dir;
    RunResult r = RunSender({"-s127.0.0.1", PortArg(fake.TcpPort()), "-i" + dir.Path("missing.prn")});
    fake.Finish();
    EXPECT_EQ(r.iStatus, 255);
    EXPECT_EQ(r.err, kProgramError);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(fake.Connections().empty());
}

TEST(Failures, UncreatableOutputFileEndsWith255BeforeAnyConnection)
{
    FakeDevice fake;
    ScratchDir dir;
    RunResult r = RunSender({"-s127.0.0.1", "-u", PortArg(fake.UdpPort()), "-o" + dir.Path("no/dir/out")},
                      "data");
    fake.Finish();
    EXPECT_EQ(r.iStatus, 255);
    EXPECT_EQ(r.err, kProgramError);
    EXPECT_TRUE(fake.Datagrams().empty());
}

TEST(Failures, OutputFileStaysBehindEmptyWhenTheLinkFails)
{
    RefusingPort refusing;
    ScratchDir dir;
    const std::string out = dir.Path("answers.bin");
    RunResult r = RunSender({"-s127.0.0.1", PortArg(refusing.Port()), "-o" + out});
    EXPECT_EQ(r.iStatus, 252);
    EXPECT_TRUE(FileExists(out));
    EXPECT_EQ(ReadFile(out), "");
}

TEST(Failures, ResetConnectionIsASendErrorNotASignal)
{
    // The device resets every connection; the input never ends.
    FakeDevice fake(FakeDevice::Mode::Reset);
    RunResult r = RunSender({"-s127.0.0.1", PortArg(fake.TcpPort()), "-i/dev/zero"});
    fake.Finish();
    EXPECT_TRUE(r.bExited) << "ended by signal " << r.iStatus;
    EXPECT_EQ(r.iStatus, 251);
    EXPECT_EQ(r.err, "error during sending\n");
}

TEST(Failures, SendingToAClosedConnectionIsASendErrorNotASignal)
{
    // The device closes the connection before any data arrive; the sender
    // writes into it afterwards, which the system refuses with a broken pipe.
    FakeDevice fake(FakeDevice::Mode::Close);
    ScratchDir dir;
    const std::string fifo = dir.Path("input.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    RunSpec sSpec;
    sSpec.args = {"-s127.0.0.1", PortArg(fake.TcpPort()), "-i" + fifo};
    SenderProcess sender(sSpec);
    int fd = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    fake.WaitForConnections(1);
    // Our own writes fail once the sender has ended; that must not end the test.
    auto pfnOld = std::signal(SIGPIPE, SIG_IGN);
    const std::string block(65536, 'x');
    for (int i = 0; i < 64 && write(fd, block.data(), block.size()) > 0; ++i) {
    }
    close(fd);
    std::signal(SIGPIPE, pfnOld);
    RunResult r = sender.Wait();
    fake.Finish();
    EXPECT_TRUE(r.bExited) << "ended by signal " << r.iStatus;
    EXPECT_EQ(r.iStatus, 251);
    EXPECT_EQ(r.err, "error during sending\n");
}

TEST(Failures, UnreadableInputIsASendError)
{
    // A directory opens, but reading it fails.
    FakeDevice fake;
    ScratchDir dir;
    RunResult r = RunSender({"-s127.0.0.1", PortArg(fake.TcpPort()), "-i" + dir.Dir()});
    fake.Finish();
    EXPECT_EQ(r.iStatus, 251);
    EXPECT_EQ(r.err, "error during sending\n");
    EXPECT_EQ(fake.Connections(), Strings{""});
}

TEST(Failures, InputBeyond32BitLengthIsRefusedForTheMemCard)
{
    // The MemCard frame cannot announce the length of a file of 4 GiB or more.
    FakeDevice fake;
    ScratchDir dir;
    const std::string path = dir.Write("huge.bin", "");
    ASSERT_EQ(truncate(path.c_str(), (off_t{1} << 32) + 5), 0) << std::strerror(errno);
    RunResult r = RunSender({"-s127.0.0.1", PortArg(fake.TcpPort()), "-t", "-ahuge.bin", "-i" + path});
    fake.Finish();
    EXPECT_EQ(r.iStatus, 255);
    EXPECT_EQ(r.err, kProgramError);
    EXPECT_EQ(fake.Connections(), Strings{""});
}

TEST(Failures, SerialLinkSelectedByCUsesNoNetwork)
{
    // -c first: -s and -p set serial values, and the network stays unused.
    FakeDevice fake;
    RunResult r = RunSender({"-c1", "-s127.0.0.1", PortArg(fake.TcpPort())}, "data");
    fake.Finish();
    EXPECT_EQ(r.iStatus, 240);
    EXPECT_TRUE(fake.Connections().empty());
}

TEST(Failures, DebugModeShowsTheDiagnosticLineBeforeTheSystemText)
{
    // Debug mode pauses 5 s before the end; this is the one test that waits for it.
    RefusingPort refusing;
    RunResult r = RunSender({"-s127.0.0.1", PortArg(refusing.Port()), "-d"});
    EXPECT_EQ(r.iStatus, 252);
    // "IP Address" line, then "<source path>, Line <n>: <reason>, <last error>:", then the text.
    const std::string sHead = "IP Address: 127.0.0.1\n";
    const std::string sTail = ": -1, " + std::to_string(ECONNREFUSED) + ":\nConnection refused\n";
    ASSERT_GT(r.err.size(), sHead.size() + sTail.size()) << r.err;
    EXPECT_EQ(r.err.substr(0, sHead.size()), sHead);
    EXPECT_EQ(r.err.substr(r.err.size() - sTail.size()), sTail);
    const std::string sSite = r.err.substr(sHead.size(), r.err.size() - sHead.size() - sTail.size());
    const std::string sLine = "netlink.cpp, Line ";
    const std::size_t pos = sSite.find(sLine);
    ASSERT_NE(pos, std::string::npos) << r.err;
    const std::string sNumber = sSite.substr(pos + sLine.size());
    EXPECT_FALSE(sNumber.empty());
    EXPECT_EQ(sNumber.find_first_not_of("0123456789"), std::string::npos) << r.err;
}

}  // namespace
