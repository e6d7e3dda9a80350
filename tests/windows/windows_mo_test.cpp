// The catalogue reader of the Windows build (mo_catalogue.h), run here: the
// German catalogue that msgfmt compiles, catalogues built byte by byte in both
// byte orders, damaged files, and the choice of language from the environment.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "mo_catalogue.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Pairs = std::vector<std::pair<std::string, std::string>>;

void PutWord(Bytes* pv, std::size_t offset, std::uint32_t ulValue, bool bBigEndian)
{
    for (int i = 0; i < 4; ++i) {
        const int iShift = bBigEndian ? 24 - 8 * i : 8 * i;
        (*pv)[offset + static_cast<std::size_t>(i)] = static_cast<unsigned char>(ulValue >> iShift);
    }
}

// A catalogue as msgfmt lays it out: header, both tables, then the strings,
// originals sorted.
Bytes BuildMo(Pairs vPairs, bool bBigEndian = false, std::uint32_t ulRevision = 0)
{
    std::sort(vPairs.begin(), vPairs.end());
    const auto n = static_cast<std::uint32_t>(vPairs.size());
    const std::uint32_t ulOriginals = 28;
    const std::uint32_t ulTranslations = ulOriginals + 8 * n;
    Bytes v(ulTranslations + 8 * n, 0);
    PutWord(&v, 0, 0x950412de, bBigEndian);
    PutWord(&v, 4, ulRevision, bBigEndian);
    PutWord(&v, 8, n, bBigEndian);
    PutWord(&v, 12, ulOriginals, bBigEndian);
    PutWord(&v, 16, ulTranslations, bBigEndian);
    auto add = [&](std::uint32_t ulTable, std::size_t i, const std::string& s) {
        PutWord(&v, ulTable + 8 * i, static_cast<std::uint32_t>(s.size()), bBigEndian);
        PutWord(&v, ulTable + 8 * i + 4, static_cast<std::uint32_t>(v.size()), bBigEndian);
        v.insert(v.end(), s.begin(), s.end());
        v.push_back(0);
    };
    for (std::size_t i = 0; i < n; ++i)
        add(ulOriginals, i, vPairs[i].first);
    for (std::size_t i = 0; i < n; ++i)
        add(ulTranslations, i, vPairs[i].second);
    return v;
}

const Pairs kPairs = {
    {"", "Content-Type: text/plain; charset=UTF-8\nLanguage: de\n"},
    {"Timeout\n", "Zeit\xc3\xbc"
                  "berschreitung\n"},
    {"unknown option %s\n", "unbekannte Option %s\n"},
    {"untranslated", ""},
    {"zz last", "zz letzte"},
};

TEST(MoCatalogue, LooksUpInBothByteOrders)
{
    for (bool bBig : {false, true}) {
        MoCatalogue sCatalogue;
        ASSERT_TRUE(MoParse(BuildMo(kPairs, bBig), &sCatalogue)) << bBig;
        EXPECT_EQ(MoCount(sCatalogue), kPairs.size());
        EXPECT_STREQ(MoLookup(sCatalogue, "Timeout\n"), "Zeit\xc3\xbc"
                                                        "berschreitung\n");
        EXPECT_STREQ(MoLookup(sCatalogue, "unknown option %s\n"), "unbekannte Option %s\n");
        EXPECT_STREQ(MoLookup(sCatalogue, "zz last"), "zz letzte");
        EXPECT_EQ(MoLookup(sCatalogue, "Timeout"), nullptr);
        EXPECT_EQ(MoLookup(sCatalogue, "untranslated"), nullptr) << "an empty translation is none";
        EXPECT_NE(MoFind(sCatalogue, "untranslated"), MO_NOT_FOUND);
        EXPECT_EQ(MoFind(sCatalogue, "absent"), MO_NOT_FOUND);
        EXPECT_EQ(MoCharset(sCatalogue), "UTF-8");
    }
}

TEST(MoCatalogue, RevisionOneAndEmptyCatalogues)
{
    MoCatalogue sCatalogue;
    EXPECT_TRUE(MoParse(BuildMo(kPairs, false, 0x00010001), &sCatalogue));
    EXPECT_STREQ(MoLookup(sCatalogue, "zz last"), "zz letzte");
    ASSERT_TRUE(MoParse(BuildMo({}), &sCatalogue));
    EXPECT_EQ(MoLookup(sCatalogue, "Timeout\n"), nullptr);
    EXPECT_EQ(MoCharset(sCatalogue), "");
}

