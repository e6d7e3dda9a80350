// pakwrap file store: the input wrapped in the device commands that store it.
#pragma once

#include "pakwrap.h"
#include "system.h"

// Writes the file-store header, the input unchanged through sBlock, and the
// restart command when asked for. Returns the exit status of the run.
int StoreFile(const Files& sFiles, const PakRun& sRun, const Block& sBlock);
