// -j: the result record of a run, one line of JSON that a script or a runner
// of many jobs reads instead of the messages. It is written once, at the end
// that morlink reaches itself (EndProcess), appended to the -j file or, with
// no file name, as the last line of standard error.
#pragma once

#include <cstddef>
#include <cstdint>

// The clock of "seconds": called first thing in main.
void RecordStart(void);

// The message printed for the run's ending, without its line end, as printed
// (translated). From either thread; the last one counts.
void RecordMessage(const char* pcText);

// A line on standard error was left open (a debug dot) or ended; whether one
// is open. The record and the trace on standard error start a line of their own.
void RecordLineOpen(void);
void RecordLineClosed(void);
bool RecordLineIsOpen(void);

// -e: whether the device confirmed the job.
void RecordConfirmed(bool bConfirmed);

// Opens the -j file for appending, when -j names one: false when it cannot
// be opened (the last error tells); the record then goes to standard error.
bool RecordOpen(void);
// The -j file's descriptor, -1 while none is open.
int RecordFile(void);
// The -j file may not be used (it is another file of the run): the record
// goes to standard error.
void RecordRefuse(void);

// The run writes no record: the usage text or the version.
void RecordNone(void);

// Writes the record of a run that ends with iStatus, once, when -j was given.
// A record that cannot be written leaves a line on standard error.
void RecordEnd(int iStatus);

// The record's fields. Null strings and negative numbers stand for null.
struct RecordFields {
    const char* pcLink;
    const char* pcDevice;
    int iPort;
    const char* pcInput;
    std::uint64_t ullSent;
    std::uint64_t ullFrames;
    std::uint64_t ullReceived;
    std::uint64_t ullWritten;
    std::uint64_t ullMilliseconds;
    int iStatus;
    const char* pcMessage;
    int iConfirmed;  // 1 true, 0 false, -1 null
};

// The longest part of each text field that goes into a record.
constexpr std::size_t RECORD_TEXT_MAX = 4096;
// Room for a whole record, every text field at its longest and escaped.
constexpr std::size_t RECORD_SIZE = 3 * 6 * RECORD_TEXT_MAX + 1024;

// The record as one line, line end included, into pcBuf (RECORD_SIZE bytes):
// its length.
int RecordFormat(char* pcBuf, const RecordFields& sFields);
