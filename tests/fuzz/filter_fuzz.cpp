// Fuzzes the answer filter: any byte stream, cut into blocks at chosen points,
// with any settings. Besides memory and undefined-behaviour errors it checks
// that every call consumes part of its block (so the hand-over loop ends), and
// that the answers shown and the session's end do not depend on the cuts.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "filter.h"
#include "settings.h"

namespace {

struct Observed {
    std::string answers;  // bytes written from the filter's own buffers
    std::string plain;    // bytes written straight from the received blocks
    int endCode = -1;
};

Observed g_obs;
const unsigned char* g_pucStream = nullptr;
std::size_t g_uStreamLen = 0;
int g_iWriteLimit = 0;
bool g_bTerminal = false;

int Write(int, const void* pData, int len)
{
    int n = g_iWriteLimit > 0 ? std::min(len, g_iWriteLimit) : len;
    const auto* puc = static_cast<const unsigned char*>(pData);
    bool bPlain = puc >= g_pucStream && puc < g_pucStream + g_uStreamLen;
    (bPlain ? g_obs.plain : g_obs.answers).append(reinterpret_cast<const char*>(puc), static_cast<std::size_t>(n));
    return n;
}
void End(int iCode)
{
    g_obs.endCode = iCode;
}
bool ClearScreen(int)
{
    if (g_bTerminal)
        g_obs.answers += "<clear>";
    return true;
}
void Pause(std::uint64_t)
{}

const FilterIo kIo = {Write, End, ClearScreen, Pause};

// Hands the stream over in blocks ending at the cuts, as the receiver does.
Observed Feed(const std::vector<std::size_t>& vCuts)
{
    g_obs = Observed{};
    FilterReset();
    std::size_t uFrom = 0;
    for (std::size_t uCut : vCuts) {
        if (g_obs.endCode >= 0)
            break;
        FilterConsume(1, g_pucStream + uFrom, static_cast<int>(uCut - uFrom));
        uFrom = uCut;
    }
    return g_obs;
}

void Settings(FuzzedDataProvider& fdp)
{
    InitSettings();
    std::uint8_t ui8Bits = fdp.ConsumeIntegral<std::uint8_t>();
    lk_bXDCL = (ui8Bits & 0x07) != 0;  // mostly on
    lk_sXDCLMode = (ui8Bits >> 3) & 1;
    lk_bRemCon = (ui8Bits >> 4) & 1;
    lk_bRemConExitWhenReset = (ui8Bits >> 5) & 1;
    g_bTerminal = (ui8Bits >> 6) & 1;
    lk_ulTimeout = fdp.ConsumeIntegralInRange<std::uint32_t>(0, 3);
    if (ui8Bits & 0x80) {
        lk_cSOH = static_cast<char>(fdp.ConsumeIntegral<std::uint8_t>());
        lk_cETB = static_cast<char>(fdp.ConsumeIntegral<std::uint8_t>());
    }
    g_iWriteLimit = fdp.ConsumeIntegralInRange<int>(0, 3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider fdp(data, size);
    Settings(fdp);
    std::vector<std::size_t> vCuts(fdp.ConsumeIntegralInRange<std::size_t>(0, 12));
    for (std::size_t& uCut : vCuts)
        uCut = fdp.ConsumeIntegral<std::uint16_t>();
    std::vector<unsigned char> vStream = fdp.ConsumeRemainingBytes<unsigned char>();
    g_pucStream = vStream.data();
    g_uStreamLen = vStream.size();
    for (std::size_t& uCut : vCuts)
        uCut = vStream.empty() ? 0 : uCut % vStream.size();
    vCuts.push_back(vStream.size());
    std::sort(vCuts.begin(), vCuts.end());

    FilterSetIo(&kIo);
    Observed sCut = Feed(vCuts);
    Observed sWhole = Feed({vStream.size()});
    if (sCut.answers != sWhole.answers || sCut.endCode != sWhole.endCode)
        __builtin_trap();  // a frame was shown differently because of the cuts
    if (!lk_bXDCL && sCut.plain != std::string(vStream.begin(), vStream.end()))
        __builtin_trap();  // pass-through must write every byte unchanged
    return 0;
}
