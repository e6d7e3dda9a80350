// CRC-32 by folding: four 128-bit lanes are carried forward 64 bytes a step
// with carry-less multiplications by powers of x modulo the polynomial, folded
// into one lane, then reduced to 32 bits (Barrett). Each constant below is
// x^n mod P, bit-reflected and shifted left by one, for the fold distance n.
#include "crc32_clmul.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

namespace {

constexpr long long K_FOLD_512_LO = 0x154442bd4;  // fold by 4 lanes
constexpr long long K_FOLD_512_HI = 0x1c6e41596;
constexpr long long K_FOLD_128_LO = 0x1751997d0;  // fold by 1 lane
constexpr long long K_FOLD_128_HI = 0x0ccaa009e;
constexpr long long K_FOLD_64 = 0x163cd6124;  // 64 bits to 32
constexpr long long K_POLY = 0x1db710641;     // P, reflected
constexpr long long K_MU = 0x1f7011641;       // Barrett constant

__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i xLane, __m128i xK)
{
    return _mm_xor_si128(_mm_clmulepi64_si128(xLane, xK, 0x00), _mm_clmulepi64_si128(xLane, xK, 0x11));
}

__attribute__((target("sse2"))) inline __m128i Load(const unsigned char* puc)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(puc));
}

}  // namespace

bool Crc32ClmulAvailable()
{
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
}

__attribute__((target("pclmul,sse2"))) std::uint32_t Crc32Clmul(const unsigned char* pucData, std::size_t uLen,
                                                                std::uint32_t ulCrc)
{
    __m128i x0 = _mm_xor_si128(Load(pucData), _mm_cvtsi32_si128(static_cast<int>(ulCrc)));
    __m128i x1 = Load(pucData + 16), x2 = Load(pucData + 32), x3 = Load(pucData + 48);
    const unsigned char* puc = pucData + 64;
    const unsigned char* pucEnd = pucData + uLen;

    const __m128i xK512 = _mm_set_epi64x(K_FOLD_512_HI, K_FOLD_512_LO);
    for (; pucEnd - puc >= 64; puc += 64) {
        x0 = _mm_xor_si128(Fold(x0, xK512), Load(puc));
        x1 = _mm_xor_si128(Fold(x1, xK512), Load(puc + 16));
        x2 = _mm_xor_si128(Fold(x2, xK512), Load(puc + 32));
        x3 = _mm_xor_si128(Fold(x3, xK512), Load(puc + 48));
    }
    const __m128i xK128 = _mm_set_epi64x(K_FOLD_128_HI, K_FOLD_128_LO);
    __m128i x = _mm_xor_si128(Fold(x0, xK128), x1);
    x = _mm_xor_si128(Fold(x, xK128), x2);
    x = _mm_xor_si128(Fold(x, xK128), x3);
    for (; pucEnd - puc >= 16; puc += 16)
        x = _mm_xor_si128(Fold(x, xK128), Load(puc));

    // 128 bits to 64, then 64 to 32.
    const __m128i xMask32 = _mm_set_epi32(0, 0, 0, -1);
    x = _mm_xor_si128(_mm_clmulepi64_si128(x, xK128, 0x10), _mm_srli_si128(x, 8));
    x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, xMask32), _mm_set_epi64x(0, K_FOLD_64), 0x00),
                      _mm_srli_si128(x, 4));
    // Barrett reduction to the 32-bit remainder.
    const __m128i xBarrett = _mm_set_epi64x(K_MU, K_POLY);
    __m128i t = _mm_and_si128(_mm_clmulepi64_si128(_mm_and_si128(x, xMask32), xBarrett, 0x10), xMask32);
    x = _mm_xor_si128(x, _mm_clmulepi64_si128(t, xBarrett, 0x00));
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(x, 4)));
}

#else

bool Crc32ClmulAvailable()
{
    return false;
}

std::uint32_t Crc32Clmul(const unsigned char*, std::size_t, std::uint32_t ulCrc)
{
    return ulCrc;
}

#endif
