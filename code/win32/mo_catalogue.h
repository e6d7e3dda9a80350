// Compiled message catalogues (the .mo files that msgfmt writes), read without
// libintl: the Windows build has no libintl, so its gettext functions
// (win32/libintl.cpp) stand on this reader. Plain C++, no system calls beyond
// reading the file, so the tests run it on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One loaded catalogue: the file's bytes and where its two string tables lie.
struct MoCatalogue {
    std::vector<unsigned char> vData;
    bool bBigEndian = false;
    std::uint32_t ulCount = 0;         // number of strings
    std::uint32_t ulOriginals = 0;     // offset of the table of original strings
    std::uint32_t ulTranslations = 0;  // offset of the table of translations
};

// Takes vData as a catalogue: checks the magic number (in either byte order),
// the revision and that every string lies inside the data and ends with a NUL.
// False for anything else, leaving *psCatalogue empty.
bool MoParse(std::vector<unsigned char> vData, MoCatalogue* psCatalogue);

// Reads and parses the file at pcPath. False when it cannot be read or is no
// catalogue.
bool MoLoad(const char* pcPath, MoCatalogue* psCatalogue);

// Index of the string whose original is pcMsgId, or MO_NOT_FOUND.
constexpr std::size_t MO_NOT_FOUND = static_cast<std::size_t>(-1);
std::size_t MoFind(const MoCatalogue& sCatalogue, const char* pcMsgId);

// The translation of pcMsgId, or null when the catalogue has none (or only an
// empty one). The text lives as long as the catalogue.
const char* MoLookup(const MoCatalogue& sCatalogue, const char* pcMsgId);

// Number of strings, and the original and translation of string number i
// (0 to count - 1), in the catalogue's order.
std::size_t MoCount(const MoCatalogue& sCatalogue);
const char* MoOriginal(const MoCatalogue& sCatalogue, std::size_t i);
const char* MoTranslation(const MoCatalogue& sCatalogue, std::size_t i);

// The character set that the catalogue's header entry names in its
// Content-Type line ("UTF-8" for "text/plain; charset=UTF-8"); empty when it
// names none.
std::string MoCharset(const MoCatalogue& sCatalogue);

// Reads an environment variable: its value, or null when it is not set.
using MoGetEnv = const char* (*)(const char* pcName);

// The catalogue directories to try for the messages, best first, chosen as
// gettext chooses them. The locale of the messages is the first non-empty of
// LC_ALL, LC_MESSAGES and LANG, else pcSystemLocale (the system's own choice;
// null or empty when it has none). In the C or POSIX locale, nothing is
// translated. Otherwise each entry of the colon-separated LANGUAGE list, or
// without one the locale itself, gives its full name without the codeset and
// modifier ("de_DE" for "de_DE.UTF-8@euro") and then its language alone ("de").
std::vector<std::string> MoLanguages(MoGetEnv pfnGetEnv, const char* pcSystemLocale);
