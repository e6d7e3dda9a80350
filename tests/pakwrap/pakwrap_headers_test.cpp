// Header layouts: recognising image kinds, stamping their fields, and the
// records put in front of an input.
#include "headers.h"
#include "pakwrap_test_util.h"

namespace {

ImageKind Kind(const Bytes& b, std::uint32_t* h = nullptr)
{
    std::uint32_t len = 0xDEADBEEF;
    ImageKind kind = RecogniseKind(b.data(), static_cast<int>(b.size()), &len);
    if (h != nullptr)
        *h = len;
    return kind;
}

TEST(Recognise, Sh2ByFirstOrSecondByteAndHeaderLengthLittleEndian)
{
    std::uint32_t h = 0;
    Bytes b = NoiseBytes(64, 1);
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
    std::uint32_t h = 148;
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
    std::uint32_t h = 0;
    EXPECT_EQ(RecogniseKind(buf, 3, &h), ImageKind::Unknown);
    EXPECT_EQ(RecogniseKind(buf, 0, &h), ImageKind::Unknown);
    unsigned char q[8] = {'x', 0x71, 0, 0, 9, 9, 9, 9};
    EXPECT_EQ(RecogniseKind(q, 1, &h), ImageKind::Unknown);
    EXPECT_EQ(RecogniseKind(q, 6, &h), ImageKind::Sh2);
    EXPECT_EQ(h, 0x0909u) << "header length bytes past the end read as zero";
}

TEST(Stamp, Sh2FieldsLittleEndianAddressOnlyWhenGiven)
{
    Bytes block = NoiseBytes(300, 2);
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
        Bytes block = NoiseBytes(200, 3);
        Bytes expected = block;
        StampBlock(block.data(), kind, 0xCBF43926u, 0x99999999u, NO_ADDRESS);
        expected[4] = 0xCB, expected[5] = 0xF4, expected[6] = 0x39, expected[7] = 0x26;
        EXPECT_EQ(block, expected) << "kind " << static_cast<int>(kind) << ": no length, no address";
        StampBlock(block.data(), kind, 0xCBF43926u, 0x99999999u, 0x12345678u);
        expected[144] = 0x12, expected[145] = 0x34, expected[146] = 0x56, expected[147] = 0x78;
        EXPECT_EQ(block, expected) << "kind " << static_cast<int>(kind);
    }
}

TEST(Holds, Sh2NeedsItsCrcFieldAndHeaderTaggedKindsTheirHeader)
{
    EXPECT_TRUE(HoldsStampedFields(ImageKind::Sh2, 212, 212));
    EXPECT_FALSE(HoldsStampedFields(ImageKind::Sh2, 211, 0));
    EXPECT_FALSE(HoldsStampedFields(ImageKind::Sh2, 4000, 5000));
    for (ImageKind kind : {ImageKind::Sh3, ImageKind::Atmel, ImageKind::Slic}) {
        EXPECT_TRUE(HoldsStampedFields(kind, 148, 148)) << static_cast<int>(kind);
        EXPECT_FALSE(HoldsStampedFields(kind, 147, 148)) << static_cast<int>(kind);
    }
}

TEST(Custom, RecordOfTagNumbersAndTextWithCrcBigEndian)
{
    const std::uint32_t aulNumbers[] = {7, 0xFFFFFFFFu, 2};
    Bytes record(CUSTOM_HEADER_LEN, 0xEE);
    MakeCustomHeader(record.data(), "SH3:7", aulNumbers, "abc");
    StampCustomHeader(record.data(), 0xCBF43926u);
    Bytes expected(148, 0);
    expected[0] = 'S', expected[1] = 'H', expected[2] = '3';
    PutBE(expected, 4, 0xCBF43926u);
    PutBE(expected, 8, 7);
    PutBE(expected, 12, 0xFFFFFFFFu);
    PutBE(expected, 16, 2);
    expected[20] = 'a', expected[21] = 'b', expected[22] = 'c';
    EXPECT_EQ(record, expected);

    std::string text(200, 'T');
    MakeCustomHeader(record.data(), "TAG", aulNumbers, text.c_str());
    EXPECT_EQ(Bytes(record.begin() + 20, record.end()), Bytes(128, 'T')) << "the text is cut at its field's end";
}

TEST(Font, CrcLittleEndian)
{
    Bytes header(FONT_HEADER_LEN);
    MakeFontHeader(header.data(), 0xCBF43926u);
    EXPECT_EQ(header, (Bytes{0x26, 0x39, 0xF4, 0xCB}));
}

