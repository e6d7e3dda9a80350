// Image header layouts: kinds told apart by their first bytes, fields stamped
// into the first block byte by byte in the byte order of each kind.
#include "headers.h"

#include <cstring>

#include "pakwrap.h"

namespace {

// Field positions within the first block.
constexpr int CRC_POS_SH2 = 208;
constexpr int CRC_POS_TAGGED = 4;
constexpr int TOTALLEN_POS_SH2 = 156;
constexpr int DESTADDR_POS_SH2 = 128;
constexpr int DESTADDR_POS_TAGGED = 144;

// True when the block begins with the three letters of pcTag and a NUL byte.
bool HasTag(const unsigned char* pucBlock, int iLen, const char* pcTag)
{
    return iLen >= 4 && memcmp(pucBlock, pcTag, 4) == 0;
}

}  // namespace

void PutBigEndian(unsigned char* pucField, uint32_t ulValue)
{
    for (int i = 3; i >= 0; i--, ulValue >>= 8)
        pucField[i] = static_cast<unsigned char>(ulValue);
}

void PutLittleEndian(unsigned char* pucField, uint32_t ulValue)
{
    for (int i = 0; i < 4; i++, ulValue >>= 8)
        pucField[i] = static_cast<unsigned char>(ulValue);
}

ImageKind RecogniseKind(const unsigned char* pucBlock, int iLen, uint32_t* pulHeaderLen)
{
    if ((iLen >= 1 && pucBlock[0] == 0x01) || (iLen >= 2 && pucBlock[1] == 0x71)) {
        uint32_t ulLen = 0;
        for (int i = 7; i >= 4; i--)
            ulLen = ulLen << 8 | (i < iLen ? pucBlock[i] : 0u);
        *pulHeaderLen = ulLen;
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

void StampBlock(unsigned char* pucBlock, ImageKind eKind, uint32_t ulCRC, uint32_t ulTotallen, uint32_t uiDestAddr)
{
    if (eKind == ImageKind::Sh2) {
        if (uiDestAddr != NO_ADDRESS)
            PutLittleEndian(pucBlock + DESTADDR_POS_SH2, uiDestAddr);
        PutLittleEndian(pucBlock + CRC_POS_SH2, ulCRC);
        PutLittleEndian(pucBlock + TOTALLEN_POS_SH2, ulTotallen);
        return;
    }
    if (uiDestAddr != NO_ADDRESS)
        PutBigEndian(pucBlock + DESTADDR_POS_TAGGED, uiDestAddr);
    PutBigEndian(pucBlock + CRC_POS_TAGGED, ulCRC);
}
