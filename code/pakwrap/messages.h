// Everything pakwrap prints, on standard output: the help text, the run's
// announcements, the CRC report and the failures.
#pragma once

#include <cstdint>

#include "pakwrap.h"

// The help text shown for a rejected command line.
void PrintHelp();

// What the run is about to do: the mode line, or the warning that a file
// store has no target name, then the custom header if there is one.
void AnnounceRun(const PakRun& sRun);

void ReportCrc(std::uint32_t ulCRC, std::uint32_t ulTotallen);
void ReportSameFile(const PakRun& sRun);
void ReportOpenFailed(const char* pcName);
void ReportWrongImage();
void ReportStoreWrite(int iWritten);

// Report a failed read of the input or write of the output (with errno) and
// return PAK_FAILED.
int FailRead(const PakRun& sRun);
int FailWrite(const PakRun& sRun);
