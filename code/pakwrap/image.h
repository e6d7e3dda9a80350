// pakwrap image conversion: the CRC, the total length and the destination
// address stamped into an image, or a header put in front of it.
#pragma once

#include "pakwrap.h"
#include "system.h"

// Converts the input of an image or font mode through sBlock. Returns the
// exit status of the run.
int ConvertImage(const Files& sFiles, const PakRun& sRun, const Block& sBlock);
