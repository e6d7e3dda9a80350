// pakwrap file store: the header that creates the directory and announces the
// file, the input unchanged, and optionally the restart command.
#include "store.h"

#include "headers.h"
#include "messages.h"
#include "system.h"

namespace {

// Writes iLen bytes of the wrapper; a failure reports the bytes written.
bool WriteStore(int iOut, const void* pv, int iLen)
{
    int iWritten = WriteAll(iOut, pv, iLen);
    if (iWritten == iLen)
        return true;
    ReportStoreWrite(iWritten);
    return false;
}

// Copies the input after the header: in the kernel where it can, else block
// by block. Returns the exit status so far.
int CopyInput(const Files& sFiles, const PakRun& sRun, const Block& sBlock)
{
    if (CopyRest(sFiles.iIn, sFiles.iOut))
        return PAK_OK;
    bool bWritten = true;
    bool bRead = ForEachBlock(sFiles.iIn, sBlock, [&](int iDatalen) {
        bWritten = WriteStore(sFiles.iOut, sBlock.puc, iDatalen);
        return bWritten;
    });
    if (!bWritten)
        return PAK_FAILED;
    return bRead ? PAK_OK : FailRead(sRun);
}

}  // namespace

int StoreFile(const Files& sFiles, const PakRun& sRun, const Block& sBlock)
{
    long long llSize = MeasureFile(sFiles.iIn);
    if (llSize < 0)
        return FailRead(sRun);
    char* pcHeader = reinterpret_cast<char*>(sBlock.puc);
    int iLen = MakeStoreHeader(pcHeader, sBlock.iSize, sRun.pcTarget, llSize);
    if (!WriteStore(sFiles.iOut, pcHeader, iLen))
        return PAK_FAILED;
    int iStatus = CopyInput(sFiles, sRun, sBlock);
    if (iStatus != PAK_OK)
        return iStatus;
    if (sRun.bRestart && !WriteStore(sFiles.iOut, RESTART_COMMAND, sizeof RESTART_COMMAND))
        return PAK_FAILED;
    return sRun.bNoTarget ? PAK_FAILED : PAK_OK;
}
