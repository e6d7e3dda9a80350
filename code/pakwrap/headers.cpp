// Header layouts: kinds told apart by their first bytes, fields stamped into
// the first block byte by byte in the byte order of each kind, and the records
// put in front of an input; and all of them read back.
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
static_assert(TEXT_LEN_CUSTOM == CUSTOM_TEXT_LEN && MIN_LEN_SH2 <= HEADER_FIELDS_LEN);

// The file-store header: the commands up to the directory that is created, the
// one that announces the name and the length, and the byte that ends each.
constexpr char STORE_PROLOGUE[] = "^FCGC--r0_\x01"
                                  "FMIO--r";
constexpr char STORE_NAME_CMD[] = "\x17\x01"
                                  "M";
constexpr char STORE_END[] = "\x17";
constexpr int STORE_PROLOGUE_LEN = sizeof STORE_PROLOGUE - 1;
constexpr int STORE_NAME_CMD_LEN = sizeof STORE_NAME_CMD - 1;
constexpr int STORE_DIGITS_MAX = 18;  // an announced length of up to 18 digits is read
static_assert(STORE_PROLOGUE_LEN + 2 * (TARGET_NAME_MAX - 1) + STORE_NAME_CMD_LEN + STORE_DIGITS_MAX + 2 <=
              STORE_HEADER_MAX);

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

std::uint32_t GetBigEndian(const unsigned char* pucField)
{
    return std::uint32_t{pucField[0]} << 24 | std::uint32_t{pucField[1]} << 16 | std::uint32_t{pucField[2]} << 8 |
           pucField[3];
}

std::uint32_t GetLittleEndian(const unsigned char* pucField)
{
    return std::uint32_t{pucField[3]} << 24 | std::uint32_t{pucField[2]} << 16 | std::uint32_t{pucField[1]} << 8 |
           pucField[0];
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

// Where pcText first stands in pc from iFrom on, ending before iTo; -1 when
// it is nowhere there (nor is iFrom below 0).
int Find(const char* pc, int iFrom, int iTo, const char* pcText)
{
    int iLen = static_cast<int>(std::strlen(pcText));
    for (int i = iFrom; i >= 0 && i + iLen <= iTo; i++)
        if (std::memcmp(pc + i, pcText, static_cast<std::size_t>(iLen)) == 0)
            return i;
    return -1;
}

// Where c last stands in pc from iFrom up to iTo; -1 when it is not there.
int FindLast(const char* pc, int iFrom, int iTo, char c)
{
    for (int i = iTo - 1; i >= iFrom; i--)
        if (pc[i] == c)
            return i;
    return -1;
}

// Reads the iLen decimal digits at pc, as many as STORE_DIGITS_MAX; false
// when there are none, too many, or something else.
bool ReadDecimal(const char* pc, int iLen, long long* pllValue)
{
    if (iLen < 1 || iLen > STORE_DIGITS_MAX)
        return false;
    *pllValue = 0;
    for (int i = 0; i < iLen; i++) {
        if (pc[i] < '0' || pc[i] > '9')
            return false;
        *pllValue = *pllValue * 10 + (pc[i] - '0');
    }
    return true;
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

bool HasAnyTag(const unsigned char* pucBlock, int iLen)
{
    return iLen > TAG_LEN && strnlen(reinterpret_cast<const char*>(pucBlock), TAG_LEN + 1) == TAG_LEN;
}

long long StampedFieldsNeed(ImageKind eKind, std::uint32_t ulHeaderLen)
{
    if (eKind == ImageKind::Sh2)
        return ulHeaderLen > MIN_LEN_SH2 ? ulHeaderLen : MIN_LEN_SH2;
    return TAGGED_HEADER_LEN;
}

bool HoldsStampedFields(ImageKind eKind, long long llSize, std::uint32_t ulHeaderLen)
{
    return llSize >= StampedFieldsNeed(eKind, ulHeaderLen);
}

bool Sh2CrcCheckable(std::uint32_t ulHeaderLen)
{
    return ulHeaderLen >= MIN_LEN_SH2;
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

void ReadHeaderFields(const unsigned char* pucBlock, ImageKind eKind, HeaderFields* psFields)
{
    *psFields = {};
    if (eKind == ImageKind::Sh2) {
        psFields->ulCRC = GetLittleEndian(pucBlock + CRC_POS_SH2);
        psFields->ulTotallen = GetLittleEndian(pucBlock + TOTALLEN_POS_SH2);
        psFields->ulDestAddr = GetLittleEndian(pucBlock + DESTADDR_POS_SH2);
        return;
    }
    std::memcpy(psFields->acTag, pucBlock, TAG_LEN);
    psFields->ulCRC = GetBigEndian(pucBlock + CRC_POS_TAGGED);
    if (eKind != ImageKind::Unknown) {
        psFields->ulDestAddr = GetBigEndian(pucBlock + DESTADDR_POS_TAGGED);
        return;
    }
    for (int i = 0; i < CUSTOM_NUMBER_COUNT; i++)
        psFields->aulNumbers[i] = GetBigEndian(pucBlock + NUMBERS_POS_CUSTOM + 4 * i);
    std::memcpy(psFields->acText, pucBlock + TEXT_POS_CUSTOM, TEXT_LEN_CUSTOM);
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

std::uint32_t ReadFontHeader(const unsigned char* pucHeader)
{
    return GetLittleEndian(pucHeader);
}

int MakeStoreHeader(char* pcBuf, int iSize, const char* pcTarget, long long llSize)
{
    // Creates the directory, then announces the file by its name and size.
    return std::snprintf(pcBuf, static_cast<std::size_t>(iSize), "%s%.*s%s%s*%lld%s", STORE_PROLOGUE,
                         DirectoryLen(pcTarget), pcTarget, STORE_NAME_CMD, pcTarget, llSize, STORE_END);
}

bool ReadStoreHeader(const unsigned char* pucBlock, int iLen, StoreHeaderFields* psFields)
{
    *psFields = {};
    if (iLen < STORE_PROLOGUE_LEN || std::memcmp(pucBlock, STORE_PROLOGUE, STORE_PROLOGUE_LEN) != 0)
        return false;
    const char* pcHeader = reinterpret_cast<const char*>(pucBlock);
    int iEnd = iLen < STORE_HEADER_MAX ? iLen : STORE_HEADER_MAX;
    int iCommand = Find(pcHeader, STORE_PROLOGUE_LEN, iEnd, STORE_NAME_CMD);
    int iName = iCommand < 0 ? -1 : iCommand + STORE_NAME_CMD_LEN;
    int iStop = Find(pcHeader, iName, iEnd, STORE_END);
    int iStar = iStop < 0 ? -1 : FindLast(pcHeader, iName, iStop, '*');
    if (iStar < 0 || iStar - iName >= TARGET_NAME_MAX ||
        !ReadDecimal(pcHeader + iStar + 1, iStop - iStar - 1, &psFields->llAnnounced))
        return true;
    std::memcpy(psFields->acTarget, pcHeader + iName, static_cast<std::size_t>(iStar - iName));
    psFields->iLen = iStop + 1;
    psFields->bRead = true;
    // Written again from what was read, it must come out the same.
    char acHeader[STORE_HEADER_MAX + 1];
    int iMade = MakeStoreHeader(acHeader, sizeof acHeader, psFields->acTarget, psFields->llAnnounced);
    psFields->bExact = iMade == psFields->iLen && std::memcmp(acHeader, pcHeader, static_cast<std::size_t>(iMade)) == 0;
    return true;
}
