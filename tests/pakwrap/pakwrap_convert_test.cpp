// pakwrap conversion, run through the real binary: every output layout byte for
// byte against images built here by hand, and the failures with their statuses.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "pakwrap_test_util.h"

namespace {

class PakwrapConvert : public ::testing::Test {
protected:
    // Converts `input` with the switch (and fifth argument) and returns the run.
    RunResult Convert(const Bytes& input, const std::string& sw, const std::string& fifth = "")
    {
        dir.Write("in.bin", input);
        std::vector<std::string> args = {dir.Path("in.bin"), dir.Path("out.bin"), sw};
        if (!fifth.empty())
            args.push_back(fifth);
        return RunArgs(args);
    }
    Bytes Output() const { return ReadBytes(dir.Path("out.bin")); }
    ScratchDir dir;
};

std::string Report(std::uint32_t crc, int total)
{
    char line[64];
    std::snprintf(line, sizeof line, "CRC:%08x Total len:%d\n", crc, total);
    return line;
}

TEST_F(PakwrapConvert, FontPutsLittleEndianCrcOfWholeInputInFront)
{
    Bytes in = Text("123456789");
    RunResult r = Convert(in, "/f");
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.out.substr(r.out.find('\n') + 1), Report(0xCBF43926u, 5));
    EXPECT_EQ(Output(), Concat({{0x26, 0x39, 0xF4, 0xCB}, in}));

    r = Convert({}, "/f");
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.out.substr(r.out.find('\n') + 1), Report(0, -4));
    EXPECT_EQ(Output(), Bytes(4, 0));
}

TEST_F(PakwrapConvert, Sh3StampsBigEndianCrcAndAddressAcrossBlocks)
{
    Bytes in = Sh3Image(120000, 11);  // spans three 50000-byte blocks
    Bytes payload(in.begin() + 148, in.end());
    Bytes expected = in;
    PutBE(expected, 4, RefCrc(payload));
    RunResult r = Convert(in, "/s");
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_NE(r.out.find(Report(RefCrc(payload), 120000)), std::string::npos) << r.out;
    EXPECT_EQ(Output(), expected);

    r = Convert(in, "/s:12345678");
    expected[144] = 0x12, expected[145] = 0x34, expected[146] = 0x56, expected[147] = 0x78;
    EXPECT_EQ(Output(), expected);
}

// A sign is no hexadecimal digit: no address is read, and the image's own
// address field stays as it is, as with /s alone.
TEST_F(PakwrapConvert, AddressWithASignIsNoAddress)
{
    Bytes in = Sh3Image(3000, 12);
    PutBE(in, 144, 0x11223344u);
    Bytes expected = in;
    PutBE(expected, 4, RefCrc(in.data() + 148, 3000));
    for (const char* sw : {"/s", "/s:-1", "/s:+12", "/s:-0x10"}) {
        RunResult r = Convert(in, sw);
        EXPECT_EQ(r.iStatus, 0) << sw;
        EXPECT_EQ(Output(), expected) << sw;
    }
}

TEST_F(PakwrapConvert, Sh3OfExactlyHeaderSizeGetsCrcOfNothing)
{
    RunResult r = Convert(Sh3Image(0, 1), "/l");
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_NE(r.out.find(Report(0, 0)), std::string::npos);
    EXPECT_EQ(Output(), Sh3Image(0, 1)) << "CRC of no payload is zero";
}

TEST_F(PakwrapConvert, AtmelAndSlicTagsInAnyImageMode)
{
    for (const char* tag : {"ATM", "ATI", "AT0", "AT1", "SLC"}) {
        Bytes in = Sh3Image(1000, 5, tag);
        Bytes expected = in;
        PutBE(expected, 4, RefCrc(in.data() + 148, 1000));
        Convert(in, "/a");
        EXPECT_EQ(Output(), expected) << tag;
        Convert(in, "/s:A0B0C0D0");
        PutBE(expected, 144, 0xA0B0C0D0u);
        EXPECT_EQ(Output(), expected) << tag << " with /s and an address";
    }
}

TEST_F(PakwrapConvert, Sh2StampsLittleEndianFieldsFromItsOwnHeaderLength)
{
    Bytes in = Sh2Image(212, 123456, 9);
    std::uint32_t crc = RefCrc(in.data() + 212, in.size() - 212);
    Bytes expected = in;
    PutLE(expected, 208, crc);
    PutLE(expected, 156, 123456 - 212);
    RunResult r = Convert(in, "/a");
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_NE(r.out.find(Report(crc, 123456 - 212)), std::string::npos) << r.out;
    EXPECT_EQ(Output(), expected);

    Convert(in, "/s:12345678");
    expected[128] = 0x78, expected[129] = 0x56, expected[130] = 0x34, expected[131] = 0x12;
    EXPECT_EQ(Output(), expected);

    // The second byte 0x71 marks an SH2 image too; a custom header is not used.
    in[0] = 0x7E;
    in[1] = 0x71;
    expected = in;
    PutLE(expected, 208, crc);
    PutLE(expected, 156, 123456 - 212);
    r = Convert(in, "/s", "/ABC:1:2:3:unused");
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(Output(), expected);
}