TEST(Store, HeaderCreatesTheDirectoryAndAnnouncesNameAndSize)
{
    char pcBuf[600];
    int iLen = MakeStoreHeader(pcBuf, sizeof pcBuf, "C:/FONTS/A.TTF", 1234);
    EXPECT_EQ(std::string(pcBuf, static_cast<std::size_t>(iLen)), "^FCGC--r0_\x01"
                                                                  "FMIO--rC:/FONTS\x17\x01"
                                                                  "MC:/FONTS/A.TTF*1234\x17");
    iLen = MakeStoreHeader(pcBuf, sizeof pcBuf, "A.TTF", 5000000000LL);
    EXPECT_EQ(std::string(pcBuf, static_cast<std::size_t>(iLen)), "^FCGC--r0_\x01"
                                                                  "FMIO--rA\x17\x01"
                                                                  "MA.TTF*5000000000\x17")
        << "a name without a separator keeps its first character";
}

TEST(ReadBack, StampedFieldsAndRecordsAsWritten)
{
    Bytes sh2 = NoiseBytes(300, 4);
    StampBlock(sh2.data(), ImageKind::Sh2, 0xA1B2C3D4u, 0x01020304u, 0x12345678u);
    HeaderFields fields;
    ReadHeaderFields(sh2.data(), ImageKind::Sh2, &fields);
    EXPECT_EQ(fields.ulCRC, 0xA1B2C3D4u);
    EXPECT_EQ(fields.ulTotallen, 0x01020304u);
    EXPECT_EQ(fields.ulDestAddr, 0x12345678u);

    const std::uint32_t aulNumbers[] = {7, 0xFFFFFFFFu, 2};
    Bytes record(CUSTOM_HEADER_LEN);
    MakeCustomHeader(record.data(), "XYZ", aulNumbers, std::string(200, 'T').c_str());
    StampCustomHeader(record.data(), 0xCBF43926u);
    ReadHeaderFields(record.data(), ImageKind::Unknown, &fields);
    EXPECT_EQ(std::string(fields.acTag) + std::string(fields.acText), "XYZ" + std::string(128, 'T'));
    EXPECT_EQ(fields.ulCRC, 0xCBF43926u);
    EXPECT_EQ(fields.aulNumbers[1], 0xFFFFFFFFu);
    EXPECT_TRUE(HasAnyTag(record.data(), 4));
    EXPECT_FALSE(HasAnyTag(record.data(), 3));
    EXPECT_FALSE(HasAnyTag(Bytes{'X', 0, 'Z', 0}.data(), 4));

    EXPECT_EQ(ReadFontHeader(Bytes{0x26, 0x39, 0xF4, 0xCB}.data()), 0xCBF43926u);
}

TEST(ReadBack, StoreHeaderAsWrittenOrNot)
{
    char pcBuf[600];
    int iLen = MakeStoreHeader(pcBuf, sizeof pcBuf, "C:/FONTS/A*B.TTF", 1234);
    std::string header(pcBuf, static_cast<std::size_t>(iLen));
    StoreHeaderFields fields;
    Bytes block = Text(header + "data after it");
    ASSERT_TRUE(ReadStoreHeader(block.data(), static_cast<int>(block.size()), &fields));
    EXPECT_TRUE(fields.bRead && fields.bExact);
    EXPECT_EQ(fields.iLen, iLen);
    EXPECT_EQ(std::string(fields.acTarget), "C:/FONTS/A*B.TTF");
    EXPECT_EQ(fields.llAnnounced, 1234);

    std::string wrongDir = header;
    wrongDir.replace(wrongDir.find("FONTS\x17"), 5, "FONTZ");
    block = Text(wrongDir);
    ASSERT_TRUE(ReadStoreHeader(block.data(), static_cast<int>(block.size()), &fields));
    EXPECT_TRUE(fields.bRead && !fields.bExact);

    // Cut before its end, inside its name, or a length that is no number.
    std::string notANumber = header.substr(0, header.size() - 1) + "x\x17";
    for (const std::string& bad : {header.substr(0, header.size() - 1), header.substr(0, 30), notANumber}) {
        block = Text(bad);
        ASSERT_TRUE(ReadStoreHeader(block.data(), static_cast<int>(block.size()), &fields)) << bad;
        EXPECT_FALSE(fields.bRead) << bad;
    }
    block = Text("^FCGC--r0_\x01"
                 "FMIO-");  // the prologue cut short
    EXPECT_FALSE(ReadStoreHeader(block.data(), static_cast<int>(block.size()), &fields));
}

}  // namespace
