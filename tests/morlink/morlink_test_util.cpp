#include "morlink_test_util.h"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <stdexcept>
#include <thread>

#include "options.h"
#include "settings.h"

std::string ProgramUnderTest()
{
    return MORLINK_BIN;
}

RunResult RunMorlink(const RunSetup& sSetup)
{
    return RunProcess(sSetup);
}

bool UnprivilegedUser(RunSetup* psSetup)
{
    if (geteuid() != 0)
        return true;
    const passwd* psUser = getpwnam("nobody");
    if (psUser == nullptr)
        return false;
    // A copy of the program that the user can reach wherever the build tree
    // lies (below /root, or a private temporary folder, it cannot).
    static ScratchDir s_dir;
    const std::string sCopy = s_dir.Path("morlink");
    std::error_code ec;
    std::filesystem::copy_file(MorlinkPath(), sCopy, std::filesystem::copy_options::overwrite_existing, ec);
    if (ec || chmod(s_dir.Dir().c_str(), 0755) != 0 || chmod(sCopy.c_str(), 0755) != 0)
        return false;
    psSetup->program = sCopy;
    psSetup->iUid = static_cast<int>(psUser->pw_uid);
    psSetup->iGid = static_cast<int>(psUser->pw_gid);
    return true;
}

RunResult RunWithSlowStderr(RunSetup sSetup, double dHeldSeconds, std::size_t uChunk)
{
    char pcBuf[65536];
    ScratchDir dir;
    sSetup.stderrPath = dir.Path("stderr.fifo");
    if (mkfifo(sSetup.stderrPath.c_str(), 0600) != 0)
        throw std::runtime_error("mkfifo failed");
    // Open first without waiting for a writer, so that the sender's open
    // finds a reader; reads wait from then on.
    const int fd = open(sSetup.stderrPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || fcntl(fd, F_SETFL, 0) != 0)
        throw std::runtime_error("cannot open the pipe of standard error");
    // A slow reader keeps the pipe at its smallest, so that a long write
    // waits for room most of the time.
    if (uChunk < sizeof(pcBuf) && fcntl(fd, F_SETPIPE_SZ, 4096) < 0)
        throw std::runtime_error("cannot shrink the pipe of standard error");
    ChildProcess sender(sSetup);
    std::this_thread::sleep_for(std::chrono::duration<double>(dHeldSeconds));
    // Read to the end, or until the sender is due to be killed.
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::duration<double>(sSetup.dKillAfter);
    std::string err;
    pollfd sPoll = {fd, POLLIN, 0};
    while (std::chrono::steady_clock::now() < tEnd) {
        if (poll(&sPoll, 1, 500) <= 0)
            continue;
        const ssize_t n = read(fd, pcBuf, std::min(uChunk, sizeof pcBuf));
        if (n <= 0)
            break;
        err.append(pcBuf, static_cast<std::size_t>(n));
        if (uChunk < sizeof pcBuf)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    close(fd);
    RunResult r = sender.Wait();
    r.err = err;
    return r;
}

std::string MorlinkPath()
{
    return MORLINK_BIN;
}

std::string AllByteValues(int iRounds)
{
    std::string s;
    for (int r = 0; r < iRounds; ++r)
        for (int i = 0; i < 256; ++i)
            s.push_back(static_cast<char>(r % 2 ? 255 - i : i));
    return s;
}

void ParseArgs(const std::vector<std::string>& args)
{
    static std::vector<std::string> s_args;
    static std::vector<char*> s_argv;
    s_args = {"morlink"};
    s_args.insert(s_args.end(), args.begin(), args.end());
    s_argv = CStrings(s_args);  // argv[argc] is a null pointer, as for main
    InitSettings();
    ParseOptions(static_cast<int>(s_args.size()), s_argv.data());
}

namespace {

// Reads records from standard input; prints each field as name TAB value,
// and an empty line after each record.
constexpr const char* kRecordParser = R"(import json, sys
text = sys.stdin.buffer.read().decode("utf-8")
for line in text.split("\n"):
    if line:
        for name, value in json.loads(line, object_pairs_hook=lambda pairs: pairs):
            print(name + "\t" + json.dumps(value))
        print()
)";

}  // namespace

