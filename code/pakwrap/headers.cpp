// Header layouts: kinds told apart by their first bytes, fields stamped into
// the first block byte by byte in the byte order of each kind, and the records
// put in front of an input.
#include "headers.h"

#include <cstdio>
#include <cstring>

namespace {

// An SH2 image: its header length at 4 to 7, fields little-endian.
constexpr int HEADERLEN_POS_SH2 = 4;
constexpr int DESTADDR_POS_SH2 = 128;
constexpr int TOTALLEN_POS_SH2 = 156;
constexpr int CRC_POS_SH2 = 208;
constexpr int MIN_LEN_SH2 = CRC_POS_SH2 + 4;

// A tagged image (and the custom record): three letters and a NUL byte, then
// fields big-endian.
constexpr int TAG_LEN = 3;
constexpr int CRC_POS_TAGGED = 4;
constexpr int DESTADDR_POS_TAGGED = 144;

// The custom record: after the CRC, three numbers and a text to the end.
constexpr int NUMBERS_POS_CUSTOM = 8;
constexpr int TEXT_POS_CUSTOM = NUMBERS_POS_CUSTOM + 4 * CUSTOM_NUMBER_COUNT;
constexpr int TEXT_LEN_CUSTOM = CUSTOM_HEADER_LEN - TEXT_POS_CUSTOM;

void PutBigEndian(unsigned char* pucField, std::uint32_t ulValue)
{
    for (int i = 3; i >= 0; i--, ulValue >>= 8)
        pucField[i] = static_cast<unsigned char>(ulValue);
}

void PutLittleEndian(unsigned char* pucField, std::uint32_t ulValue)
{
    for (int i = 0; i < 4; i++, ulValue >>= 8)
        pucField[i] = static_cast<unsigned char>(ulValue);
}

// True when the block begins with the three letters of pcTag and a NUL byte.
bool HasTag(const unsigned char* pucBlock, int iLen, const char* pcTag)
{
    return iLen > TAG_LEN && std::memcmp(pucBlock, pcTag, TAG_LEN + 1) == 0;
}

// The header length of an SH2 image, little-endian; bytes past iLen read as zero.
std::uint32_t Sh2HeaderLen(const unsigned char* pucBlock, int iLen)
{
    std::uint32_t ulLen = 0;
    for (int i = HEADERLEN_POS_SH2 + 3; i >= HEADERLEN_POS_SH2; i--)
        ulLen = ulLen << 8 | (i < iLen ? pucBlock[i] : 0u);
    return ulLen;
}

// The length of the directory part of a target name: up to its last '/' or
// '\\'. A name without a separator keeps its first character.
int DirectoryLen(const char* pcTarget)
{
    int iLen = 1;
    for (int i = 0; pcTarget[i] != '\0'; i++)
        if (pcTarget[i] == '\\' || pcTarget[i] == '/')
            iLen = i;
    return iLen;
}

}  // namespace

ImageKind RecogniseKind(const unsigned char* pucBlock, int iLen, std::uint32_t* pulHeaderLen)
{
    if ((iLen >= 1 && pucBlock[0] == 0x01) || (iLen >= 2 && pucBlock[1] == 0x71)) {
        *pulHeaderLen = Sh2HeaderLen(pucBlock, iLen);
        return ImageKind::Sh2;
    }
    // The string literals carry the NUL byte that ends each tag.
    if (HasTag(pucBlock, iLen, "SH3"))
        return ImageKind::Sh3;
    static const char* const apcAtmelTags[] = {"ATM", "ATI", "AT0", "AT1"};
    for (const char* pcTag : apcAtmelTags)
        if (HasTag(pucBlock, iLen, pcTag))
            return ImageKind::Atmel;
    if (HasTag(pucBlock, iLen, "SLC"))
        return ImageKind::Slic;
    return ImageKind::Unknown;
}

bool HoldsStampedFields(ImageKind eKind, long long llSize, std::uint32_t ulHeaderLen)
{
    if (eKind == ImageKind::Sh2)
        return llSize >= MIN_LEN_SH2 && ulHeaderLen <= llSize;
    return llSize >= TAGGED_HEADER_LEN;
}

void StampBlock(unsigned char* pucBlock, ImageKind eKind, std::uint32_t ulCRC, std::uint32_t ulTotallen,
                std::uint32_t ulDestAddr)
{
    if (eKind == ImageKind::Sh2) {
        if (ulDestAddr != NO_ADDRESS)
            PutLittleEndian(pucBlock + DESTADDR_POS_SH2, ulDestAddr);
        PutLittleEndian(pucBlock + CRC_POS_SH2, ulCRC);
        PutLittleEndian(pucBlock + TOTALLEN_POS_SH2, ulTotallen);
        return;
    }
    if (ulDestAddr != NO_ADDRESS)
        PutBigEndian(pucBlock + DESTADDR_POS_TAGGED, ulDestAddr);
    PutBigEndian(pucBlock + CRC_POS_TAGGED, ulCRC);
}

void MakeCustomHeader(unsigned char* pucRecord, const char* pcTag, const std::uint32_t* pulNumbers, const char* pcText)
{
    std::memset(pucRecord, 0, CUSTOM_HEADER_LEN);
    std::memcpy(pucRecord, pcTag, TAG_LEN);
    for (int i = 0; i < CUSTOM_NUMBER_COUNT; i++)
        PutBigEndian(pucRecord + NUMBERS_POS_CUSTOM + 4 * i, pulNumbers[i]);
    // Only the field's bytes reach the output; a shorter text keeps its NUL.
    std::memcpy(pucRecord + TEXT_POS_CUSTOM, pcText, strnlen(pcText, TEXT_LEN_CUSTOM));
}

void StampCustomHeader(unsigned char* pucRecord, std::uint32_t ulCRC)
{
    PutBigEndian(pucRecord + CRC_POS_TAGGED, ulCRC);
}

void MakeFontHeader(unsigned char* pucHeader, std::uint32_t ulCRC)
{
    PutLittleEndian(pucHeader, ulCRC);
}

int MakeStoreHeader(char* pcBuf, int iSize, const char* pcTarget, long long llSize)
{
    // Creates the directory, then announces the file by its name and size.
    return std::snprintf(pcBuf, static_cast<std::size_t>(iSize),
                         "^FCGC--r0_\x01"
                         "FMIO--r%.*s\x17\x01"
                         "M%s*%lld\x17",
                         DirectoryLen(pcTarget), pcTarget, pcTarget, llSize);
}
