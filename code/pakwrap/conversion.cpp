// pakwrap conversion: the file-store wrapper around a copy of the input, or two
// passes over an image: the first computes the CRC and the total length, the
// second copies the input with the header stamped in or put in front.
#include "conversion.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "crc32.h"
#include "fastcopy.h"
#include "fileio.h"
#include "headers.h"
#include "samefile.h"

namespace {

int FailRead()
{
    printf("Failed to read %s.\n", lk_pcInFile);
    return PAK_FAILED;
}

int FailWrite()
{
    printf("Failed to write %s %d.\n", lk_pcOutFile, errno);
    return PAK_FAILED;
}

// True when both names lead to one file; writing the output would then
// destroy the input before it is read.
bool SameFile()
{
    return strcmp(lk_pcInFile, lk_pcOutFile) == 0 || SameFileIdentity(lk_pcInFile, lk_pcOutFile);
}

int OpenFiles(Files* psFiles)
{
    if (SameFile()) {
        printf("Input and output are the same file: %s\n", lk_pcInFile);
        return PAK_FAILED;
    }
    psFiles->iOut = OpenOutput(lk_pcOutFile);
    if (psFiles->iOut < 0) {
        printf("Failed to open file %s.\n", lk_pcOutFile);
        return PAK_FAILED;
    }
    psFiles->iIn = OpenInput(lk_pcInFile);
    if (psFiles->iIn < 0) {
        printf("Failed to open file %s.\n", lk_pcInFile);
        return PAK_FAILED;
    }
    return PAK_OK;
}

// Closes both files; a failure to close the output loses data, so it counts.
int CloseFiles(const Files& sFiles, int iStatus)
{
    if (sFiles.iIn >= 0)
        CloseFile(sFiles.iIn);
    if (sFiles.iOut >= 0 && !CloseFile(sFiles.iOut) && iStatus == PAK_OK)
        return FailWrite();
    return iStatus;
}

// Writes iLen bytes of the wrapper; a failure reports the bytes written.
bool WriteStore(int iOut, const void* pv, int iLen)
{
    int iWritten = WriteAll(iOut, pv, iLen);
    if (iWritten == iLen)
        return true;
    printf("Problem writing file: %i\n", iWritten);
    return false;
}

// File store: the header that creates the directory and announces the file,
// the input unchanged, and optionally the restart command.
int StoreFile(const Files& sFiles, const PakRun& sRun, const Block& sBlock)
{
    long long llSize = MeasureFile(sFiles.iIn);
    if (llSize < 0)
        return FailRead();
    char* pcHeader = reinterpret_cast<char*>(sBlock.puc);
    int iLen = MakeStoreHeader(pcHeader, sBlock.iSize, lk_pcFile, llSize);
    if (!WriteStore(sFiles.iOut, pcHeader, iLen))
        return PAK_FAILED;
    if (!CopyRest(sFiles.iIn, sFiles.iOut)) {
        bool bWritten = true;
        bool bRead = ForEachBlock(sFiles.iIn, sBlock, [&](int iDatalen) {
            bWritten = WriteStore(sFiles.iOut, sBlock.puc, iDatalen);
            return bWritten;
        });
        if (!bWritten)
            return PAK_FAILED;
        if (!bRead)
            return FailRead();
    }
    if (lk_bFURestart && !WriteStore(sFiles.iOut, RESTART_COMMAND, sizeof RESTART_COMMAND))
        return PAK_FAILED;
    return sRun.bNoTarget ? PAK_FAILED : PAK_OK;
}

bool RecognisesKind(PakMode eMode)
{
    return eMode == PakMode::Firmware || eMode == PakMode::Slic || eMode == PakMode::Atmel;
}

// True when the output can take its header: a header put in front fits any
// input, an image of the recognised kind must hold the fields stamped into it.
bool HoldsHeader(const PakRun& sRun, long long llSize)
{
    if (!RecognisesKind(sRun.eMode) || (sRun.eKind != ImageKind::Sh2 && lk_cHeader))
        return true;
    return HoldsStampedFields(sRun.eKind, llSize, sRun.ulHeaderLen);
}

// Recognises the image kind from the iDatalen bytes at pucBlock, the first
// block, in the image modes and sets the bytes the CRC skips (font mode takes
// the whole input as payload). False for an input of no known kind without a
// custom header.
bool RecogniseFirstBlock(PakRun* psRun, const unsigned char* pucBlock, int iDatalen, uint32_t* pulSkip)
{
    if (!RecognisesKind(psRun->eMode))
        return true;
    ImageKind eKind = RecogniseKind(pucBlock, iDatalen, &psRun->ulHeaderLen);
    if (eKind == ImageKind::Unknown && !lk_cHeader)
        return false;
    if (eKind != ImageKind::Unknown)
        psRun->eKind = eKind;
    *pulSkip = psRun->ulHeaderLen;
    return true;
}

// First pass: recognises the kind on the first block and computes the CRC of
// everything from byte ulHeaderLen on, however the blocks fall.
int FirstPass(const Files& sFiles, const Block& sBlock, PakRun* psRun, uint32_t* pulCRC, uint32_t* pulTotallen)
{
    uint32_t ulCRC = 0xFFFFFFFF;
    uint32_t ulSkip = 0;
    long long llSize = 0;
    bool bFirst = true;
    bool bKnown = true;
    bool bRead = ForEachBlock(sFiles.iIn, sBlock, [&](int iDatalen) {
        if (bFirst) {
            bFirst = false;
            bKnown = RecogniseFirstBlock(psRun, sBlock.puc, iDatalen, &ulSkip);
            if (!bKnown)
                return false;
        }
        auto ulLen = static_cast<uint32_t>(iDatalen);
        uint32_t ulStart = ulSkip < ulLen ? ulSkip : ulLen;
        ulSkip -= ulStart;
        ulCRC = Crc32(sBlock.puc + ulStart, iDatalen - static_cast<int>(ulStart), ulCRC);
        llSize += iDatalen;
        return true;
    });
    if (!bRead)
        return FailRead();
    if (!bKnown || !HoldsHeader(*psRun, llSize)) {
        puts("Wrong bin file!");
        return PAK_FAILED;
    }
    *pulCRC = ulCRC ^ 0xFFFFFFFF;
    *pulTotallen = static_cast<uint32_t>(llSize) - psRun->ulHeaderLen;
    return RewindFile(sFiles.iIn) ? PAK_OK : FailRead();
}

// Puts the header of the output in front, or stamps it into the first block
// at pucFirst.
bool WriteHeader(const Files& sFiles, const PakRun& sRun, unsigned char* pucFirst, uint32_t ulCRC, uint32_t ulTotallen)
{
    if (sRun.eMode == PakMode::Font) {
        unsigned char aucFont[FONT_HEADER_LEN];
        MakeFontHeader(aucFont, ulCRC);
        return WriteAll(sFiles.iOut, aucFont, FONT_HEADER_LEN) == FONT_HEADER_LEN;
    }
    if (sRun.eKind != ImageKind::Sh2 && lk_cHeader) {
        StampCustomHeader(lk_aucHeader, ulCRC);
        return WriteAll(sFiles.iOut, lk_aucHeader, CUSTOM_HEADER_LEN) == CUSTOM_HEADER_LEN;
    }
    StampBlock(pucFirst, sRun.eKind, ulCRC, ulTotallen, sRun.uiDestAddr);
    return true;
}

// Second pass: reports the CRC, then copies the input with its header; after
// the first full block the kernel copies the rest where it can.
int SecondPass(const Files& sFiles, const Block& sBlock, const PakRun& sRun, uint32_t ulCRC, uint32_t ulTotallen)
{
    bool bFirst = true;
    bool bWritten = true;
    bool bRead = ForEachBlock(sFiles.iIn, sBlock, [&](int iDatalen) {
        if (bFirst) {
            bFirst = false;
            printf("CRC:%8.8x Total len:%d\n", ulCRC, static_cast<int>(ulTotallen));
            bWritten = WriteHeader(sFiles, sRun, sBlock.puc, ulCRC, ulTotallen);
        }
        bWritten = bWritten && WriteAll(sFiles.iOut, sBlock.puc, iDatalen) == iDatalen;
        return bWritten && (iDatalen < sBlock.iSize || !CopyRest(sFiles.iIn, sFiles.iOut));
    });
    if (!bRead)
        return FailRead();
    return bWritten ? PAK_OK : FailWrite();
}

int ConvertImage(const Files& sFiles, const Block& sBlock, PakRun* psRun)
{
    uint32_t ulCRC = 0;
    uint32_t ulTotallen = 0;
    int iStatus = FirstPass(sFiles, sBlock, psRun, &ulCRC, &ulTotallen);
    if (iStatus != PAK_OK)
        return iStatus;
    return SecondPass(sFiles, sBlock, *psRun, ulCRC, ulTotallen);
}

}  // namespace

int ConvertFile(PakRun* psRun)
{
    // Every block of the input passes through this one buffer.
    static unsigned char aucBlock[BLOCK_SIZE];
    const Block sBlock = {aucBlock, BLOCK_SIZE};
    Files sFiles;
    int iStatus = OpenFiles(&sFiles);
    if (iStatus == PAK_OK)
        iStatus =
            psRun->eMode == PakMode::Store ? StoreFile(sFiles, *psRun, sBlock) : ConvertImage(sFiles, sBlock, psRun);
    return CloseFiles(sFiles, iStatus);
}
