// CRC-32: known check values, the constant table, and chaining across blocks.
#include "crc32.h"
#include "pakwrap_test_util.h"

#include <algorithm>
#include <cstring>

namespace {

std::uint32_t Whole(const unsigned char* puc, int n)
{
    return Crc32(puc, n, 0xFFFFFFFFu) ^ 0xFFFFFFFFu;
}

TEST(Crc32, KnownCheckValues)
{
    const char* digits = "123456789";
    EXPECT_EQ(Whole(reinterpret_cast<const unsigned char*>(digits), 9), 0xCBF43926u);
    const char* fox = "The quick brown fox jumps over the lazy dog";
    EXPECT_EQ(Whole(reinterpret_cast<const unsigned char*>(fox), 43), 0x414FA339u);
    EXPECT_EQ(Whole(nullptr, 0), 0u);
}

TEST(Crc32, TableMatchesPolynomial)
{
    EXPECT_EQ(ulCrc32Table[0], 0u);
    EXPECT_EQ(ulCrc32Table[1], 0x77073096u);
    EXPECT_EQ(ulCrc32Table[255], 0x2D02EF8Du);
    for (std::uint32_t n = 0; n < 256; n++) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; k++)
            c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        ASSERT_EQ(ulCrc32Table[n], c) << "entry " << n;
    }
}

TEST(Crc32, ZeroOrNegativeLengthLeavesValue)
{
    unsigned char b[4] = {1, 2, 3, 4};
    EXPECT_EQ(Crc32(b, 0, 0x12345678u), 0x12345678u);
    EXPECT_EQ(Crc32(b, -1, 0x12345678u), 0x12345678u);
    EXPECT_EQ(Crc32(b, -100, 0xFFFFFFFFu), 0xFFFFFFFFu);
}

// Every length and alignment around the eight-byte steps agrees with the
// bitwise reference.
TEST(Crc32, AgreesWithBitwiseAtAllLengthsAndOffsets)
{
    Bytes data = NoiseBytes(300, 7);
    for (std::size_t off = 0; off < 9; off++)
        for (std::size_t len = 0; len + off <= data.size(); len++)
            ASSERT_EQ(Whole(data.data() + off, static_cast<int>(len)), RefCrc(data.data() + off, len))
                << "offset " << off << " length " << len;
}

TEST(Crc32, ChainedBlocksEqualOneCall)
{
    Bytes data = NoiseBytes(100000, 3);
    std::uint32_t expected = RefCrc(data);
    for (std::size_t step : {1u, 3u, 7u, 8u, 13u, 4096u, 50000u, 99999u}) {
        std::uint32_t crc = 0xFFFFFFFFu;
        for (std::size_t pos = 0; pos < data.size(); pos += step) {
            std::size_t n = std::min(step, data.size() - pos);
            crc = Crc32(data.data() + pos, static_cast<int>(n), crc);
        }
        EXPECT_EQ(crc ^ 0xFFFFFFFFu, expected) << "step " << step;
    }
}

}  // namespace
