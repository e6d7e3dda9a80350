// Command frames that morlink sends itself: the start character lk_cSOH, a
// command text, the end character lk_cETB.
#pragma once

// Builds the frame of pcText into pucBuf, which holds size bytes (at least 3),
// followed by a NUL that is not part of it. A text too long for the buffer is
// cut, so that the frame still ends with its end character. Returns the
// frame's length.
int BuildFrame(unsigned char* pucBuf, int size, const char* pcText);
