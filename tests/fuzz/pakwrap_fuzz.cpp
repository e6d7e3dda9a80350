// Fuzzes pakwrap's command line (argument checks, custom header record, mode
// selection) with the announcements of an accepted one, the recognition of
// image kinds from a first block, and the verifying of that block as a file.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cmdline.h"
#include "conversion.h"
#include "headers.h"
#include "messages.h"
#include "verify.h"

namespace {

int lk_iFile = -1;  // the file that /v reads, in memory

// Verifies the bytes as pakwrap FILE /v does, through a block of the tool's size.
void VerifyBytes(const std::vector<unsigned char>& vData)
{
    static unsigned char aucBlock[BLOCK_SIZE];
    if (ftruncate(lk_iFile, 0) != 0 || pwrite(lk_iFile, vData.data(), vData.size(), 0) < 0 || !RewindFile(lk_iFile))
        __builtin_trap();
    PakRun sRun;
    sRun.eMode = PakMode::Verify;
    sRun.pcInFile = "fuzzed";
    VerifyFile(lk_iFile, sRun, {aucBlock, BLOCK_SIZE});
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    lk_iFile = memfd_create("pakwrap_fuzz", 0);
    // The help text, the announcements and the reports are not wanted here.
    return lk_iFile >= 0 && std::freopen("/dev/null", "w", stdout) != nullptr ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider fdp(data, size);
    std::vector<std::string> vArgs = {"pakwrap"};
    int iCount = fdp.ConsumeIntegralInRange<int>(0, 5);
    for (int i = 0; i < iCount; i++)
        vArgs.push_back(fdp.ConsumeRandomLengthString(600));
    std::vector<char*> vArgv;
    for (std::string& s : vArgs)
        vArgv.push_back(s.data());
    vArgv.push_back(nullptr);
    PakRun sRun;
    if (ParseCommandLine(static_cast<int>(vArgs.size()), vArgv.data(), &sRun))
        AnnounceRun(sRun);

    std::vector<unsigned char> vBlock = fdp.ConsumeRemainingBytes<unsigned char>();
    std::uint32_t ulHeaderLen = 0;
    RecogniseKind(vBlock.data(), static_cast<int>(vBlock.size()), &ulHeaderLen);
    VerifyBytes(vBlock);
    return 0;
}
