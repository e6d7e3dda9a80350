// CRC-32 (reflected polynomial 0xEDB88320). Callers start from 0xFFFFFFFF,
// chain the result through every block and invert it once at the end.
#pragma once

#include <cstdint>

extern const std::uint32_t ulCrc32Table[256];

// Continues ulCrc over iDataLength bytes; a length of zero or below changes nothing.
std::uint32_t Crc32(const unsigned char* pucData, int iDataLength, std::uint32_t ulCrc);
