// Fuzzes pakwrap's command line (argument checks, custom header record, mode
// selection) with the announcements of an accepted one, and the recognition of
// image kinds from a first block.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cmdline.h"
#include "headers.h"
#include "messages.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The help text and the announcements are not wanted here.
    return std::freopen("/dev/null", "w", stdout) != nullptr ? 0 : 1;
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
    return 0;
}
