// Helpers for the morlink suites: running the real binary as a user would, a
// scratch directory, and hand-built inputs.
#pragma once

#include "scratch_dir.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// How to start the sender. Every run names -s127.0.0.1 (or selects the serial
// link), so nothing leaves the host.
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
    std::string program;     // empty: the binary under test
    int iUid = -1;           // run as this user (and its group), from root
    int iGid = -1;
};

// A user without privileges to run the sender as: nobody, with a copy of the
// program that it can reach, when the tests run as root, else the tests' own
// user. False when there is none.
bool UnprivilegedUser(RunSetup* psSetup);

struct RunResult {
    bool bExited = false;  // false: ended by a signal
    int iStatus = -1;      // exit status, or the signal number
    std::string out;
    std::string err;
    double dWall = 0;  // seconds from start to end
    double dCpu = 0;   // user and system seconds used
};

// A standard input without end, as RunSetup::stdinPath: a run with it ends by
// a fault, a signal or an answer, never by running out of data before the
// device has done what the test has it do.
inline const std::string kEndlessInput = "/dev/zero";

// A run of the sender in the background, started by the constructor.
class SenderProcess {
public:
    explicit SenderProcess(const RunSetup& sSetup);
    RunResult Wait();
    void Signal(int iSignal);
    int Pid() const { return m_pid; }

private:
    std::string m_dirIo;
    int m_pid = -1;
    double m_dKillAfter = 60;
    std::chrono::steady_clock::time_point m_tStart;
};

RunResult RunMorlink(const RunSetup& sSetup);
RunResult RunArgs(const std::vector<std::string>& args, const std::string& input = "");

std::string MorlinkPath();

std::string ReadFile(const std::string& path);

// Every byte value 0..255, iRounds times, odd rounds descending.
std::string AllByteValues(int iRounds);
// Deterministic pseudo-random bytes.
std::string Noise(std::size_t n, unsigned int uiSeed);

// One record of a trace (-f): its time in microseconds, direction and bytes.
struct TraceRecord {
    std::uint64_t ullMicros = 0;
    bool bSend = false;
    std::string data;
};

// The records of a trace, each checked against its layout: a header line
// "<seconds>.<6 digits> <send|recv> <count>", then the bytes in lines of 16
// laid out as hexdump -C lays out one line. A line that breaks the layout is
// named in *pErrors; with bOthers, lines outside the records (what else
// standard error shows) are passed over.
std::vector<TraceRecord> ParseTrace(const std::string& text, std::string* pErrors, bool bOthers = false);
// The bytes of the send records (bSend) or of the receive records, joined.
std::string TraceBytes(const std::vector<TraceRecord>& records, bool bSend);
