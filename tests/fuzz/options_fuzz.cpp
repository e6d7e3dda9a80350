// Fuzzes morlink's option parser with any argument vector.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "options.h"
#include "settings.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    return std::freopen("/dev/null", "w", stdout) != nullptr ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider fdp(data, size);
    std::vector<std::string> vArgs = {"morlink"};
    while (fdp.remaining_bytes() > 0 && vArgs.size() < 16)
        vArgs.push_back(fdp.ConsumeRandomLengthString(400));
    std::vector<char*> vArgv;
    for (std::string& s : vArgs)
        vArgv.push_back(s.data());
    vArgv.push_back(nullptr);
    InitSettings();
    ParseOptions(static_cast<int>(vArgs.size()), vArgv.data());
    return 0;
}