// A header longer than one 50000-byte block: the CRC still starts at byte H.
TEST_F(PakwrapConvert, Sh2HeaderLongerThanOneBlock)
{
    Bytes in = Sh2Image(60001, 150000, 4);
    std::uint32_t crc = RefCrc(in.data() + 60001, in.size() - 60001);
    Bytes expected = in;
    PutLE(expected, 208, crc);
    PutLE(expected, 156, 150000 - 60001);
    RunResult r = Convert(in, "/s");
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(Output(), expected);
}

TEST_F(PakwrapConvert, CustomHeaderRecordInFrontOfTaggedOrUnknownInput)
{
    for (const Bytes& in : {Sh3Image(70000, 8), NoiseBytes(999, 2), Bytes{}}) {
        Bytes rec(148, 0);
        rec[0] = 'S', rec[1] = 'H', rec[2] = '3';
        PutBE(rec, 4, RefCrc(in));
        PutBE(rec, 8, 7);
        PutBE(rec, 12, 0xFFFFFFFFu);
        PutBE(rec, 16, 2);
        rec[20] = 'a', rec[21] = 'b', rec[22] = 'c';
        RunResult r = Convert(in, "/s:1000", "/SH3:7:-1:2:abc");
        EXPECT_EQ(r.iStatus, 0) << r.out;
        EXPECT_EQ(Output(), Concat({rec, in})) << "input of " << in.size() << " bytes";
    }
}

TEST_F(PakwrapConvert, CustomHeaderTextKeepsColonsAndIsCutAt128)
{
    Bytes in = NoiseBytes(10, 1);
    Convert(in, "/l", "xTAG:1:2:3:a:b");
    Bytes out = Output();
    ASSERT_EQ(out.size(), 158u);
    EXPECT_EQ(Bytes(out.begin() + 20, out.begin() + 24), Text(std::string("a:b\0", 4)));

    std::string text(600, 'T');
    text[127] = 'E';
    text[128] = 'X';
    Convert(in, "/l", "/TAG: 1:+2: 3:" + text);
    out = Output();
    ASSERT_EQ(out.size(), 158u);
    EXPECT_EQ(Bytes(out.begin() + 8, out.begin() + 20), (Bytes{0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3}));
    EXPECT_EQ(Bytes(out.begin() + 20, out.begin() + 148), Text(text.substr(0, 128)));
    EXPECT_EQ(Bytes(out.begin() + 148, out.end()), in);
}

TEST_F(PakwrapConvert, FileStoreWrapperWithDirectoryTextAndRestart)
{
    Bytes in = NoiseBytes(1234, 6);
    RunResult r = Convert(in, "/m=C:/FONTS/A.TTF");
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(Output(), Concat({Text("^FCGC--r0_\x01"
                                     "FMIO--rC:/FONTS\x17\x01"
                                     "MC:/FONTS/A.TTF*1234\x17"),
                                in}));

    struct {
        std::string name, dirText;
    } names[] = {{"A.TTF", "A"}, {"C:\\F\\", "C:\\F"}, {"/X", ""}, {"", ""}, {"a/b\\c", "a/b"}};
    Bytes restart = {0x01, 0x46, 0x55, 0x2D, 0x2D, 0x2D, 0x2D, 0x72, 0x4E, 0x17};
    for (const auto& n : names) {
        r = Convert(in, "/r", "/m=" + n.name);
        EXPECT_EQ(r.iStatus, 0);
        EXPECT_EQ(Output(), Concat({Text("^FCGC--r0_\x01"
                                         "FMIO--r" +
                                         n.dirText +
                                         "\x17\x01"
                                         "M" +
                                         n.name + "*1234\x17"),
                                    in, restart}))
            << n.name;
    }

    r = Convert(NoiseBytes(120000, 2), "/m");
    EXPECT_EQ(r.iStatus, 1) << "no target name";
    EXPECT_EQ(Output(), Concat({Text("^FCGC--r0_\x01"
                                     "FMIO--r\x17\x01"
                                     "M*120000\x17"),
                                NoiseBytes(120000, 2)}));
}

