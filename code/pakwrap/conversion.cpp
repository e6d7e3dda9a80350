// pakwrap conversion: refuses an output that is the input, opens both files,
// hands the one block buffer to the file store or to the image conversion,
// and closes the files; or opens the input alone and verifies it.
#include "conversion.h"

#include <cstring>

#include "image.h"
#include "messages.h"
#include "store.h"
#include "system.h"
#include "verify.h"

// The first block holds every header and its fields.
static_assert(BLOCK_SIZE >= STORE_HEADER_MAX + HEADER_FIELDS_LEN);

namespace {

// True when both names lead to one file; writing the output would then
// destroy the input before it is read.
bool SameFile(const PakRun& sRun)
{
    return std::strcmp(sRun.pcInFile, sRun.pcOutFile) == 0 || SameFileIdentity(sRun.pcInFile, sRun.pcOutFile);
}

int OpenFiles(const PakRun& sRun, Files* psFiles)
{
    if (SameFile(sRun)) {
        ReportSameFile(sRun);
        return PAK_FAILED;
    }
    psFiles->iOut = OpenOutput(sRun.pcOutFile);
    if (psFiles->iOut < 0) {
        ReportOpenFailed(sRun.pcOutFile);
        return PAK_FAILED;
    }
    psFiles->iIn = OpenInput(sRun.pcInFile);
    if (psFiles->iIn < 0) {
        ReportOpenFailed(sRun.pcInFile);
        return PAK_FAILED;
    }
    return PAK_OK;
}

// Closes both files; a failure to close the output loses data, so it counts.
int CloseFiles(const PakRun& sRun, const Files& sFiles, int iStatus)
{
    if (sFiles.iIn >= 0)
        CloseFile(sFiles.iIn);
    if (sFiles.iOut >= 0 && !CloseFile(sFiles.iOut) && iStatus == PAK_OK)
        return FailWrite(sRun);
    return iStatus;
}

// Verifying reads the input alone.
int VerifyInput(const PakRun& sRun, const Block& sBlock)
{
    int iIn = OpenInput(sRun.pcInFile);
    if (iIn < 0) {
        ReportOpenFailed(sRun.pcInFile);
        return PAK_FAILED;
    }
    int iStatus = VerifyFile(iIn, sRun, sBlock);
    CloseFile(iIn);
    return iStatus;
}

}  // namespace

int ConvertFile(const PakRun& sRun)
{
    // Every block of the input passes through this one buffer.
    static unsigned char aucBlock[BLOCK_SIZE];
    const Block sBlock = {aucBlock, BLOCK_SIZE};
    if (sRun.eMode == PakMode::Verify)
        return VerifyInput(sRun, sBlock);
    Files sFiles;
    int iStatus = OpenFiles(sRun, &sFiles);
    if (iStatus == PAK_OK)
        iStatus = sRun.eMode == PakMode::Store ? StoreFile(sFiles, sRun, sBlock) : ConvertImage(sFiles, sRun, sBlock);
    return CloseFiles(sRun, sFiles, iStatus);
}
