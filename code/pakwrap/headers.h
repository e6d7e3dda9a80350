// Header layouts, every offset and size of them: the kinds of image told apart
// by their first bytes and the fields stamped into them, the custom header
// record, the font header and the file-store header put in front of an input,
// and the restart command after it.
#pragma once

#include <cstdint>

enum class ImageKind {
    Unknown,
    Sh2,
    Sh3,
    Atmel,
    Slic
};

constexpr std::uint32_t NO_ADDRESS = 0xFFFFFFFF;  // no destination address to stamp

constexpr int TAGGED_HEADER_LEN = 148;                // header of an SH3, Atmel or SLIC image
constexpr int CUSTOM_HEADER_LEN = TAGGED_HEADER_LEN;  // custom record: a tagged header made by hand
constexpr int CUSTOM_NUMBER_COUNT = 3;                // numbers the custom record holds after its CRC
constexpr int FONT_HEADER_LEN = 4;                    // font header: the CRC alone
constexpr int TARGET_NAME_MAX = 260;                  // file-store target name with its NUL

// The command that restarts the device after a stored file.
constexpr unsigned char RESTART_COMMAND[] = {0x01, 'F', 'U', '-', '-', '-', '-', 'r', 'N', 0x17};

// Kind of the image that begins with the iLen bytes at pucBlock; bytes beyond
// iLen never match. For an SH2 image *pulHeaderLen is set from bytes 4 to 7;
// the tagged kinds leave it alone.
ImageKind RecogniseKind(const unsigned char* pucBlock, int iLen, std::uint32_t* pulHeaderLen);

// True when an image of kind eKind and llSize bytes, whose header is
// ulHeaderLen bytes long, holds the fields StampBlock writes into it.
bool HoldsStampedFields(ImageKind eKind, long long llSize, std::uint32_t ulHeaderLen);

// Writes the CRC, total length and destination address (NO_ADDRESS for none)
// into the first block of an image of kind eKind (Sh2 or a tagged kind).
void StampBlock(unsigned char* pucBlock, ImageKind eKind, std::uint32_t ulCRC, std::uint32_t ulTotallen,
                std::uint32_t ulDestAddr);

// Fills the CUSTOM_HEADER_LEN bytes at pucRecord: the three characters at
// pcTag, the numbers, and as much of pcText as its field holds; the rest zero.
void MakeCustomHeader(unsigned char* pucRecord, const char* pcTag, const std::uint32_t* pulNumbers, const char* pcText);

// Writes the CRC into a custom record made by MakeCustomHeader.
void StampCustomHeader(unsigned char* pucRecord, std::uint32_t ulCRC);

// Fills the FONT_HEADER_LEN bytes at pucHeader.
void MakeFontHeader(unsigned char* pucHeader, std::uint32_t ulCRC);

// Writes the file-store header for a file of llSize bytes stored as pcTarget
// to the iSize bytes at pcBuf, as snprintf does; returns its length.
int MakeStoreHeader(char* pcBuf, int iSize, const char* pcTarget, long long llSize);
