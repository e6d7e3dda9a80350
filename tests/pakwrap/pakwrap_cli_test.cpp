// pakwrap command line, run as a user runs it: rejections with the help text
// and status 2, mode announcements, destination addresses, custom headers.
#include <cstdlib>
#include <filesystem>

#include "pakwrap_test_util.h"

namespace {

class PakwrapCli : public ::testing::Test {
protected:
    void SetUp() override { dir.Write("in.bin", Concat({Text(std::string("SH3\0", 4)), Bytes(200, 0x5A)})); }
    RunResult Run(std::vector<std::string> args)
    {
        for (auto& a : args)
            if (a == "IN" || a == "OUT")
                a = dir.Path(a == "IN" ? "in.bin" : "out.bin");
        return RunArgs(args);
    }
    std::string In() const { return dir.Path("in.bin"); }
    std::string Out() const { return dir.Path("out.bin"); }
    ScratchDir dir;
};

TEST_F(PakwrapCli, RejectionsPrintHelpWithStatus2AndTouchNoFile)
{
    const std::vector<std::vector<std::string>> rejected = {
        {},
        {"IN", "OUT"},
        {"IN", "/V"},  // verifying is /v alone
        {"IN", "/vv"},
        {"/v", "IN"},
        {"IN", "OUT", "/v"},
        {"IN", "OUT", "/s", "/SH3:1:2:3:x", "extra"},
        {"IN", "OUT", "s"},                    // no leading slash
        {"IN", "OUT", "/"},                    // no letter
        {"IN", "OUT", "/x"},                   // letter outside the table
        {"IN", "OUT", "/S"},                   // letters are lowercase only
        {"IN", "OUT", "/r"},                   // restart without a store switch
        {"IN", "OUT", "/r", "/x=name"},        // fifth argument not of the /m form
        {"IN", "OUT", "/s", "/SH33:1:2:3:x"},  // four-character tag
        {"IN", "OUT", "/s", "/SH3:1:2:3"},     // fewer than four colons
        {"IN", "OUT", "/s", "/SH3:1"},
        {"IN", "OUT", "/s", "/SH"},
        {"IN", "OUT", "/s", ""},
        {"IN", "OUT", "/m=" + std::string(260, 'n')},  // target name too long
        {"IN", "OUT", "/s:123456789"},                 // address beyond 32 bits
    };
    for (const auto& args : rejected) {
        RunResult r = Run(args);
        std::string shown;
        for (const auto& a : args)
            shown += "[" + a + "] ";
        EXPECT_EQ(r.iStatus, 2) << shown;
        EXPECT_EQ(r.out, kHelpText) << shown;
        EXPECT_FALSE(FileExists(dir.Path("out.bin"))) << shown;
    }
}

TEST_F(PakwrapCli, ModeAnnouncements)
{
    const std::string io = In() + " -> " + Out();
    struct Case {
        std::vector<std::string> args;
        std::string first_line;
    } cases[] = {
        {{"IN", "OUT", "/a"}, "Convert Atmel software: " + io},
        {{"IN", "OUT", "/font"}, "Convert font: " + io},
        {{"IN", "OUT", "/l"}, "Convert Slic software: " + io},
        {{"IN", "OUT", "/s"}, "Convert firmware: " + io},
        {{"IN", "OUT", "/sx"}, "Convert firmware: " + io},
        {{"IN", "OUT", "/s:zz"}, "Convert firmware: " + io},
        {{"IN", "OUT", "/s:-1"}, "Convert firmware: " + io},
        {{"IN", "OUT", "/s:+1000"}, "Convert firmware: " + io},
        {{"IN", "OUT", "/s:FFFFFFFF"}, "Convert firmware: " + io},
        {{"IN", "OUT", "/s:1000"}, "Convert firmware: " + io + ":1000"},
        {{"IN", "OUT", "/s:0x1A2b"}, "Convert firmware: " + io + ":1a2b"},
        {{"IN", "OUT", "/m=C:/X.BIN"}, "Add file header: " + io + " to C:/X.BIN"},
        {{"IN", "OUT", "/m=C:/X.BIN", "/ignored"}, "Add file header: " + io + " to C:/X.BIN"},
        {{"IN", "OUT", "/r", "/m=Y"}, "Add file header: " + io + " to Y"},
    };
    for (const auto& c : cases) {
        RunResult r = Run(c.args);
        EXPECT_EQ(r.iStatus, 0) << c.first_line;
        EXPECT_EQ(r.out.substr(0, r.out.find('\n')), c.first_line);
    }
}

TEST_F(PakwrapCli, CustomHeaderAnnouncedWithoutItsFirstCharacter)
{
    RunResult r = Run({"IN", "OUT", "/s", "/SH3:7:-1:2:abc"});
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.out.substr(0, r.out.find("CRC:")),
              "Convert firmware: " + In() + " -> " + Out() + "\nCustom header: SH3:7:-1:2:abc \n");
    // The font switch parses and announces a header too.
    r = Run({"IN", "OUT", "/f", "xABC:1:2:3:t"});
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_NE(r.out.find("\nCustom header: ABC:1:2:3:t \n"), std::string::npos) << r.out;
}

TEST_F(PakwrapCli, StoreWithoutTargetNameWarnsWritesAndFails)
{
    for (const auto& args : std::vector<std::vector<std::string>>{{"IN", "OUT", "/m"}, {"IN", "OUT", "/r", "/m"}}) {
        RunResult r = Run(args);
        EXPECT_EQ(r.out, "Error: You have to specify a filename\n");
        EXPECT_EQ(r.iStatus, 1);
        EXPECT_TRUE(FileExists(dir.Path("out.bin")));
    }
}

TEST_F(PakwrapCli, HelpAndVersionAloneEndWithStatus0)
{
    RunResult r = RunArgs({"--help"});
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.out, kHelpText);
    r = RunArgs({"--version"});
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.out, "pakwrap V1.1\n");
    r = RunArgs({"--verbose"});
    EXPECT_EQ(r.iStatus, 2);
    EXPECT_EQ(r.out, kHelpText);
}

// With other arguments --help is a file name like any other.
TEST_F(PakwrapCli, HelpAmongOtherArgumentsIsAFileName)
{
    dir.Write("--help", Bytes(10, 7));
    const std::filesystem::path old = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path(""));
    RunResult r = RunArgs({"--help", "out.bin", "/f"});
    std::filesystem::current_path(old);
    EXPECT_EQ(r.iStatus, 0) << r.out;
    EXPECT_EQ(r.out.find("Syntax error"), std::string::npos) << r.out;
    EXPECT_EQ(ReadFile(Out()).size(), 14u);
}

// Names longer than the old 259-character field reach the file system whole.
TEST_F(PakwrapCli, LongFileNamesAreNotCut)
{
    std::string longName = std::string(250, 'd') + "/" + std::string(100, 'f');
    ASSERT_EQ(std::system(("mkdir -p " + dir.Path(std::string(250, 'd'))).c_str()), 0);
    dir.Write(longName, Bytes(10, 1));
    RunResult r = RunArgs({dir.Path(longName), Out(), "/f"});
    EXPECT_EQ(r.iStatus, 0) << r.out;
    EXPECT_EQ(ReadBytes(dir.Path("out.bin")).size(), 14u);
}

}  // namespace