std::vector<RecordFields> ParseRecords(const std::string& text)
{
    RunSetup sSetup;
    sSetup.program = "/usr/bin/python3";
    sSetup.args = {"-c", kRecordParser};
    sSetup.input = text;
    const RunResult r = RunProcess(sSetup);
    std::vector<RecordFields> records;
    if (r.iStatus != 0 || !r.err.empty())
        return records;
    RecordFields record;
    std::size_t iStart = 0;
    for (std::size_t iEnd; (iEnd = r.out.find('\n', iStart)) != std::string::npos; iStart = iEnd + 1) {
        const std::string sLine = r.out.substr(iStart, iEnd - iStart);
        const std::size_t iTab = sLine.find('\t');
        if (iTab == std::string::npos) {
            records.push_back(record);
            record.clear();
        } else {
            record.emplace_back(sLine.substr(0, iTab), sLine.substr(iTab + 1));
        }
    }
    return records;
}

std::string RecordField(const RecordFields& record, const std::string& sName)
{
    for (const auto& [sKey, sValue] : record)
        if (sKey == sName)
            return sValue;
    return "";
}

std::string LastLine(const std::string& text)
{
    if (text.size() < 2)
        return text;
    const std::size_t iStart = text.rfind('\n', text.size() - 2);
    return iStart == std::string::npos ? text : text.substr(iStart + 1);
}

namespace {

// The data line of up to 16 bytes at uOffset in a record, by the rule: the
// offset in 8 hex digits, two blanks, each byte in hex and a blank, one more
// blank after the 8th, blanks for missing bytes, a blank, then the
// characters between '|' ('.' for any byte outside 0x20-0x7e).
std::string TraceLine(std::size_t uOffset, const std::string& bytes)
{
    static const char pcHex[] = "0123456789abcdef";
    std::string s;
    for (int iShift = 28; iShift >= 0; iShift -= 4)
        s += pcHex[(uOffset >> iShift) & 0xF];
    s += ' ';
    for (std::size_t i = 0; i < 16; ++i) {
        s += i % 8 == 0 ? " " : "";
        const auto uc = i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0;
        s += i < bytes.size() ? std::string{pcHex[uc >> 4], pcHex[uc & 0xF], ' '} : "   ";
    }
    s += " |";
    for (char c : bytes)
        s += c >= 0x20 && c <= 0x7E ? c : '.';
    return s + "|";
}

// The n bytes that a data line shows in its hex columns.
std::string TraceLineBytes(const std::string& line, std::size_t n)
{
    std::string bytes;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t uAt = 10 + 3 * i + (i >= 8 ? 1 : 0);
        bytes += static_cast<char>(std::stoi(line.substr(uAt, 2), nullptr, 16));
    }
    return bytes;
}

}  // namespace

std::vector<TraceEntry> ParseTrace(const std::string& text, std::string* pErrors, bool bOthers)
{
    static const std::regex header("(0|[1-9][0-9]*)\\.([0-9]{6}) (send|recv) (0|[1-9][0-9]*)");
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    if (!text.empty() && text.back() != '\n')
        *pErrors += "no line end at the end\n";
    std::vector<TraceEntry> records;
    std::smatch m;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!std::regex_match(lines[i], m, header)) {
            if (!bOthers)
                *pErrors += "not a header: " + lines[i] + "\n";
            continue;
        }
        TraceEntry sRecord;
        sRecord.ullMicros = std::stoull(m[1]) * 1000000 + std::stoull(m[2]);
        sRecord.bSend = m[3] == "send";
        const std::size_t uCount = std::stoull(m[4]);
        if (uCount > 4096)
            *pErrors += "record of more than 4096 bytes: " + lines[i] + "\n";
        if (!records.empty() && sRecord.ullMicros < records.back().ullMicros)
            *pErrors += "time goes back: " + lines[i] + "\n";
        while (sRecord.data.size() < uCount && ++i < lines.size()) {
            const std::size_t n = std::min<std::size_t>(16, uCount - sRecord.data.size());
            const std::string bytes = lines[i].size() == 62 + n ? TraceLineBytes(lines[i], n) : "";
            if (lines[i] != TraceLine(sRecord.data.size(), bytes)) {
                *pErrors += "not a data line of " + std::to_string(n) + " bytes: " + lines[i] + "\n";
                break;
            }
            sRecord.data += bytes;
        }
        if (sRecord.data.size() != uCount)
            *pErrors += "record cut short: " + m.str(0) + "\n";
        records.push_back(sRecord);
    }
    return records;
}

std::string TraceBytes(const std::vector<TraceEntry>& records, bool bSend)
{
    std::string bytes;
    for (const TraceEntry& sRecord : records)
        if (sRecord.bSend == bSend)
            bytes += sRecord.data;
    return bytes;
}
