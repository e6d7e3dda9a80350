// Running a program under test as a user would: arguments, standard input,
// environment, user and a time limit; its status, both outputs and its times.
// Both programs' suites use it; each suite says which program it tests
// (ProgramUnderTest).
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

// How to start the program. A morlink run names -s127.0.0.1 (or selects the
// serial link), so nothing leaves the host.
struct RunSetup {
    std::vector<std::string> args;  // after argv[0]
    std::string input;              // standard input
    std::string stdinPath;          // else standard input opened from this path
    std::string stderrPath;         // standard error to this path (a terminal), not kept
    std::vector<std::string> env;   // over PATH and LANG=C
    std::string argv0;              // empty: the binary's full path
    std::string cwd;                // empty: the test's own
    bool bCloseStdin = false;
    bool bCloseStderr = false;
    double dKillAfter = 60;  // seconds; a run still going then is killed
    std::string program;     // empty: the program under test
    int iUid = -1;           // run as this user (and its group), from root
    int iGid = -1;
};

struct RunResult {
    bool bExited = false;  // false: ended by a signal
    int iStatus = -1;      // exit status, or the signal number
    std::string out;
    std::string err;
    double dWall = 0;  // seconds from start to end
    double dCpu = 0;   // user and system seconds used
};

// The binary that RunSetup::program stands for when empty; each suite
// defines it.
std::string ProgramUnderTest();

// A run in the background, started by the constructor.
class ChildProcess {
public:
    explicit ChildProcess(const RunSetup& sSetup);
    RunResult Wait();
    void Signal(int iSignal);
    int Pid() const { return m_pid; }

private:
    std::string m_dirIo;
    int m_pid = -1;
    double m_dKillAfter = 60;
    std::chrono::steady_clock::time_point m_tStart;
};

RunResult RunProcess(const RunSetup& sSetup);
// The program under test with these arguments and this standard input; a run
// ended by a signal fails the test.
RunResult RunArgs(const std::vector<std::string>& args, const std::string& input = "");

// argv and envp for exec: pointers into v, then a null pointer.
std::vector<char*> CStrings(std::vector<std::string>& v);

std::string ReadFile(const std::string& path);

// Deterministic pseudo-random bytes.
std::string Noise(std::size_t n, unsigned int uiSeed);
