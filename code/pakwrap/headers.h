// Image header layouts: recognising the kind of an image and filling its fields.
#pragma once

#include <cstdint>

enum class ImageKind {
    Unknown,
    Sh2,
    Sh3,
    Atmel,
    Slic
};

constexpr uint32_t SH2_MIN_LEN = 212;  // an SH2 image holds its CRC at 208 to 211

// Kind of the image that begins with the iLen bytes at pucBlock; bytes beyond
// iLen never match. For an SH2 image *pulHeaderLen is set from bytes 4 to 7.
ImageKind RecogniseKind(const unsigned char* pucBlock, int iLen, uint32_t* pulHeaderLen);

// Writes the CRC, total length and destination address (NO_ADDRESS for none)
// into the first block of an image of kind eKind.
void StampBlock(unsigned char* pucBlock, ImageKind eKind, uint32_t ulCRC, uint32_t ulTotallen, uint32_t uiDestAddr);

void PutBigEndian(unsigned char* pucField, uint32_t ulValue);
void PutLittleEndian(unsigned char* pucField, uint32_t ulValue);
