// CRC throughput of our Crc32 over 256 MiB of pseudo-random bytes, with zlib's
// crc32 on the same buffer as the yardstick. Each figure is the best of a few runs.
#include <zlib.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "crc32.h"

namespace {

constexpr std::size_t BUFFER_SIZE = std::size_t{256} << 20;
constexpr std::size_t BIG_CALL = std::size_t{64} << 20;
constexpr int TOOL_BLOCK = 50000;  // the block the tool reads and checks at a time
constexpr int RUNS = 5;

// Best throughput in MB/s (10^6 bytes a second) of fnRun over the buffer; the
// CRC it returns lands in *pulCrc.
double BestMBps(const std::function<std::uint32_t()>& fnRun, std::uint32_t* pulCrc)
{
    double dBest = 0.0;
    for (int i = 0; i < RUNS; i++) {
        auto tStart = std::chrono::steady_clock::now();
        *pulCrc = fnRun();
        std::chrono::duration<double> dSeconds = std::chrono::steady_clock::now() - tStart;
        double dMBps = static_cast<double>(BUFFER_SIZE) / 1e6 / dSeconds.count();
        if (dMBps > dBest)
            dBest = dMBps;
    }
    return dBest;
}

// Our Crc32 over the whole buffer in blocks of iBlock bytes, chained and inverted.
std::uint32_t OursInBlocks(const std::vector<unsigned char>& aucData, std::size_t iBlock)
{
    std::uint32_t ulCrc = 0xFFFFFFFF;
    for (std::size_t iPos = 0; iPos < aucData.size(); iPos += iBlock) {
        std::size_t iLen = aucData.size() - iPos < iBlock ? aucData.size() - iPos : iBlock;
        ulCrc = Crc32(aucData.data() + iPos, static_cast<int>(iLen), ulCrc);
    }
    return ~ulCrc;
}

}  // namespace

int main()
{
    std::vector<unsigned char> aucData(BUFFER_SIZE);
    std::uint64_t ullState = 0x9E3779B97F4A7C15ULL;  // xorshift64, fixed seed
    for (std::size_t i = 0; i < BUFFER_SIZE; i += 8) {
        ullState ^= ullState << 13;
        ullState ^= ullState >> 7;
        ullState ^= ullState << 17;
        for (std::size_t j = 0; j < 8; j++)
            aucData[i + j] = static_cast<unsigned char>(ullState >> (8 * j));
    }

    std::uint32_t ulZlib = 0, ulBlocks = 0, ulBig = 0;
    double dZlib =
        BestMBps([&] { return static_cast<std::uint32_t>(crc32_z(0L, aucData.data(), aucData.size())); }, &ulZlib);
    double dBlocks = BestMBps([&] { return OursInBlocks(aucData, TOOL_BLOCK); }, &ulBlocks);
    double dBig = BestMBps([&] { return OursInBlocks(aucData, BIG_CALL); }, &ulBig);

    std::printf("CRC over %zu MiB, best of %d runs\n", BUFFER_SIZE >> 20, RUNS);
    std::printf("  zlib crc32              : %8.1f MB/s  crc %08X\n", dZlib, ulZlib);
    std::printf("  Crc32, %d-byte blocks: %8.1f MB/s  crc %08X  ours/zlib %.2f\n", TOOL_BLOCK, dBlocks, ulBlocks,
                dBlocks / dZlib);
    std::printf("  Crc32, 64 MiB calls     : %8.1f MB/s  crc %08X  ours/zlib %.2f\n", dBig, ulBig, dBig / dZlib);
    if (ulBlocks != ulZlib || ulBig != ulZlib) {
        std::fprintf(stderr, "CRC MISMATCH: ours %08X / %08X, zlib %08X\n", ulBlocks, ulBig, ulZlib);
        std::abort();
    }
    double dWorst = dBlocks < dBig ? dBlocks : dBig;
    std::printf("  goal ours >= zlib       : %s\n", dWorst >= dZlib ? "met" : "NOT met");
    return 0;
}
