// Header layouts: recognising image kinds and stamping their fields.
#include "headers.h"
#include "pakwrap.h"
#include "pakwrap_test_util.h"

namespace {

ImageKind Kind(const Bytes& b, uint32_t* h = nullptr)
{
    uint32_t len = 0xDEADBEEF;
    ImageKind kind = RecogniseKind(b.data(), static_cast<int>(b.size()), &len);
    if (h != nullptr)
        *h = len;
    return kind;
}

TEST(Recognise, Sh2ByFirstOrSecondByteAndHeaderLengthLittleEndian)
{
    uint32_t h = 0;
    Bytes b = Noise(64, 1);
    b[0] = 0x01;
    b[1] = 0x00;
    b[4] = 0xD4, b[5] = 0x00, b[6] = 0x00, b[7] = 0x00;
    EXPECT_EQ(Kind(b, &h), ImageKind::Sh2);
    EXPECT_EQ(h, 212u);

    b[0] = 'S';  // "Sq": the second byte alone decides
    b[1] = 0x71;
    b[4] = 0x01, b[5] = 0x02, b[6] = 0x03, b[7] = 0x84;
    EXPECT_EQ(Kind(b, &h), ImageKind::Sh2);
    EXPECT_EQ(h, 0x84030201u);

    b[1] = 0x70;
    EXPECT_EQ(Kind(b), ImageKind::Unknown);
}

TEST(Recognise, TagsNeedTheirNulByte)
{
    uint32_t h = 148;
    EXPECT_EQ(Kind(Text(std::string("SH3\0xyz", 7)), &h), ImageKind::Sh3);
    EXPECT_EQ(h, 0xDEADBEEFu) << "the tagged kinds leave the header length alone";
    for (const char* tag : {"ATM", "ATI", "AT0", "AT1"})
        EXPECT_EQ(Kind(Text(std::string(tag, 3) + std::string(1, '\0') + "rest")), ImageKind::Atmel) << tag;
    EXPECT_EQ(Kind(Text(std::string("SLC\0", 4))), ImageKind::Slic);
    EXPECT_EQ(Kind(Text("SH3x....")), ImageKind::Unknown);
    EXPECT_EQ(Kind(Text(std::string("AT2\0", 4))), ImageKind::Unknown);
    EXPECT_EQ(Kind(Text(std::string("sh3\0", 4))), ImageKind::Unknown);
}

// Bytes beyond the input never match, whatever the buffer holds after it.
TEST(Recognise, MissingBytesDoNotMatch)
{
    unsigned char buf[8] = {'S', 'H', '3', 0, 0, 0, 0, 0};
    uint32_t h = 0;
    EXPECT_EQ(RecogniseKind(buf, 3, &h), ImageKind::Unknown);
    EXPECT_EQ(RecogniseKind(buf, 0, &h), ImageKind::Unknown);
    unsigned char q[8] = {'x', 0x71, 0, 0, 9, 9, 9, 9};
    EXPECT_EQ(RecogniseKind(q, 1, &h), ImageKind::Unknown);
    EXPECT_EQ(RecogniseKind(q, 6, &h), ImageKind::Sh2);
    EXPECT_EQ(h, 0x0909u) << "header length bytes past the end read as zero";
}

TEST(Stamp, Sh2FieldsLittleEndianAddressOnlyWhenGiven)
{
    Bytes block = Noise(300, 2);
    Bytes expected = block;
    StampBlock(block.data(), ImageKind::Sh2, 0xA1B2C3D4u, 0x01020304u, NO_ADDRESS);
    PutLE(expected, 208, 0xA1B2C3D4u);
    PutLE(expected, 156, 0x01020304u);
    EXPECT_EQ(block, expected);

    StampBlock(block.data(), ImageKind::Sh2, 0xA1B2C3D4u, 0x01020304u, 0x12345678u);
    expected[128] = 0x78, expected[129] = 0x56, expected[130] = 0x34, expected[131] = 0x12;
    EXPECT_EQ(block, expected);
}

TEST(Stamp, TaggedKindsBigEndianCrcAndAddress)
{
    for (ImageKind kind : {ImageKind::Sh3, ImageKind::Atmel, ImageKind::Slic}) {
        Bytes block = Noise(200, 3);
        Bytes expected = block;
        StampBlock(block.data(), kind, 0xCBF43926u, 0x99999999u, NO_ADDRESS);
        expected[4] = 0xCB, expected[5] = 0xF4, expected[6] = 0x39, expected[7] = 0x26;
        EXPECT_EQ(block, expected) << "kind " << static_cast<int>(kind) << ": no length, no address";
        StampBlock(block.data(), kind, 0xCBF43926u, 0x99999999u, 0x12345678u);
        expected[144] = 0x12, expected[145] = 0x34, expected[146] = 0x56, expected[147] = 0x78;
        EXPECT_EQ(block, expected) << "kind " << static_cast<int>(kind);
    }
}

}  // namespace
