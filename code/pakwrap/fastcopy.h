// Copying the rest of one file into another inside the kernel, where it can.
#pragma once

// Copies from the current offset of iIn to that of iOut until the input ends.
// True when all of it was copied; false when the kernel could not (or failed
// part way): the offsets then stand after what was copied, and the caller
// goes on with reads and writes of its own, which report any real failure.
bool CopyRest(int iIn, int iOut);
