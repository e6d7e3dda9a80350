// Fuzzes the Telnet decoder of the port server link. Two ways, by the first
// byte: any bytes from the server, decoded whole and cut at chosen points,
// must give the same device bytes, answers and replies; and a stream built of
// device bytes (0xFF doubled), negotiations, other commands and
// subnegotiations, cut anywhere, must give exactly its device bytes: none
// invented or lost, no command leaked.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "telnet.h"

namespace {

struct Result {
    std::string data;
    std::string answers;
    std::uint32_t pulReplies[2 * (COM_SET_CONTROL + 1)];
};

// Decodes the stream in pieces that end at the cuts, in place, emptying the
// answers whenever they fill up; each call must make progress.
Result Decode(const std::string& wire, const std::vector<std::size_t>& cuts)
{
    TelnetCodec sCodec;
    unsigned char pucStart[TELNET_START_SIZE];
    TelnetStart(&sCodec, pucStart);
    Result r{};
    std::string buf = wire;
    auto* puc = reinterpret_cast<unsigned char*>(buf.data());
    std::size_t uFrom = 0;
    for (std::size_t i = 0; i <= cuts.size(); ++i) {
        const std::size_t uTo = i < cuts.size() ? cuts[i] : buf.size();
        while (uFrom < uTo) {
            int iOut = 0;
            const int iUsed = TelnetDecode(&sCodec, puc + uFrom, static_cast<int>(uTo - uFrom), puc + uFrom, &iOut);
            if ((iUsed <= 0 && sCodec.iAnswer == 0) || iOut > iUsed || sCodec.iAnswer > TELNET_ANSWER_SIZE)
                std::abort();
            r.data.append(reinterpret_cast<char*>(puc + uFrom), static_cast<std::size_t>(iOut));
            r.answers.append(reinterpret_cast<char*>(sCodec.pucAnswer), static_cast<std::size_t>(sCodec.iAnswer));
            sCodec.iAnswer = 0;
            uFrom += static_cast<std::size_t>(iUsed);
        }
    }
    for (int i = 0; i <= COM_SET_CONTROL; ++i) {
        r.pulReplies[2 * i] = sCodec.psReplies[i].ulCount;
        r.pulReplies[2 * i + 1] = sCodec.psReplies[i].ulValue;
    }
    return r;
}

std::vector<std::size_t> Cuts(FuzzedDataProvider* pData, std::size_t uLen)
{
    std::vector<std::size_t> cuts;
    std::size_t u = 0;
    while (u < uLen && pData->remaining_bytes() > 0) {
        u += pData->ConsumeIntegralInRange<std::size_t>(1, 64);
        if (u < uLen)
            cuts.push_back(u);
    }
    return cuts;
}

void AddEscaped(std::string* pWire, unsigned char uc)
{
    *pWire += static_cast<char>(uc);
    if (uc == TELNET_IAC)
        *pWire += static_cast<char>(uc);
}

// One piece of a well-formed stream; device bytes also go to *pData.
void AddPiece(FuzzedDataProvider* pData, std::string* pWire, std::string* pDevice)
{
    const char cIac = static_cast<char>(TELNET_IAC);
    switch (pData->ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        for (unsigned char uc : pData->ConsumeBytes<unsigned char>(pData->ConsumeIntegralInRange<std::size_t>(1, 8))) {
            AddEscaped(pWire, uc);
            *pDevice += static_cast<char>(uc);
        }
        break;
    case 1:
        *pWire += cIac;
        *pWire += static_cast<char>(pData->ConsumeIntegralInRange<int>(TELNET_WILL, TELNET_DONT));
        *pWire += static_cast<char>(pData->ConsumeIntegral<unsigned char>());
        break;
    case 2: {
        // NOP, DM, BRK, IP, AO, AYT, EC, EL, GA, or SE out of place.
        *pWire += cIac;
        *pWire += static_cast<char>(pData->ConsumeIntegralInRange<int>(TELNET_SE, TELNET_SB - 1));
        break;
    }
    default:
        *pWire += cIac;
        *pWire += static_cast<char>(TELNET_SB);
        for (unsigned char uc : pData->ConsumeBytes<unsigned char>(pData->ConsumeIntegralInRange<std::size_t>(0, 40)))
            AddEscaped(pWire, uc);
        *pWire += cIac;
        *pWire += static_cast<char>(TELNET_SE);
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pucData, std::size_t uSize)
{
    FuzzedDataProvider data(pucData, uSize);
    if (data.ConsumeBool()) {
        const std::string wire = data.ConsumeRandomLengthString(4096);
        const Result whole = Decode(wire, {});
        const Result cut = Decode(wire, Cuts(&data, wire.size()));
        if (whole.data != cut.data || whole.answers != cut.answers ||
            std::string(reinterpret_cast<const char*>(whole.pulReplies), sizeof whole.pulReplies) !=
                std::string(reinterpret_cast<const char*>(cut.pulReplies), sizeof cut.pulReplies))
            std::abort();
        return 0;
    }
    std::string wire, device;
    const int iPieces = data.ConsumeIntegralInRange<int>(0, 200);
    for (int i = 0; i < iPieces && data.remaining_bytes() > 0; ++i)
        AddPiece(&data, &wire, &device);
    if (Decode(wire, Cuts(&data, wire.size())).data != device)
        std::abort();
    return 0;
}
