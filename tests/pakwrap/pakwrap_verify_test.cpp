// pakwrap FILE /v, run through the real binary: images made by the conversion
// modes from inputs built here, and images stamped here byte by byte.
#include <cstdio>

#include "pakwrap_test_util.h"

namespace {

class PakwrapVerify : public ::testing::Test {
protected:
    // Converts `input` with the switches and returns the output's path.
    std::string Make(const std::string& name, const Bytes& input, std::vector<std::string> args)
    {
        args.insert(args.begin(), {dir.Write(name + ".in", input), dir.Path(name)});
        EXPECT_EQ(RunArgs(args).iStatus, 0) << name;
        return dir.Path(name);
    }
    // Verifies the file; the lines after the announcement go to *pOut.
    int Verify(const std::string& path, std::string* pOut = nullptr)
    {
        RunResult r = RunArgs({path, "/v"});
        EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), "Verify: " + path + "\n");
        if (pOut != nullptr)
            *pOut = r.out.substr(r.out.find('\n') + 1);
        return r.iStatus;
    }
    ScratchDir dir;
};

std::string Hex(std::uint32_t ulValue)
{
    char line[16];
    std::snprintf(line, sizeof line, "0x%08x", ulValue);
    return line;
}

std::string Check(const std::string& name, std::uint32_t stored, std::uint32_t computed)
{
    return name + ": stored " + Hex(stored) + ", computed " + Hex(computed) +
           (stored == computed ? ": ok\n" : ": MISMATCH\n");
}

Bytes Flipped(Bytes data, std::size_t pos)
{
    data.at(pos) ^= 0x20;
    return data;
}

const Bytes kRestart = {0x01, 0x46, 0x55, 0x2D, 0x2D, 0x2D, 0x2D, 0x72, 0x4E, 0x17};

// Stamped here, and as the conversion stamps them: every line of the report.
TEST_F(PakwrapVerify, HandStampedImagesReportEveryField)
{
    Bytes sh3 = Sh3Image(70000, 1);
    PutBE(sh3, 144, 0x12345678u);
    PutBE(sh3, 4, RefCrc(sh3.data() + 148, 70000));
    EXPECT_EQ(ReadBytes(Make("sh3", Sh3Image(70000, 1), {"/s:12345678"})), sh3);
    std::string out;
    EXPECT_EQ(Verify(dir.Write("sh3.hand", sh3), &out), 0);
    EXPECT_EQ(out, "Kind: SH3 image\nTag: SH3\nAddress: 0x12345678\n" +
                       Check("CRC", RefCrc(sh3.data() + 148, 70000), RefCrc(sh3.data() + 148, 70000)));

    Bytes sh2 = Sh2Image(300, 5000, 2);
    std::uint32_t crc = RefCrc(sh2.data() + 300, 4700);
    PutLE(sh2, 128, 0x8000);
    PutLE(sh2, 156, 4700);
    PutLE(sh2, 208, crc);
    EXPECT_EQ(Verify(dir.Write("sh2.hand", sh2), &out), 0);
    EXPECT_EQ(out, "Kind: SH2 image\nHeader length: 0x0000012c\nAddress: 0x00008000\n" +
                       Check("Total length", 4700, 4700) + Check("CRC", crc, crc));
    PutLE(sh2, 156, 4701);
    EXPECT_EQ(Verify(dir.Write("sh2.long", sh2), &out), 1);
    EXPECT_NE(out.find(Check("Total length", 4701, 4700)), std::string::npos) << out;
}

// Every kind the modes make verifies; one flipped byte of its payload fails.
TEST_F(PakwrapVerify, EveryKindGoodAndDamaged)
{
    struct {
        std::string name;
        Bytes input;
        std::vector<std::string> args;
        std::string kind;
    } cases[] = {
        {"sh2", Sh2Image(212, 123456, 3), {"/s:8000"}, "SH2 image"},
        {"sh2-header-past-a-block", Sh2Image(60001, 150000, 4), {"/s"}, "SH2 image"},
        {"sh3", Sh3Image(120000, 5), {"/s"}, "SH3 image"},
        {"atmel", Sh3Image(3000, 6, "AT1"), {"/a"}, "Atmel image"},
        {"slic", Sh3Image(0, 7, "SLC"), {"/l"}, "SLIC image"},
        {"custom", NoiseBytes(999, 8), {"/s", "/XYZ:7:-1:2:some text"}, "custom header record"},
        {"font", Text("123456789"), {"/f"}, "font"},
    };
    for (const auto& c : cases) {
        std::string path = Make(c.name, c.input, c.args);
        std::string out;
        EXPECT_EQ(Verify(path, &out), 0) << c.name << "\n" << out;
        EXPECT_EQ(out.substr(0, out.find('\n')), "Kind: " + c.kind) << c.name;
        EXPECT_EQ(out.find("MISMATCH"), std::string::npos) << out;
        Bytes image = ReadBytes(path);
        if (image.size() > 300) {
            EXPECT_EQ(Verify(dir.Write(c.name + ".bad", Flipped(image, image.size() - 1)), &out), 1) << c.name;
            EXPECT_NE(out.find("CRC: stored"), std::string::npos) << c.name << "\n" << out;
            EXPECT_NE(out.find(": MISMATCH\n"), std::string::npos) << c.name << "\n" << out;
        }
    }
    std::string out;
    EXPECT_EQ(Verify(dir.Path("custom"), &out), 0);
    EXPECT_EQ(out.substr(out.find("Tag:")), "Tag: XYZ\nNumbers: 0x00000007 0xffffffff 0x00000002\nText: some text\n" +
                                                Check("CRC", RefCrc(NoiseBytes(999, 8)), RefCrc(NoiseBytes(999, 8))));
    // A damaged font names no layout: it is of no known kind.
    EXPECT_EQ(Verify(dir.Write("font.bad", Flipped(ReadBytes(dir.Path("font")), 5)), &out), 1);
    EXPECT_EQ(out, "Kind: no known kind\n");
}

