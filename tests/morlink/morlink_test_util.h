// Helpers for the morlink suites: running the real binary as a user would
// (over the common runner), a scratch directory, and hand-built inputs.
#pragma once

#include "run_process.h"
#include "scratch_dir.h"

#include <string>
#include <vector>

// A user without privileges to run the sender as: nobody, with a copy of the
// program that it can reach, when the tests run as root, else the tests' own
// user. False when there is none.
bool UnprivilegedUser(RunSetup* psSetup);

// A standard input without end, as RunSetup::stdinPath: a run with it ends by
// a fault, a signal or an answer, never by running out of data before the
// device has done what the test has it do.
inline const std::string kEndlessInput = "/dev/zero";

// A run of the sender in the background, started by the constructor.
using SenderProcess = ChildProcess;

RunResult RunMorlink(const RunSetup& sSetup);

std::string MorlinkPath();

// Fresh settings from a command line (args after argv[0]), as the sender gets
// them; the arguments stay until the next call, since the settings may point
// into them.
void ParseArgs(const std::vector<std::string>& args);

// Every byte value 0..255, iRounds times, odd rounds descending.
std::string AllByteValues(int iRounds);
