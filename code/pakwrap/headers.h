// Header layouts, every offset and size of them: the kinds of image told apart
// by their first bytes and the fields stamped into them, the custom header
// record, the font header and the file-store header put in front of an input,
// and the restart command after it; each written, and read back.
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
constexpr int CUSTOM_TEXT_LEN = 128;                  // text field of the custom record
constexpr int FONT_HEADER_LEN = 4;                    // font header: the CRC alone
constexpr int TARGET_NAME_MAX = 260;                  // file-store target name with its NUL
constexpr int HEADER_FIELDS_LEN = 212;                // first bytes holding the fields of any image
constexpr int STORE_HEADER_MAX = 560;                 // longest file-store header

// The command that restarts the device after a stored file.
constexpr unsigned char RESTART_COMMAND[] = {0x01, 'F', 'U', '-', '-', '-', '-', 'r', 'N', 0x17};

// Kind of the image that begins with the iLen bytes at pucBlock; bytes beyond
// iLen never match. For an SH2 image *pulHeaderLen is set from bytes 4 to 7;
// the tagged kinds leave it alone.
ImageKind RecogniseKind(const unsigned char* pucBlock, int iLen, std::uint32_t* pulHeaderLen);

// True when the block begins with three characters other than NUL and a NUL:
// the tag of a tagged image or of a custom record.
bool HasAnyTag(const unsigned char* pucBlock, int iLen);

// The size an image of kind eKind, whose header is ulHeaderLen bytes long,
// needs for the fields StampBlock writes into it.
long long StampedFieldsNeed(ImageKind eKind, std::uint32_t ulHeaderLen);

// True when an image of kind eKind and llSize bytes, whose header is
// ulHeaderLen bytes long, holds the fields StampBlock writes into it.
bool HoldsStampedFields(ImageKind eKind, long long llSize, std::uint32_t ulHeaderLen);

// True when the CRC of an SH2 image can be checked: its header of ulHeaderLen
// bytes ends after the stamped fields, which the CRC then leaves out.
bool Sh2CrcCheckable(std::uint32_t ulHeaderLen);

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

// The fields of an image or custom record, read back from its first bytes.
struct HeaderFields {
    char acTag[4] = {};  // tagged kinds and the custom record
    std::uint32_t ulCRC = 0;
    std::uint32_t ulTotallen = 0;                        // SH2
    std::uint32_t ulDestAddr = 0;                        // SH2 and tagged kinds
    std::uint32_t aulNumbers[CUSTOM_NUMBER_COUNT] = {};  // custom record
    char acText[CUSTOM_TEXT_LEN + 1] = {};               // custom record
};

// Reads the fields of an image of kind eKind (a custom record for Unknown)
// from the first bytes at pucBlock, which hold them.
void ReadHeaderFields(const unsigned char* pucBlock, ImageKind eKind, HeaderFields* psFields);

// The CRC of the FONT_HEADER_LEN bytes at pucHeader.
std::uint32_t ReadFontHeader(const unsigned char* pucHeader);

// Writes the file-store header for a file of llSize bytes stored as pcTarget
// to the iSize bytes at pcBuf, as snprintf does; returns its length.
int MakeStoreHeader(char* pcBuf, int iSize, const char* pcTarget, long long llSize);

// A file-store header read back.
struct StoreHeaderFields {
    bool bRead = false;   // the target name and the length could be read
    bool bExact = false;  // the header is what MakeStoreHeader writes for them
    int iLen = 0;         // bytes of the header; the stored file follows
    char acTarget[TARGET_NAME_MAX] = {};
    long long llAnnounced = 0;
};

// False when the iLen bytes at pucBlock do not begin with the file-store
// header; otherwise reads what it can of it.
bool ReadStoreHeader(const unsigned char* pucBlock, int iLen, StoreHeaderFields* psFields);
