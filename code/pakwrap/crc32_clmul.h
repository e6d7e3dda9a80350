// CRC-32 by carry-less multiplication, for processors that have it.
#pragma once

#include <cstddef>
#include <cstdint>

// True when this processor can run Crc32Clmul.
bool Crc32ClmulAvailable();

// Continues ulCrc over uLen bytes; uLen is at least 64 and a multiple of 16.
std::uint32_t Crc32Clmul(const unsigned char* pucData, std::size_t uLen, std::uint32_t ulCrc);
