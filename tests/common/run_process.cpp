#include "run_process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

std::vector<char*> CStrings(std::vector<std::string>& v)
{
    std::vector<char*> vPtr;
    for (std::string& s : v)
        vPtr.push_back(s.data());
    vPtr.push_back(nullptr);
    return vPtr;
}

namespace {

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

ChildProcess::ChildProcess(const RunSetup& sSetup)
{
    char pcTemplate[] = "/tmp/test-run-XXXXXX";
    if (mkdtemp(pcTemplate) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_dirIo = pcTemplate;
    std::ofstream(m_dirIo + "/in", std::ios::binary) << sSetup.input;
    int fdIn = OpenOrThrow(sSetup.stdinPath.empty() ? m_dirIo + "/in" : sSetup.stdinPath, O_RDONLY);
    int fdOut = OpenOrThrow(m_dirIo + "/out", O_WRONLY | O_CREAT);
    int fdErr = sSetup.stderrPath.empty() ? OpenOrThrow(m_dirIo + "/err", O_WRONLY | O_CREAT)
                                          : OpenOrThrow(sSetup.stderrPath, O_WRONLY | O_NOCTTY);

    std::string sPath = sSetup.program.empty() ? ProgramUnderTest() : sSetup.program;
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

RunResult ChildProcess::Wait()
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

void ChildProcess::Signal(int iSignal)
{
    kill(m_pid, iSignal);
}

RunResult RunProcess(const RunSetup& sSetup)
{
    return ChildProcess(sSetup).Wait();
}

RunResult RunArgs(const std::vector<std::string>& args, const std::string& input)
{
    RunSetup sSetup;
    sSetup.args = args;
    sSetup.input = input;
    RunResult sResult = RunProcess(sSetup);
    EXPECT_TRUE(sResult.bExited) << ProgramUnderTest() << " ended by signal " << sResult.iStatus;
    return sResult;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
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
