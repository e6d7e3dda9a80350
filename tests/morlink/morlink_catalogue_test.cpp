// The message catalogue: German under a German language selection, English
// otherwise, and bound to the program's own directory.
#include <gtest/gtest.h>

#include <filesystem>

#include "morlink_test_util.h"

namespace {

using Strings = std::vector<std::string>;

const Strings kGerman = {"LANGUAGE=de", "LANG=C.UTF-8"};

RunResult RunSender(Strings args, Strings env, const std::string& argv0 = "", const std::string& cwd = "")
{
    RunSetup sSetup;
    sSetup.args = args;
    sSetup.env = env;
    sSetup.argv0 = argv0;
    sSetup.cwd = cwd;
    return RunMorlink(sSetup);
}

// A directory holding a catalogue for German that marks its texts "PLANTED".
class PlantedCatalogue {
public:
    PlantedCatalogue()
    {
        std::filesystem::create_directories(dir.Path("de/LC_MESSAGES"));
        std::filesystem::copy_file(MORLINK_PLANTED_MO, dir.Path("de/LC_MESSAGES/morlink.mo"));
    }
    ScratchDir dir;
};

TEST(Catalogue, GermanOptionError)
{
    RunResult r = RunSender({"-s127.0.0.1", "-X"}, kGerman);
    EXPECT_EQ(r.iStatus, 255);
    EXPECT_EQ(r.out, "unbekannte Option -X\n");
}

TEST(Catalogue, GermanErrorMessage)
{
    ScratchDir dir;
    RunResult r = RunSender({"-s127.0.0.1", "-i" + dir.Path("missing")}, kGerman);
    EXPECT_EQ(r.iStatus, 255);
    EXPECT_EQ(r.err, "Programmfehler (z.B. falsches Argument)\n");
}

TEST(Catalogue, GermanUsageKeepsItsFirstLine)
{
    RunResult r = RunSender({"-s127.0.0.1", "-?"}, kGerman);
    EXPECT_EQ(r.iStatus, 0);
    const std::string sHead = "morlink (Windows-Version) 0.13\n\nAufruf von " + MorlinkPath() +
                              ":\n\nNetzwerk-Optionen:\n"
                              "-sSERVER:    IP-Adresse des Geräts  (Vorgabe: 192.168.0.21)\n";
    EXPECT_EQ(r.out.substr(0, sHead.size()), sHead);
    EXPECT_NE(r.out.find("Beispiel3: '" + MorlinkPath() + " -s10.102.1.45 -r -l5E5F'\n"), std::string::npos);
}

TEST(Catalogue, EnglishWithoutALanguageSelection)
{
    RunResult r = RunSender({"-s127.0.0.1", "-X"}, {"LANG=C.UTF-8"});
    EXPECT_EQ(r.out, "unknown option -X\n");
}

TEST(Catalogue, EnglishInTheCLocaleWhateverTheLanguage)
{
    RunResult r = RunSender({"-s127.0.0.1", "-X"}, {"LANGUAGE=de", "LANG=C"});
    EXPECT_EQ(r.out, "unknown option -X\n");
}

TEST(Catalogue, ProgramWithoutDirectoryUsesTheExecutablesCatalogue)
{
    // Started through the search path: argv[0] has no directory. A catalogue
    // in the current directory must not be used.
    PlantedCatalogue planted;
    RunResult r = RunSender({"-s127.0.0.1", "-X"}, kGerman, "morlink", planted.dir.Dir());
    EXPECT_EQ(r.out, "unbekannte Option -X\n");
}

TEST(Catalogue, ProgramPathWithDirectoryUsesThatDirectory)
{
    PlantedCatalogue planted;
    RunResult r = RunSender({"-s127.0.0.1", "-X"}, kGerman, planted.dir.Path("morlink"));
    EXPECT_EQ(r.out, "PLANTED -X\n");
}

TEST(Catalogue, UsageShowsTheProgramNameAsStarted)
{
    RunResult r = RunSender({"-s127.0.0.1", "-?"}, {}, "morlink");
    EXPECT_NE(r.out.find("\nmorlink usage:\n\n"), std::string::npos);
    EXPECT_NE(r.out.find("Call 'morlink -c1 -b9600'"), std::string::npos);
}

}  // namespace
