// Everything pakwrap prints, on standard output: the help text, the run's
// announcements, the CRC report, what verifying found, and the failures.
#pragma once

#include <cstdint>

#include "pakwrap.h"
#include "verify.h"

// The help text shown for a rejected command line and for --help.
void PrintHelp();

// The version line, for --version.
void PrintVersion();

// What the run is about to do: the mode line, or the warning that a file
// store has no target name, then the custom header if there is one.
void AnnounceRun(const PakRun& sRun);

void ReportCrc(std::uint32_t ulCRC, std::uint32_t ulTotallen);
void ReportSameFile(const PakRun& sRun);
void ReportOpenFailed(const char* pcName);
void ReportWrongImage();
void ReportStoreWrite(int iWritten);

// A verified file, each line after pcIndent: its kind, the fields it shows,
// and each check with "ok" or "MISMATCH".
void ReportLayout(const LayoutCheck& sCheck, const char* pcIndent);
// The line before the lines of a stored file, which begins at llAt.
void ReportStoredFile(long long llAt);

// Report a failed read of the input or write of the output (with errno) and
// return PAK_FAILED.
int FailRead(const PakRun& sRun);
int FailWrite(const PakRun& sRun);