TEST(MoCatalogue, RejectsDamagedFiles)
{
    const Bytes vGood = BuildMo(kPairs);
    std::map<std::string, Bytes> cases;
    cases["empty"] = {};
    cases["short header"] = Bytes(vGood.begin(), vGood.begin() + 16);
    cases["cut in the strings"] = Bytes(vGood.begin(), vGood.end() - 3);
    Bytes v = vGood;
    v[0] ^= 0xFF;
    cases["bad magic"] = v;
    cases["revision 2"] = BuildMo(kPairs, false, 0x00020000);
    v = vGood;
    PutWord(&v, 8, 0x20000000, false);
    cases["count beyond the file"] = v;
    v = vGood;
    PutWord(&v, 16, static_cast<std::uint32_t>(v.size()), false);
    cases["table beyond the file"] = v;
    v = vGood;
    v.back() = 'x';
    cases["last string without its NUL"] = v;
    v = vGood;
    PutWord(&v, 28 + 4, 0xFFFFFFF0, false);
    cases["string offset beyond the file"] = v;
    for (const auto& [sName, vData] : cases) {
        MoCatalogue sCatalogue;
        EXPECT_FALSE(MoParse(vData, &sCatalogue)) << sName;
        EXPECT_EQ(MoCount(sCatalogue), 0u) << sName;
        EXPECT_EQ(MoLookup(sCatalogue, "Timeout\n"), nullptr) << sName;
    }
}

TEST(MoCatalogue, ReadsTheGermanCatalogueOfTheBuild)
{
    MoCatalogue sCatalogue;
    ASSERT_TRUE(MoLoad(MORLINK_DE_MO, &sCatalogue));
    EXPECT_STREQ(MoLookup(sCatalogue, "Timeout\n"), "Zeit\xc3\xbc"
                                                    "berschreitung\n");
    EXPECT_STREQ(MoLookup(sCatalogue, "programm error (i.e. false argument)\n"),
                 "Programmfehler (z.B. falsches Argument)\n");
    EXPECT_EQ(MoCharset(sCatalogue), "UTF-8");
    // Every original is found where it stands: the table is sorted as the
    // search expects.
    for (std::size_t i = 0; i < MoCount(sCatalogue); ++i)
        EXPECT_EQ(MoFind(sCatalogue, MoOriginal(sCatalogue, i)), i) << MoOriginal(sCatalogue, i);
    EXPECT_FALSE(MoLoad(MORLINK_DE_MO ".missing", &sCatalogue));
}

// An environment of the test's own.
std::map<std::string, std::string> lk_mEnv;

const char* FakeEnv(const char* pcName)
{
    auto it = lk_mEnv.find(pcName);
    return it == lk_mEnv.end() ? nullptr : it->second.c_str();
}

std::vector<std::string> Languages(std::map<std::string, std::string> mEnv, const char* pcSystem = nullptr)
{
    lk_mEnv = std::move(mEnv);
    return MoLanguages(FakeEnv, pcSystem);
}

using Names = std::vector<std::string>;

TEST(MoLanguages, ChosenAsGettextChoosesThem)
{
    EXPECT_EQ(Languages({}), Names{}) << "no locale at all is the C locale";
    EXPECT_EQ(Languages({{"LANG", "de_DE.UTF-8"}}), (Names{"de_DE", "de"}));
    EXPECT_EQ(Languages({{"LANG", "de_AT.ISO-8859-1@euro"}}), (Names{"de_AT", "de"}));
    EXPECT_EQ(Languages({{"LANG", "fr_FR"}, {"LC_MESSAGES", "de_CH"}}), (Names{"de_CH", "de"}));
    EXPECT_EQ(Languages({{"LC_MESSAGES", "fr_FR"}, {"LC_ALL", "de_DE"}}), (Names{"de_DE", "de"}));
    EXPECT_EQ(Languages({{"LC_ALL", ""}, {"LANG", "de"}}), (Names{"de"})) << "an empty variable is unset";
    EXPECT_EQ(Languages({{"LANGUAGE", "de"}, {"LANG", "C.UTF-8"}}), (Names{"de"}));
    EXPECT_EQ(Languages({{"LANGUAGE", "fr_FR:de_DE:de"}, {"LANG", "en_US.UTF-8"}}),
              (Names{"fr_FR", "fr", "de_DE", "de"}));
    EXPECT_EQ(Languages({{"LANGUAGE", "::de:"}, {"LANG", "en_US"}}), (Names{"de"}));
    EXPECT_EQ(Languages({{"LANGUAGE", "fr:C:de"}, {"LANG", "en_US"}}), (Names{"fr"})) << "C ends the list";
}

TEST(MoLanguages, NothingInTheCLocale)
{
    EXPECT_EQ(Languages({{"LANGUAGE", "de"}, {"LANG", "C"}}), Names{});
    EXPECT_EQ(Languages({{"LANGUAGE", "de"}, {"LC_ALL", "POSIX"}, {"LANG", "de_DE"}}), Names{});
}

TEST(MoLanguages, SystemLocaleWhenTheEnvironmentNamesNone)
{
    EXPECT_EQ(Languages({}, "de_DE"), (Names{"de_DE", "de"}));
    EXPECT_EQ(Languages({{"LANGUAGE", "fr"}}, "de_DE"), (Names{"fr"}));
    EXPECT_EQ(Languages({{"LANG", "C"}}, "de_DE"), Names{}) << "the environment comes first";
    EXPECT_EQ(Languages({}, ""), Names{});
}

}  // namespace
