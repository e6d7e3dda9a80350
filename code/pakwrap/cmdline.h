// pakwrap command line: argument checks, custom header record, mode selection.
#pragma once

#include "pakwrap.h"

// Checks the arguments and fills *psRun with what the run does; prints
// nothing. False when the command line is rejected.
bool ParseCommandLine(int argc, char** argv, PakRun* psRun);
