// pakwrap image conversion in two passes over the input: the first recognises
// the kind of image and computes the CRC and the total length, the second
// copies the input with the header stamped in or put in front.
#include "image.h"

#include <cstring>

#include "crc32.h"
#include "headers.h"
#include "messages.h"
#include "system.h"

namespace {

// How the header reaches the output.
enum class Placement {
    FontInFront,
    CustomInFront,
    Stamped
};

// What the first pass finds out about the input.
struct ImageFacts {
    Placement ePlacement = Placement::Stamped;
    ImageKind eKind = ImageKind::Unknown;
    std::uint32_t ulHeaderLen = 0;  // bytes the total length leaves out
    std::uint32_t ulCRC = 0;
    std::uint32_t ulTotallen = 0;
};

// Decides from the first block where the header goes and sets the bytes the
// CRC skips: none in font mode, which takes the whole input as payload, nor
// with the custom record in front. False for an input of no known kind
// without a custom header.
bool RecogniseFirstBlock(const PakRun& sRun, const unsigned char* pucBlock, int iDatalen, ImageFacts* psFacts,
                         std::uint32_t* pulSkip)
{
    if (sRun.eMode == PakMode::Font) {
        psFacts->ePlacement = Placement::FontInFront;
        psFacts->ulHeaderLen = FONT_HEADER_LEN;
        return true;
    }
    // An SH2 image tells its header length; the tagged kinds leave this one.
    psFacts->ulHeaderLen = sRun.bCustomHeader ? 0 : TAGGED_HEADER_LEN;
    psFacts->eKind = RecogniseKind(pucBlock, iDatalen, &psFacts->ulHeaderLen);
    if (psFacts->eKind == ImageKind::Unknown && !sRun.bCustomHeader)
        return false;
    // An SH2 image takes its own fields, custom record or not.
    if (sRun.bCustomHeader && psFacts->eKind != ImageKind::Sh2)
        psFacts->ePlacement = Placement::CustomInFront;
    *pulSkip = psFacts->ulHeaderLen;
    return true;
}

// True when the output can take its header: one put in front fits any input,
// one stamped in needs an image of llSize bytes that holds its fields.
bool HoldsHeader(const ImageFacts& sFacts, long long llSize)
{
    return sFacts.ePlacement != Placement::Stamped || HoldsStampedFields(sFacts.eKind, llSize, sFacts.ulHeaderLen);
}

// First pass: recognises the kind on the first block and computes the CRC of
// everything from the skipped header on, however the blocks fall.
int FirstPass(const Files& sFiles, const PakRun& sRun, const Block& sBlock, ImageFacts* psFacts)
{
    std::uint32_t ulCRC = 0xFFFFFFFF;
    std::uint32_t ulSkip = 0;
    long long llSize = 0;
    bool bFirst = true;
    bool bKnown = true;
    bool bRead = ForEachBlock(sFiles.iIn, sBlock, [&](int iDatalen) {
        if (bFirst) {
            bFirst = false;
            bKnown = RecogniseFirstBlock(sRun, sBlock.puc, iDatalen, psFacts, &ulSkip);
            if (!bKnown)
                return false;
        }
        auto ulLen = static_cast<std::uint32_t>(iDatalen);
        std::uint32_t ulStart = ulSkip < ulLen ? ulSkip : ulLen;
        ulSkip -= ulStart;
        ulCRC = Crc32(sBlock.puc + ulStart, iDatalen - static_cast<int>(ulStart), ulCRC);
        llSize += iDatalen;
        return true;
    });
    if (!bRead)
        return FailRead(sRun);
    if (!bKnown || !HoldsHeader(*psFacts, llSize)) {
        ReportWrongImage();
        return PAK_FAILED;
    }
    psFacts->ulCRC = ulCRC ^ 0xFFFFFFFF;
    psFacts->ulTotallen = static_cast<std::uint32_t>(llSize) - psFacts->ulHeaderLen;
    return RewindFile(sFiles.iIn) ? PAK_OK : FailRead(sRun);
}

// Puts the header of the output in front, or stamps it into the first block.
bool WriteHeader(int iOut, const PakRun& sRun, const ImageFacts& sFacts, unsigned char* pucFirst)
{
    switch (sFacts.ePlacement) {
    case Placement::FontInFront: {
        unsigned char aucFont[FONT_HEADER_LEN];
        MakeFontHeader(aucFont, sFacts.ulCRC);
        return WriteAll(iOut, aucFont, FONT_HEADER_LEN) == FONT_HEADER_LEN;
    }
    case Placement::CustomInFront: {
        unsigned char aucRecord[CUSTOM_HEADER_LEN];
        std::memcpy(aucRecord, sRun.aucCustomHeader, CUSTOM_HEADER_LEN);
        StampCustomHeader(aucRecord, sFacts.ulCRC);
        return WriteAll(iOut, aucRecord, CUSTOM_HEADER_LEN) == CUSTOM_HEADER_LEN;
    }
    case Placement::Stamped:
        break;
    }
    StampBlock(pucFirst, sFacts.eKind, sFacts.ulCRC, sFacts.ulTotallen, sRun.ulDestAddr);
    return true;
}

// Second pass: reports the CRC, then copies the input with its header; after
// the first full block the kernel copies the rest where it can.
int SecondPass(const Files& sFiles, const PakRun& sRun, const Block& sBlock, const ImageFacts& sFacts)
{
    bool bFirst = true;
    bool bWritten = true;
    bool bRead = ForEachBlock(sFiles.iIn, sBlock, [&](int iDatalen) {
        if (bFirst) {
            bFirst = false;
            ReportCrc(sFacts.ulCRC, sFacts.ulTotallen);
            bWritten = WriteHeader(sFiles.iOut, sRun, sFacts, sBlock.puc);
        }
        bWritten = bWritten && WriteAll(sFiles.iOut, sBlock.puc, iDatalen) == iDatalen;
        return bWritten && (iDatalen < sBlock.iSize || !CopyRest(sFiles.iIn, sFiles.iOut));
    });
    if (!bRead)
        return FailRead(sRun);
    return bWritten ? PAK_OK : FailWrite(sRun);
}

}  // namespace

int ConvertImage(const Files& sFiles, const PakRun& sRun, const Block& sBlock)
{
    ImageFacts sFacts;
    int iStatus = FirstPass(sFiles, sRun, sBlock, &sFacts);
    if (iStatus != PAK_OK)
        return iStatus;
    return SecondPass(sFiles, sRun, sBlock, sFacts);
}
