// Whether two names lead to one file, each system by its own file identity.
#pragma once

// True when both files exist and are one file (the same name, a link, or
// another path to it). False when either cannot be examined.
bool SameFileIdentity(const char* pcFirst, const char* pcSecond);
