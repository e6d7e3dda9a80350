// The result record (-j), read back with Python's json module: one for every
// ending a test can provoke, where it goes, names of any bytes; and the README's
// recipe for many devices run with GNU parallel.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>

#include "morlink_talk.h"

namespace {

using Strings = std::vector<std::string>;

// The one record in text; every field in its order, "seconds" by its form.
void ExpectRecord(const std::string& text, const RecordFields& expected)
{
    const std::vector<RecordFields> records = ParseRecords(text);
    ASSERT_EQ(records.size(), 1u) << text;
    const RecordFields& record = records[0];
    ASSERT_EQ(record.size(), expected.size()) << text;
    for (std::size_t i = 0; i < record.size(); ++i) {
        EXPECT_EQ(record[i].first, expected[i].first);
        if (expected[i].first == "seconds")
            EXPECT_TRUE(std::regex_search(text, std::regex(R"("seconds":\d+\.\d{3},)"))) << text;
        else
            EXPECT_EQ(record[i].second, expected[i].second) << expected[i].first << " in " << text;
    }
}

RecordFields Expected(const std::string& sLink, const std::string& sPort, const std::string& sInput,
                      const Strings& counts, int iStatus, const std::string& sResult, const std::string& sMessage,
                      const std::string& sConfirmed)
{
    return {{"tool", "\"morlink\""},     {"version", "\"0.13\""},  {"link", "\"" + sLink + "\""},
            {"device", "\"127.0.0.1\""}, {"port", sPort},          {"input", sInput},
            {"sent", counts.at(0)},      {"frames", counts.at(1)}, {"received", counts.at(2)},
            {"written", counts.at(3)},   {"seconds", ""},          {"status", std::to_string(iStatus)},
            {"result", sResult},         {"message", sMessage},    {"confirmed", sConfirmed}};
}

struct EndingCase {
    Strings args;
    Strings steps;
    int iStatus;
    Strings counts;  // sent, frames, received, written
    std::string sResult, sMessage, sConfirmed;
    bool bUdp = false;
};

const std::string kProgramError = "\"programm error (i.e. false argument)\"";

// The remote console's four frames: RCRA--r2, RCRB--r1, TK, TD, each with its
// start and end byte.
const std::string kConsoleFrames = "28";

TEST(Record, EveryEndingWritesItsRecord)
{
    const EndingCase cases[] = {
        // Answers during the wait for the close are read and dropped, and counted.
        {{"-e", "-t"},
         {"recv:31", "send:hello", "close"},
         0,
         {"3", kConsoleFrames, "5", "0"},
         "\"ok\"",
         "\"\"",
         "true"},
        {{"-e1"}, {"recv:3", "hold:5000"}, 1, {"3", "0", "0", "0"}, "\"timeout\"", "\"Timeout\"", "false"},
        {{"-e"}, {"recv:3", "reset"}, 251, {"3", "0", "0", "0"}, "\"send\"", "\"error during sending\"", "false"},
        // A time-out reported while the run ends with status 0.
        {{"-r1"}, {"recv:3", "send:hello", "close"}, 0, {"3", "0", "5", "5"}, "\"ok\"", "\"Timeout\"", "null"},
        {{"-rt1"}, {"recv:3", "send:hi", "hold:5000"}, 1, {"3", "0", "2", "2"}, "\"timeout\"", "\"Timeout\"", "null"},
        // What went over the wire, although the trace could not be written.
        {{"-f/dev/full"}, {"recv:3"}, 255, {"3", "0", "0", "0"}, "\"program\"", kProgramError, "null"},
        // UDP has nothing to confirm.
        {{"-e3"}, {"recv:3"}, 0, {"3", "0", "0", "0"}, "\"ok\"", "\"\"", "null", true},
    };
    for (const EndingCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        SimDevice dev;
        dev.Play(SimScript(c.steps), c.bUdp, 10000);
        ScratchDir dir;
        Strings args = {"-j" + dir.Path("rec.json")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        RunResult r = RunMorlink(SenderSetup(dev, args, "job", c.bUdp));
        dev.Finish();
        EXPECT_EQ(r.iStatus, c.iStatus) << r.err;
        const std::uint16_t usPort = c.bUdp ? dev.UdpPort() : dev.TcpPort();
        ExpectRecord(ReadFile(dir.Path("rec.json")),
                     Expected(c.bUdp ? "udp" : "tcp", std::to_string(usPort), "null", c.counts, c.iStatus, c.sResult,
                              c.sMessage, c.sConfirmed));
        // The device got what the record says went over the wire.
        if (!c.bUdp) {
            EXPECT_EQ(dev.connections.at(0).size(), std::stoull(c.counts[0]) + std::stoull(c.counts[1]));
        }
    }
}

TEST(Record, FailuresBeforeAndAtTheLink)
{
    ScratchDir dir;
    const std::string sRecord = dir.Path("rec.json");
    RefusingPort port;
    const std::string sPort = port.PortArg().substr(2);
    RunResult r = RunMorlink(Sender({port.PortArg(), "-j" + sRecord}, "job"));
    EXPECT_EQ(r.iStatus, 252);
    ExpectRecord(ReadFile(sRecord), Expected("tcp", sPort, "null", {"0", "0", "0", "0"}, 252, "\"connect\"",
                                             "\"Connection refused\"", "null"));
    // The option parser's messages; the record comes after them, in the
    // file named before them.
    for (const char* pcArg : {"-zz", "-m7"}) {
        std::filesystem::remove(sRecord);
        r = RunMorlink(Sender({"-u", "-j" + sRecord, pcArg}, "job"));
        EXPECT_EQ(r.iStatus, 255);
        EXPECT_EQ(r.err, "");
        const std::string sMessage = r.out.substr(0, r.out.size() - 1);
        ExpectRecord(ReadFile(sRecord), Expected("udp", "9100", "null", {"0", "0", "0", "0"}, 255, "\"program\"",
                                                 "\"" + sMessage + "\"", "null"));
    }
    // Before -j, and with the usage text or the version, there is none.
    std::filesystem::remove(sRecord);
    for (const Strings& args : {Strings{"-zz", "-j" + sRecord}, Strings{"-j" + sRecord, "-?"},
                                Strings{"-j" + sRecord, "--help"}, Strings{"-j", "--version"}}) {
        r = RunMorlink(Sender(args, "job"));
        EXPECT_FALSE(std::filesystem::exists(sRecord));
        EXPECT_EQ(r.err, "");
    }
}

// A -j file that cannot be used is 255 before any connection; the record then
// goes to standard error, as its last line.
TEST(Record, AFileThatCannotTakeTheRecordIsRefused)
{
    ScratchDir dir;
    const std::string sJob = dir.Write("job.prn", "job");
    const std::string sOut = dir.Write("out.bin", "old");
    const std::string sLink = dir.Path("link.prn");
    ASSERT_EQ(symlink(sJob.c_str(), sLink.c_str()), 0);
    const std::string sInput = "\"" + sJob + "\"";
    struct Refusal {
        Strings args;
        std::string sStdin, sInput;
    };
    const Refusal refusals[] = {
        {{"-j" + dir.Path("missing/rec.json"), "-i" + sJob}, "", sInput},
        {{"-i" + sJob, "-j" + sJob}, "", sInput},
        {{"-i" + sJob, "-j" + sLink}, "", sInput},
        {{"-o" + sOut, "-j" + sOut}, "", "null"},
        {{"-f" + sOut, "-j" + sOut}, "", "null"},
        {{"-j" + sJob}, sJob, "null"},
    };
    for (const Refusal& e : refusals) {
        SCOPED_TRACE(testing::PrintToString(e.args));
        SimDevice dev;
        RunSetup sSetup = Sender({dev.TcpPortArg()}, "");
        sSetup.args.insert(sSetup.args.end(), e.args.begin(), e.args.end());
        sSetup.stdinPath = e.sStdin;
        RunResult r = RunMorlink(sSetup);
        dev.Collect();
        EXPECT_EQ(r.iStatus, 255);
        EXPECT_TRUE(dev.connections.empty());
        const std::string sMessage = "programm error (i.e. false argument)";
        EXPECT_EQ(r.err.substr(0, sMessage.size() + 1), sMessage + "\n");
        ExpectRecord(r.err.substr(sMessage.size() + 1),
                     Expected("tcp", std::to_string(dev.TcpPort()), e.sInput, {"0", "0", "0", "0"}, 255, "\"program\"",
                              "\"" + sMessage + "\"", "null"));
        EXPECT_EQ(ReadFile(sJob), "job");
        EXPECT_EQ(ReadFile(sOut), "old");
    }
}

// A run that ends before its files are checked, at the option parser or at a
// failed open, never writes its record into another of its files: the file is
// checked at every end, against every -i, -o and -f of the command line.
TEST(Record, AnEarlyEndNeverAppendsToAnotherFile)
{
    ScratchDir dir;
    const std::string sJob = dir.Write("job.prn", "JOB\n");
    const std::string sOut = dir.Write("out.bin", "old");
    struct Case {
        Strings args;
        std::string sStdin;
    };
    const Case cases[] = {
        {{"-i" + sJob, "-j" + sJob, "-q"}, ""},  {{"-j" + sJob, "-q"}, sJob},
        {{"-j" + sJob, "-q", "-i" + sJob}, ""},  {{"-j" + sOut, "-zz", "-o" + sOut}, ""},
        {{"-j" + sOut, "-zz", "-f" + sOut}, ""}, {{"-i" + dir.Path("missing"), "-j" + sJob}, sJob},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        RunSetup sSetup = Sender({"-p1"}, "");
        sSetup.args.insert(sSetup.args.end(), c.args.begin(), c.args.end());
        sSetup.stdinPath = c.sStdin;
        RunResult r = RunMorlink(sSetup);
        EXPECT_EQ(r.iStatus, 255);
        EXPECT_EQ(ReadFile(sJob), "JOB\n");
        EXPECT_EQ(ReadFile(sOut), "old");
        const std::vector<RecordFields> records = ParseRecords(LastLine(r.err));
        ASSERT_EQ(records.size(), 1u) << r.err;
        EXPECT_EQ(RecordField(records[0], "status"), "255");
    }
}

TEST(Record, OnStandardErrorItIsALineOfItsOwn)
{
    SimDevice dev;
    RunResult r = RunMorlink(Sender({dev.TcpPortArg(), "-d", "-j"}, "job"));
    dev.Collect();
    EXPECT_EQ(r.iStatus, 0);
    const std::string sRecord = LastLine(r.err);
    ASSERT_GT(r.err.size(), sRecord.size());
    EXPECT_EQ(r.err.substr(0, r.err.size() - sRecord.size()), "IP Address: 127.0.0.1\n.\n");
    ExpectRecord(sRecord, Expected("tcp", std::to_string(dev.TcpPort()), "null", {"3", "0", "0", "0"}, 0, "\"ok\"",
                                   "\"\"", "null"));
}

// A record that cannot be written leaves the status as it is.
TEST(Record, AFailedWriteIsReportedAndChangesNoStatus)
{
    SimDevice dev;
    RunResult r = RunMorlink(Sender({dev.TcpPortArg(), "-j/dev/full"}, "job"));
    dev.Collect();
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.err, "the result record cannot be written: No space left on device\n");
    EXPECT_EQ(dev.connections.at(0), "job");
}

// Quotes, backslashes, control bytes and bytes that are no UTF-8 in the names
// still make a record that parses; valid UTF-8 stays as it is.
TEST(Record, NamesOfAnyBytesMakeValidJson)
{
    ScratchDir dir;
    const std::string sName = "q\"b\\s\x01\n\x1f\xff\xe2\x82\xac\xe2\x82.prn";
    const std::string sJob = dir.Write(sName, "job");
    SimDevice dev;
    RunResult r = RunMorlink(Sender({dev.TcpPortArg(), "-i" + sJob, "-j"}, ""));
    dev.Collect();
    EXPECT_EQ(r.iStatus, 0);
    const std::vector<RecordFields> records = ParseRecords(r.err);
    ASSERT_EQ(records.size(), 1u) << r.err;
    EXPECT_EQ(RecordField(records[0], "input"),
              "\"" + dir.Path("") + "q\\\"b\\\\s\\u0001\\n\\u001f\\u00ff\\u20ac\\u00e2\\u0082.prn\"");

    r = RunMorlink(Sender({"-j", "-z\"\\\x02\xfe\xc3\xa4"}, ""));
    EXPECT_EQ(r.iStatus, 255);
    const std::vector<RecordFields> options = ParseRecords(r.err);
    ASSERT_EQ(options.size(), 1u) << r.err;
    EXPECT_EQ(RecordField(options[0], "message"), "\"unknown option -z\\\"\\\\\\u0002\\u00fe\\u00e4\"");
}

// The README's GNU parallel command, run as it stands against eight devices:
// five that take the job and close, a port without a listener, one that
// resets after the first bytes of a job larger than the kernels hold, one
// that takes the whole job and never closes.
std::string FleetCommand()
{
    std::ifstream file(MORLINK_SOURCE_DIR "/README.md");
    std::string sLine, sCommand;
    bool bIn = false;
    while (std::getline(file, sLine)) {
        if (sLine == "```sh fleet")
            bIn = true;
        else if (bIn && sLine == "```")
            break;
        else if (bIn)
            sCommand += sLine + "\n";
    }
    return sCommand;
}

TEST(Fleet, TheReadmeRecipeWithGnuParallel)
{
    const std::string sCommand = FleetCommand();
    ASSERT_NE(sCommand.find("parallel"), std::string::npos) << "no `sh fleet` fence in the README";
    ASSERT_EQ(access("/usr/bin/parallel", X_OK), 0) << "GNU parallel is missing: tools/setup test installs it";
    ScratchDir dir;
    const std::string job = Noise(2 * SimSenderBufferLimit() + 1024 * 1024, 11);
    dir.Write("job.prn", job);
    const std::string sSize = std::to_string(job.size());
    std::vector<std::unique_ptr<SimDevice>> devices;
    std::map<std::string, std::pair<int, std::string>> expected;  // port: status, result
    for (int i = 0; i < 5; ++i) {
        devices.push_back(std::make_unique<SimDevice>());
        devices.back()->Play(SimScript({"recv:" + sSize, "close"}), false, 30000);
        expected[std::to_string(devices.back()->TcpPort())] = {0, "\"ok\""};
    }
    auto reset = std::make_unique<SimDevice>(SimBuffer::SMALL);
    reset->Play(SimScript({"recv:3", "reset"}), false, 30000);
    expected[std::to_string(reset->TcpPort())] = {251, "\"send\""};
    auto silent = std::make_unique<SimDevice>();
    silent->Play(SimScript({"recv:" + sSize, "hold:30000"}), false, 30000);
    expected[std::to_string(silent->TcpPort())] = {1, "\"timeout\""};
    RefusingPort refusing;
    expected[refusing.PortArg().substr(2)] = {252, "\"connect\""};
    std::string sDevices;
    for (const auto& [sPort, sOutcome] : expected)
        sDevices += "127.0.0.1 " + sPort + "\n";
    dir.Write("devices.txt", sDevices);

    RunSetup sSetup;
    sSetup.program = "/bin/sh";
    sSetup.args = {"-c", sCommand};
    sSetup.cwd = dir.Path("");
    sSetup.env = {"PATH=" + std::filesystem::path(MorlinkPath()).parent_path().string() + ":/usr/bin:/bin",
                  "HOME=" + dir.Path("")};
    sSetup.dKillAfter = 60;
    RunResult r = RunMorlink(sSetup);
    for (auto& dev : devices)
        dev->Finish();
    reset->Finish();
    silent->Finish();
    EXPECT_TRUE(r.bExited);

    // The joblog: a header, then one line a job; its seventh column is the exit value.
    std::istringstream log(ReadFile(dir.Path("fleet.log")));
    std::string sLine;
    std::getline(log, sLine);
    std::multiset<int> exits;
    while (std::getline(log, sLine)) {
        std::vector<std::string> columns;
        std::istringstream line(sLine);
        for (std::string sColumn; std::getline(line, sColumn, '\t');)
            columns.push_back(sColumn);
        ASSERT_GE(columns.size(), 9u) << sLine;
        exits.insert(std::stoi(columns[6]));
    }
    EXPECT_EQ(exits, (std::multiset<int>{0, 0, 0, 0, 0, 1, 251, 252}));

    const std::vector<RecordFields> records = ParseRecords(ReadFile(dir.Path("results.json")));
    ASSERT_EQ(records.size(), 8u);
    std::set<std::string> ports;
    for (const RecordFields& record : records) {
        const std::string sPort = RecordField(record, "port");
        ASSERT_EQ(expected.count(sPort), 1u) << sPort;
        EXPECT_EQ(RecordField(record, "status"), std::to_string(expected[sPort].first)) << sPort;
        EXPECT_EQ(RecordField(record, "result"), expected[sPort].second) << sPort;
        ports.insert(sPort);
    }
    EXPECT_EQ(ports.size(), 8u);
    for (const auto& dev : devices) {
        EXPECT_EQ(dev->connections.size(), 1u);
        EXPECT_TRUE(dev->connections.at(0) == job) << "device on port " << dev->TcpPort();
    }
    EXPECT_TRUE(silent->connections.at(0) == job);
}

}  // namespace
