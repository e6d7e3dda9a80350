// pakwrap command line: argument checks, custom header record, mode selection.
#pragma once

#include "pakwrap.h"

// What a command line of one long option asks for.
enum class PakAsk {
    Run,      // anything else: a run (or a rejected command line)
    Help,     // pakwrap --help
    Version,  // pakwrap --version
};

// --help or --version as the only argument; as one of several arguments they
// are file names like any other.
PakAsk LongOption(int argc, char** argv);

// Checks the arguments and fills *psRun with what the run does; prints
// nothing. False when the command line is rejected.
bool ParseCommandLine(int argc, char** argv, PakRun* psRun);
