// The frame builder.
#include "frame.h"

#include <cstdio>

#include "settings.h"

int BuildFrame(unsigned char* pucBuf, int size, const char* pcText)
{
    // Room for the start and end characters and the NUL.
    const int iTextMax = size - 3;
    int n = std::snprintf(reinterpret_cast<char*>(pucBuf) + 1, static_cast<std::size_t>(iTextMax + 1), "%s", pcText);
    if (n > iTextMax)
        n = iTextMax;
    pucBuf[0] = static_cast<unsigned char>(lk_cSOH);
    pucBuf[1 + n] = static_cast<unsigned char>(lk_cETB);
    pucBuf[2 + n] = '\0';
    return n + 2;
}
