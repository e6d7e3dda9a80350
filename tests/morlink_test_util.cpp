#include "morlink_test_util.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
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

// PATH and LANG=C, then the spec's variables (a later one of the same name wins),
// and the sanitizer settings of the test's own environment.
std::vector<std::string> Environment(const RunSpec& sSpec)
{
    std::vector<std::string> vEnv = {"PATH=/usr/bin:/bin", "LANG=C"};
    for (const char* pcName : {"ASAN_OPTIONS", "UBSAN_OPTIONS"})
        if (const char* pcValue = std::getenv(pcName))
            vEnv.push_back(std::string(pcName) + "=" + pcValue);
    for (const std::string& sVar : sSpec.env) {
        std::string sName = sVar.substr(0, sVar.find('=') + 1);
        std::erase_if(vEnv, [&](const std::string& s) { return s.rfind(sName, 0) == 0; });
        vEnv.push_back(sVar);
    }
    return vEnv;
}

// Child side of RunMorlink: only async-signal-safe calls from here on.
[[noreturn]] void StartChild(const RunSpec& sSpec, int fdIn, int fdOut, int fdErr,
                             const char* pcPath, char** ppcArgv, char** ppcEnv)
{
    if (!sSpec.cwd.empty() && chdir(sSpec.cwd.c_str()) != 0)
        _exit(126);
    dup2(fdIn, 0);
    dup2(fdOut, 1);
    dup2(fdErr, 2);
    if (sSpec.bCloseStdin)
        close(0);
    if (sSpec.bCloseStderr)
        close(2);
    execve(pcPath, ppcArgv, ppcEnv);
    _exit(127);
}

}  // namespace

std::string MorlinkPath()
{
    return MORLINK_BIN;
}

std::string MorlinkDir()
{
    return std::filesystem::path(MORLINK_BIN).parent_path().string();
}

SenderProcess::SenderProcess(const RunSpec& sSpec)
{
    char pcTemplate[] = "/tmp/morlink-run-XXXXXX";
    if (mkdtemp(pcTemplate) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_dirIo = pcTemplate;
    std::ofstream(m_dirIo + "/in", std::ios::binary) << sSpec.input;
    int fdIn = open((m_dirIo + "/in").c_str(), O_RDONLY | O_CLOEXEC);
    int fdOut = open((m_dirIo + "/out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    int fdErr = open((m_dirIo + "/err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fdIn < 0 || fdOut < 0 || fdErr < 0)
        throw std::runtime_error("cannot open the run's files");

    std::string sPath = MorlinkPath();
    std::vector<std::string> vArgs = {sSpec.argv0.empty() ? sPath : sSpec.argv0};
    vArgs.insert(vArgs.end(), sSpec.args.begin(), sSpec.args.end());
    std::vector<std::string> vEnv = Environment(sSpec);
    std::vector<char*> vArgv = CStrings(vArgs);
    std::vector<char*> vEnvp = CStrings(vEnv);

    m_pid = fork();
    if (m_pid == 0)
        StartChild(sSpec, fdIn, fdOut, fdErr, sPath.c_str(), vArgv.data(), vEnvp.data());
    close(fdIn);
    close(fdOut);
    close(fdErr);
    if (m_pid < 0)
        throw std::runtime_error("fork failed");
}

RunResult SenderProcess::Wait()
{
    int iWait = 0;
    while (waitpid(m_pid, &iWait, 0) < 0) {
    }
    RunResult sResult;
    sResult.bExited = WIFEXITED(iWait);
    sResult.iStatus = sResult.bExited ? WEXITSTATUS(iWait) : WTERMSIG(iWait);
    sResult.out = ReadFile(m_dirIo + "/out");
    sResult.err = ReadFile(m_dirIo + "/err");
    std::error_code ec;
    std::filesystem::remove_all(m_dirIo, ec);
    return sResult;
}

RunResult RunMorlink(const RunSpec& sSpec)
{
    return SenderProcess(sSpec).Wait();
}

ScratchDir::ScratchDir()
{
    std::string sTemplate = std::filesystem::temp_directory_path().string() + "/morlink-test-XXXXXX";
    if (mkdtemp(sTemplate.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_dir = sTemplate;
}

ScratchDir::~ScratchDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
}

std::string ScratchDir::Write(const std::string& name, const std::string& data) const
{
    std::string sPath = Path(name);
    std::filesystem::create_directories(std::filesystem::path(sPath).parent_path());
    std::ofstream(sPath, std::ios::binary) << data;
    return sPath;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

bool FileExists(const std::string& path)
{
    return std::filesystem::exists(path);
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
