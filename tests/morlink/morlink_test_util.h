// Helpers for the morlink suites: running the real binary as a user would
// (over the common runner), a scratch directory, and hand-built inputs.
#pragma once

#include "run_process.h"
#include "scratch_dir.h"

#include <cstdint>
#include <string>
#include <utility>
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

// The sender with its standard error in a pipe that nobody reads for
// dHeldSeconds, then is read to its end in reads of at most iChunk bytes, a
// millisecond apart: a slow reader, as a terminal or a pager may be. Its text
// is the result's err.
RunResult RunWithSlowStderr(RunSetup sSetup, double dHeldSeconds, std::size_t uChunk = 65536);

std::string MorlinkPath();

// Fresh settings from a command line (args after argv[0]), as the sender gets
// them; the arguments stay until the next call, since the settings may point
// into them.
void ParseArgs(const std::vector<std::string>& args);

// Every byte value 0..255, iRounds times, odd rounds descending.
std::string AllByteValues(int iRounds);

// Result records (-j), one a line of text, as Python's json module reads them
// (the text strictly UTF-8): each record's fields in their order, each value
// as JSON with every character beyond ASCII escaped. Empty when any line does
// not parse.
using RecordFields = std::vector<std::pair<std::string, std::string>>;
std::vector<RecordFields> ParseRecords(const std::string& text);
// The value of a field as ParseRecords gives it; "" when there is none.
std::string RecordField(const RecordFields& record, const std::string& sName);
// The last line of a text that ends with a line end, with that line end.
std::string LastLine(const std::string& text);

// One record of a trace (-f): its time in microseconds, direction and bytes.
struct TraceEntry {
    std::uint64_t ullMicros = 0;
    bool bSend = false;
    std::string data;
};

// The records of a trace, each checked against its layout: a header line
// "<seconds>.<6 digits> <send|recv> <count>", then the bytes in lines of 16
// laid out as hexdump -C lays out one line. A line that breaks the layout is
// named in *pErrors; with bOthers, lines outside the records (what else
// standard error shows) are passed over.
std::vector<TraceEntry> ParseTrace(const std::string& text, std::string* pErrors, bool bOthers = false);
// The bytes of the send records (bSend) or of the receive records, joined.
std::string TraceBytes(const std::vector<TraceEntry>& records, bool bSend);
