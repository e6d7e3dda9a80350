// pakwrap command line: argument checks, custom header record, mode selection.
#pragma once

#include "pakwrap.h"

void helptext();

// Checks the arguments, fills the settings and announces the run.
// Returns -1 when the run goes on, else the exit status to end with.
int ParseCommandLine(int argc, char** argv, PakRun* psRun);