// An SH2 header shorter than its fields: the CRC covers itself.
TEST_F(PakwrapVerify, Sh2CrcInsideTheCoveredBytesIsNotChecked)
{
    std::string out;
    EXPECT_EQ(Verify(Make("short", Sh2Image(100, 4000, 9), {"/s"}), &out), 0);
    EXPECT_NE(out.find(Check("Total length", 3900, 3900)), std::string::npos) << out;
    EXPECT_NE(out.find(", not checkable: it lies in the bytes it covers\n"), std::string::npos) << out;
}

// Where layouts overlap, the first whose checks hold is the kind.
TEST_F(PakwrapVerify, OverlappingLayouts)
{
    Bytes font;
    for (std::uint32_t seed = 0; font.empty(); seed++)
        if ((RefCrc(NoiseBytes(500, seed)) & 0xFF) == 0x01)
            font = NoiseBytes(500, seed);
    std::string out;
    EXPECT_EQ(Verify(Make("font", font, {"/f"}), &out), 0);
    EXPECT_EQ(out.substr(0, out.find('\n')), "Kind: font") << "its first byte 0x01 marks an SH2 image too";

    EXPECT_EQ(Verify(Make("record", NoiseBytes(300, 1), {"/s", "/SH3:1:2:3:x"}), &out), 0);
    EXPECT_EQ(out.substr(0, out.find('\n')), "Kind: SH3 image");
}

TEST_F(PakwrapVerify, FileStoreWrappers)
{
    Bytes image = ReadBytes(Make("sh3", Sh3Image(60000, 2), {"/s:1000"}));
    std::string store = Make("store", image, {"/r", "/m=C:/FW/APP.IMG"});
    // Built here: the header, the image, the restart command.
    std::string head = "^FCGC--r0_\x01"
                       "FMIO--rC:/FW\x17\x01"
                       "MC:/FW/APP.IMG*60148\x17";
    EXPECT_EQ(ReadBytes(store), Concat({Text(head), image, kRestart}));
    std::string out;
    EXPECT_EQ(Verify(store, &out), 0);
    std::uint32_t crc = RefCrc(image.data() + 148, 60000);
    EXPECT_EQ(out, "Kind: file-store wrapper\nPrologue: ok\nTarget: C:/FW/APP.IMG\n"
                   "Length: announced 0x0000eaf4, following 0x0000eaf4: ok\nRestart command: yes\n"
                   "Stored file at " +
                       Hex(46) + ":\n  Kind: SH3 image\n  Tag: SH3\n  Address: 0x00001000\n  " +
                       Check("CRC", crc, crc));

    Bytes bad = Flipped(ReadBytes(store), head.size() + 30000);
    EXPECT_EQ(Verify(dir.Write("bad", bad), &out), 1);
    EXPECT_NE(out.find("  CRC: stored " + Hex(crc)), std::string::npos) << out;
    EXPECT_NE(out.find(": MISMATCH\n"), std::string::npos) << out;

    Bytes cut = ReadBytes(store);
    cut.resize(cut.size() - 20);
    EXPECT_EQ(Verify(dir.Write("cut", cut), &out), 1);
    EXPECT_NE(out.find("Length: announced 0x0000eaf4, following 0x0000eaea: MISMATCH\nRestart command: no\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Stored file"), std::string::npos) << out;

    // Any file can be stored: a text of no known kind fails nothing.
    EXPECT_EQ(Verify(Make("text", Text("Plain text, no header.\n"), {"/m=A.TXT"}), &out), 0);
    EXPECT_NE(out.find("Restart command: no\nStored file at 0x0000001f:\n  Kind: no known kind\n"), std::string::npos)
        << out;
}

TEST_F(PakwrapVerify, NoKnownKindAndUnreadableFilesFail)
{
    std::string out;
    EXPECT_EQ(Verify(dir.Write("text", Text("Plain text, no header.\n")), &out), 1);
    EXPECT_EQ(out, "Kind: no known kind\n");
    EXPECT_EQ(Verify(dir.Write("empty", Bytes{}), &out), 1);
    EXPECT_EQ(out, "Kind: no known kind\n");
    // A tag names its layout, whose fields a short file lacks.
    Bytes shortSh3 = Sh3Image(0, 1);
    shortSh3.pop_back();
    EXPECT_EQ(Verify(dir.Write("short", shortSh3), &out), 1);
    EXPECT_EQ(out, "Kind: SH3 image\nSize: 0x00000093, needed 0x00000094: MISMATCH\n");

    RunResult r = RunArgs({dir.Path("none"), "/v"});
    EXPECT_EQ(r.iStatus, 1);
    EXPECT_EQ(r.out, "Verify: " + dir.Path("none") + "\nFailed to open file " + dir.Path("none") + ".\n");
}

}  // namespace