TEST_F(PakwrapConvert, WrongBinFileLeavesEmptyOutput)
{
    const Bytes rejected[] = {
        NoiseBytes(500, 1),                                      // no known tag
        Text("SH3x" + std::string(200, '\0')),                   // tag without its NUL
        Text(std::string("SH3\0", 4)),                           // SH3 too short for its header
        Concat({Text(std::string("SH3\0", 4)), Bytes(143, 0)}),  // 147 bytes
        Sh2Image(212, 211, 3),                                   // too short for the CRC at 208
        Sh2Image(5000, 4000, 3),                                 // header longer than the image
        Bytes{},
        Bytes{0x71},  // second byte missing
    };
    for (const auto& in : rejected) {
        dir.Write("out.bin", Bytes(3, 1));
        RunResult r = Convert(in, "/s");
        EXPECT_EQ(r.iStatus, 1) << in.size();
        EXPECT_EQ(r.out,
                  "Convert firmware: " + dir.Path("in.bin") + " -> " + dir.Path("out.bin") + "\nWrong bin file!\n");
        EXPECT_TRUE(Output().empty());
    }
}

TEST_F(PakwrapConvert, SameFileIsRefusedBeforeAnythingIsTruncated)
{
    Bytes in = Sh3Image(100, 1);
    dir.Write("in.bin", in);
    ASSERT_EQ(link(dir.Path("in.bin").c_str(), dir.Path("hard").c_str()), 0);
    ASSERT_EQ(symlink(dir.Path("in.bin").c_str(), dir.Path("soft").c_str()), 0);
    for (const char* out : {"in.bin", "hard", "soft"}) {
        RunResult r = RunArgs({dir.Path("in.bin"), dir.Path(out), "/s"});
        EXPECT_EQ(r.iStatus, 1) << out;
        EXPECT_NE(r.out.find("same file"), std::string::npos) << r.out;
        EXPECT_EQ(ReadBytes(dir.Path("in.bin")), in) << out;
    }
    RunResult r = RunArgs({dir.Path("in.bin"), dir.Path("in.bin"), "/m=x"});
    EXPECT_EQ(r.iStatus, 1);
    EXPECT_EQ(ReadBytes(dir.Path("in.bin")), in);
}

TEST_F(PakwrapConvert, OpenReadAndWriteFailures)
{
    // Missing input: reported by name, an empty output stays behind.
    RunResult r = RunArgs({dir.Path("none"), dir.Path("out.bin"), "/f"});
    EXPECT_EQ(r.iStatus, 1);
    EXPECT_NE(r.out.find("Failed to open file " + dir.Path("none") + ".\n"), std::string::npos);
    EXPECT_TRUE(FileExists(dir.Path("out.bin")));
    EXPECT_TRUE(Output().empty());

    dir.Write("in.bin", NoiseBytes(10, 1));
    r = RunArgs({dir.Path("in.bin"), dir.Path("no/such/dir"), "/f"});
    EXPECT_EQ(r.iStatus, 1);
    EXPECT_NE(r.out.find("Failed to open file " + dir.Path("no/such/dir") + ".\n"), std::string::npos);

    // A directory opens but cannot be read.
    for (const char* sw : {"/f", "/m=x"}) {
        r = RunArgs({dir.Path(""), dir.Path("out.bin"), sw});
        EXPECT_EQ(r.iStatus, 1) << sw;
        EXPECT_NE(r.out.find("Failed to read " + dir.Path("") + ".\n"), std::string::npos) << r.out;
    }

    // A full disk: the conversion reports errno 28, the store its byte count.
    for (std::size_t size : {std::size_t{10}, std::size_t{200000}}) {
        dir.Write("in.bin", NoiseBytes(size, 1));
        r = RunArgs({dir.Path("in.bin"), "/dev/full", "/f"});
        EXPECT_EQ(r.iStatus, 1);
        EXPECT_NE(r.out.find("Failed to write /dev/full 28.\n"), std::string::npos) << r.out;
        r = RunArgs({dir.Path("in.bin"), "/dev/full", "/m=x"});
        EXPECT_EQ(r.iStatus, 1);
        EXPECT_NE(r.out.find("Problem writing file: 0\n"), std::string::npos) << r.out;
    }
}

// An input that cannot be read a second time (a pipe) is refused, not half-converted.
TEST_F(PakwrapConvert, UnseekableInputIsAReadFailure)
{
    ASSERT_EQ(mkfifo(dir.Path("fifo").c_str(), 0600), 0);
    for (const char* sw : {"/f", "/m=x"}) {
        pid_t pid = fork();
        if (pid == 0) {
            std::FILE* f = std::fopen(dir.Path("fifo").c_str(), "wb");
            if (f != nullptr) {
                std::fputs("some bytes", f);
                std::fclose(f);
            }
            _exit(0);
        }
        RunResult r = RunArgs({dir.Path("fifo"), dir.Path("out.bin"), sw});
        int ws;
        waitpid(pid, &ws, 0);
        EXPECT_EQ(r.iStatus, 1) << sw;
        EXPECT_NE(r.out.find("Failed to read " + dir.Path("fifo") + ".\n"), std::string::npos) << r.out;
        EXPECT_TRUE(Output().empty()) << sw;
    }
}

}  // namespace
