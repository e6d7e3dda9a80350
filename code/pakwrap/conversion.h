// pakwrap conversion: opens both files and writes the output of the selected
// mode, or verifies the input.
#pragma once

#include "pakwrap.h"

constexpr int BLOCK_SIZE = 50000;

// Returns the exit status of the run.
int ConvertFile(const PakRun& sRun);
