#include "morlink_test_util.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace {

std::vector<char*> CStrings(std::vector<std::string>& v)
{
    std::vector<char*> vPtr;
    for (std::string& s : v)
        vPtr.push_back(s.data());
    vPtr.push_back(nullptr);
    return vPtr;
}

// PATH, LANG=C and the sanitizer settings, then the setup's variables, a later
// one replacing an earlier one of the same name.
std::vector<std::string> Environment(const RunSetup& sSetup)
{
    std::vector<std::string> vEnv = {"PATH=/usr/bin:/bin", "LANG=C"};
    for (const char* pcName : {"ASAN_OPTIONS", "UBSAN_OPTIONS"})
        if (const char* pcValue = std::getenv(pcName))
            vEnv.push_back(std::string(pcName) + "=" + pcValue);
    for (const std::string& sVar : sSetup.env) {
        std::string sName = sVar.substr(0, sVar.find('=') + 1);
        std::erase_if(vEnv, [&](const std::string& s) { return s.rfind(sName, 0) == 0; });
        vEnv.push_back(sVar);
    }
    return vEnv;
}

int OpenOrThrow(const std::string& path, int iFlags)
{
    int fd = open(path.c_str(), iFlags | O_CLOEXEC, 0600);
    if (fd < 0)
        throw std::runtime_error("cannot open " + path);
    return fd;
}

}  // namespace

SenderProcess::SenderProcess(const RunSetup& sSetup)
{
    char pcTemplate[] = "/tmp/morlink-run-XXXXXX";
    if (mkdtemp(pcTemplate) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_dirIo = pcTemplate;
    std::ofstream(m_dirIo + "/in", std::ios::binary) << sSetup.input;
    int fdIn = OpenOrThrow(sSetup.stdinPath.empty() ? m_dirIo + "/in" : sSetup.stdinPath, O_RDONLY);
    int fdOut = OpenOrThrow(m_dirIo + "/out", O_WRONLY | O_CREAT);
    int fdErr = sSetup.stderrPath.empty() ? OpenOrThrow(m_dirIo + "/err", O_WRONLY | O_CREAT)
                                          : OpenOrThrow(sSetup.stderrPath, O_WRONLY | O_NOCTTY);

    std::string sPath = sSetup.program.empty() ? MorlinkPath() : sSetup.program;
    std::vector<std::string> vArgs = {sSetup.argv0.empty() ? sPath : sSetup.argv0};
    vArgs.insert(vArgs.end(), sSetup.args.begin(), sSetup.args.end());
    std::vector<std::string> vEnv = Environment(sSetup);
    std::vector<char*> vArgv = CStrings(vArgs);
    std::vector<char*> vEnvp = CStrings(vEnv);

    m_dKillAfter = sSetup.dKillAfter;
    m_tStart = std::chrono::steady_clock::now();
    m_pid = fork();
    if (m_pid == 0) {
        // Only async-signal-safe calls in the child.
        if (!sSetup.cwd.empty() && chdir(sSetup.cwd.c_str()) != 0)
            _exit(126);
        dup2(fdIn, 0);
        dup2(fdOut, 1);
        dup2(fdErr, 2);
        if (sSetup.bCloseStdin)
            close(0);
        if (sSetup.bCloseStderr)
            close(2);
        // A run ended by a signal that dumps core (SIGQUIT) leaves no core file.
        const rlimit sNoCore = {0, 0};
        setrlimit(RLIMIT_CORE, &sNoCore);
        if (sSetup.iUid >= 0 && (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(sSetup.iGid)) != 0 ||
                                 setuid(static_cast<uid_t>(sSetup.iUid)) != 0))
            _exit(126);
        execve(sPath.c_str(), vArgv.data(), vEnvp.data());
        _exit(127);
    }
    close(fdIn);
    close(fdOut);
    close(fdErr);
    if (m_pid < 0)
        throw std::runtime_error("fork failed");
}

RunResult SenderProcess::Wait()
{
    int iWait = 0;
    rusage sUsage{};
    auto tLimit = m_tStart + std::chrono::duration<double>(m_dKillAfter);
    while (wait4(m_pid, &iWait, WNOHANG, &sUsage) != m_pid) {
        if (std::chrono::steady_clock::now() > tLimit)
            kill(m_pid, SIGKILL);
        usleep(2000);
    }
    RunResult sResult;
    sResult.dWall = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_tStart).count();
    sResult.dCpu = static_cast<double>(sUsage.ru_utime.tv_sec + sUsage.ru_stime.tv_sec) +
                   static_cast<double>(sUsage.ru_utime.tv_usec + sUsage.ru_stime.tv_usec) / 1e6;
    sResult.bExited = WIFEXITED(iWait);
    sResult.iStatus = sResult.bExited ? WEXITSTATUS(iWait) : WTERMSIG(iWait);
    sResult.out = ReadFile(m_dirIo + "/out");
    sResult.err = ReadFile(m_dirIo + "/err");
    std::filesystem::remove_all(m_dirIo);
    return sResult;
}

void SenderProcess::Signal(int iSignal)
{
    kill(m_pid, iSignal);
}

RunResult RunMorlink(const RunSetup& sSetup)
{
    return SenderProcess(sSetup).Wait();
}

RunResult RunArgs(const std::vector<std::string>& args, const std::string& input)
{
    RunSetup sSetup;
    sSetup.args = args;
    sSetup.input = input;
    return RunMorlink(sSetup);
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

std::string MorlinkPath()
{
    return MORLINK_BIN;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

std::string AllByteValues(int iRounds)
{
    std::string s;
    for (int r = 0; r < iRounds; ++r)
        for (int i = 0; i < 256; ++i)
            s.push_back(static_cast<char>(r % 2 ? 255 - i : i));
    return s;
}

std::string Noise(std::size_t n, unsigned int uiSeed)
{
    std::string s(n, '\0');
    for (char& c : s) {
        uiSeed = uiSeed * 1664525u + 1013904223u;
        c = static_cast<char>(uiSeed >> 24);
    }
    return s;
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

std::vector<TraceRecord> ParseTrace(const std::string& text, std::string* pErrors, bool bOthers)
{
    static const std::regex header("(0|[1-9][0-9]*)\\.([0-9]{6}) (send|recv) (0|[1-9][0-9]*)");
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    if (!text.empty() && text.back() != '\n')
        *pErrors += "no line end at the end\n";
    std::vector<TraceRecord> records;
    std::smatch m;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!std::regex_match(lines[i], m, header)) {
            if (!bOthers)
                *pErrors += "not a header: " + lines[i] + "\n";
            continue;
        }
        TraceRecord sRecord;
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

std::string TraceBytes(const std::vector<TraceRecord>& records, bool bSend)
{
    std::string bytes;
    for (const TraceRecord& sRecord : records)
        if (sRecord.bSend == bSend)
            bytes += sRecord.data;
    return bytes;
}
