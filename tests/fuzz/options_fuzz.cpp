// Fuzzes morlink's option parser with any argument vector. The parser ends the
// process after the usage text and on a bad option; here exit() is wrapped at
// link time to return to the harness instead.
#include <fuzzer/FuzzedDataProvider.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "options.h"
#include "settings.h"

namespace {
std::jmp_buf g_jbExit;
bool g_bParsing = false;  // only the parser's exits come back here
}  // namespace

extern "C" [[noreturn]] void __real_exit(int);

extern "C" [[noreturn]] void __wrap_exit(int iStatus)
{
    if (!g_bParsing)
        __real_exit(iStatus);
    g_bParsing = false;
    std::longjmp(g_jbExit, 1);
}

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
    if (setjmp(g_jbExit) == 0) {
        g_bParsing = true;
        ParseOptions(static_cast<int>(vArgs.size()), vArgv.data());
        g_bParsing = false;
    }
    return 0;
}
