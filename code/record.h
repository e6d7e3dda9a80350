// -j: the result record of a run, one line of JSON that a script or a runner
// of many jobs reads instead of the messages. The run sequence hands over its
// facts once, at the end that morlink reaches itself (never from a signal);
// the record is appended to the -j file or, with no file name, written as the
// last line of standard error.
#pragma once

#include <cstddef>
#include <cstdint>

// The clock of "seconds": called first thing in main.
void RecordStart(void);

// The message printed for the run's ending, without its line end, as printed
// (translated). From either thread; the last one counts.
void RecordMessage(const char* pcText);

// Opens the -j file for appending, when -j names one: false when it cannot
// be opened (the last error tells).
bool RecordOpen(void);
// The -j file's descriptor, -1 while none is open.
int RecordFile(void);
// The -j file may not be used (it is another file of the run): the record
// goes to standard error.
void RecordRefuse(void);

// The run writes no record: the usage text or the version.
void RecordNone(void);

// True when the run ends with a record: -j was given, and not RecordNone.
bool RecordWanted(void);

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

// Writes the record of a run that ends with sFields.iStatus, with the
// message and the time filled in here: to the -j file, or to standard error
// when -j names none or the file is refused or cannot be opened. A record
// that cannot be written leaves a line on standard error.
void RecordWrite(RecordFields sFields);

// The longest part of each text field that goes into a record.
constexpr std::size_t RECORD_TEXT_MAX = 4096;
// Room for a whole record, every text field at its longest and escaped.
constexpr std::size_t RECORD_SIZE = 3 * 6 * RECORD_TEXT_MAX + 1024;

// The record as one line, line end included, into pcBuf (RECORD_SIZE bytes):
// its length.
int RecordFormat(char* pcBuf, const RecordFields& sFields);
