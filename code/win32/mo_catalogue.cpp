// Reader of compiled message catalogues. The file starts with a header of
// 32-bit words in the writer's byte order: the magic number 0x950412de, the
// revision, the number of strings N, the offset of the table of originals and
// the offset of the table of translations (then a hash table, not needed here).
// Each table holds N pairs of words, the length of a string without its NUL
// and its offset. msgfmt sorts the originals, so a lookup is a binary search.
#include "mo_catalogue.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

namespace {

constexpr std::uint32_t MO_MAGIC = 0x950412de;
constexpr std::uint32_t MO_MAGIC_SWAPPED = 0xde120495;
constexpr std::size_t MO_HEADER_SIZE = 20;

std::uint32_t Word(const MoCatalogue& sCatalogue, std::size_t offset)
{
    const unsigned char* puc = sCatalogue.vData.data() + offset;
    if (sCatalogue.bBigEndian)
        return std::uint32_t{puc[0]} << 24 | std::uint32_t{puc[1]} << 16 | std::uint32_t{puc[2]} << 8 | puc[3];
    return std::uint32_t{puc[3]} << 24 | std::uint32_t{puc[2]} << 16 | std::uint32_t{puc[1]} << 8 | puc[0];
}

// Length and offset of string i of the table at ulTable.
std::uint32_t StringLength(const MoCatalogue& sCatalogue, std::uint32_t ulTable, std::size_t i)
{
    return Word(sCatalogue, ulTable + i * 8);
}

std::uint32_t StringOffset(const MoCatalogue& sCatalogue, std::uint32_t ulTable, std::size_t i)
{
    return Word(sCatalogue, ulTable + i * 8 + 4);
}

const char* StringAt(const MoCatalogue& sCatalogue, std::uint32_t ulTable, std::size_t i)
{
    return reinterpret_cast<const char*>(sCatalogue.vData.data() + StringOffset(sCatalogue, ulTable, i));
}

// A table of ulCount strings at ulTable: inside the data, every string too, and
// each ended by a NUL.
bool TableFits(const MoCatalogue& sCatalogue, std::uint32_t ulTable)
{
    const std::size_t size = sCatalogue.vData.size();
    if (ulTable > size || (size - ulTable) / 8 < sCatalogue.ulCount)
        return false;
    for (std::size_t i = 0; i < sCatalogue.ulCount; ++i) {
        const std::size_t length = StringLength(sCatalogue, ulTable, i);
        const std::size_t offset = StringOffset(sCatalogue, ulTable, i);
        if (offset >= size || size - offset <= length || sCatalogue.vData[offset + length] != 0)
            return false;
    }
    return true;
}

bool IsCLocale(const std::string& sName)
{
    return sName == "C" || sName == "POSIX";
}

const char* Value(MoGetEnv pfnGetEnv, const char* pcName)
{
    const char* pcValue = pfnGetEnv(pcName);
    return pcValue != nullptr && pcValue[0] != '\0' ? pcValue : nullptr;
}

void AddOnce(std::vector<std::string>* pvNames, const std::string& sName)
{
    if (sName.empty())
        return;
    for (const std::string& sHave : *pvNames)
        if (sHave == sName)
            return;
    pvNames->push_back(sName);
}

// "de_DE.UTF-8@euro" gives "de_DE", then "de".
void AddLanguage(std::vector<std::string>* pvNames, const std::string& sEntry)
{
    const std::string sName = sEntry.substr(0, sEntry.find_first_of(".@"));
    AddOnce(pvNames, sName);
    AddOnce(pvNames, sName.substr(0, sName.find('_')));
}

}  // namespace

bool MoParse(std::vector<unsigned char> vData, MoCatalogue* psCatalogue)
{
    *psCatalogue = MoCatalogue();
    MoCatalogue sNew;
    sNew.vData = std::move(vData);
    if (sNew.vData.size() < MO_HEADER_SIZE)
        return false;
    const std::uint32_t ulMagic = Word(sNew, 0);
    if (ulMagic == MO_MAGIC_SWAPPED)
        sNew.bBigEndian = true;
    else if (ulMagic != MO_MAGIC)
        return false;
    // Major revisions 0 and 1 share the layout read here.
    if (Word(sNew, 4) >> 16 > 1)
        return false;
    sNew.ulCount = Word(sNew, 8);
    sNew.ulOriginals = Word(sNew, 12);
    sNew.ulTranslations = Word(sNew, 16);
    if (!TableFits(sNew, sNew.ulOriginals) || !TableFits(sNew, sNew.ulTranslations))
        return false;
    *psCatalogue = std::move(sNew);
    return true;
}

bool MoLoad(const char* pcPath, MoCatalogue* psCatalogue)
{
    *psCatalogue = MoCatalogue();
    std::ifstream sFile(pcPath, std::ios::binary);
    if (!sFile)
        return false;
    std::vector<unsigned char> vData((std::istreambuf_iterator<char>(sFile)), std::istreambuf_iterator<char>());
    if (sFile.bad())
        return false;
    return MoParse(std::move(vData), psCatalogue);
}

std::size_t MoCount(const MoCatalogue& sCatalogue)
{
    return sCatalogue.ulCount;
}

const char* MoOriginal(const MoCatalogue& sCatalogue, std::size_t i)
{
    return StringAt(sCatalogue, sCatalogue.ulOriginals, i);
}

const char* MoTranslation(const MoCatalogue& sCatalogue, std::size_t i)
{
    return StringAt(sCatalogue, sCatalogue.ulTranslations, i);
}

std::size_t MoFind(const MoCatalogue& sCatalogue, const char* pcMsgId)
{
    std::size_t low = 0;
    std::size_t high = sCatalogue.ulCount;
    while (low < high) {
        const std::size_t mid = low + (high - low) / 2;
        const int iOrder = std::strcmp(pcMsgId, MoOriginal(sCatalogue, mid));
        if (iOrder == 0)
            return mid;
        if (iOrder < 0)
            high = mid;
        else
            low = mid + 1;
    }
    return MO_NOT_FOUND;
}

const char* MoLookup(const MoCatalogue& sCatalogue, const char* pcMsgId)
{
    const std::size_t i = MoFind(sCatalogue, pcMsgId);
    if (i == MO_NOT_FOUND || StringLength(sCatalogue, sCatalogue.ulTranslations, i) == 0)
        return nullptr;
    return MoTranslation(sCatalogue, i);
}

std::string MoCharset(const MoCatalogue& sCatalogue)
{
    const char* pcHeader = MoLookup(sCatalogue, "");
    if (pcHeader == nullptr)
        return std::string();
    const char* pcCharset = std::strstr(pcHeader, "charset=");
    if (pcCharset == nullptr)
        return std::string();
    pcCharset += std::strlen("charset=");
    return std::string(pcCharset, std::strcspn(pcCharset, " \t\r\n;"));
}

std::vector<std::string> MoLanguages(MoGetEnv pfnGetEnv, const char* pcSystemLocale)
{
    std::vector<std::string> vNames;
    const char* pcLocale = Value(pfnGetEnv, "LC_ALL");
    if (pcLocale == nullptr)
        pcLocale = Value(pfnGetEnv, "LC_MESSAGES");
    if (pcLocale == nullptr)
        pcLocale = Value(pfnGetEnv, "LANG");
    if (pcLocale == nullptr)
        pcLocale = pcSystemLocale != nullptr && pcSystemLocale[0] != '\0' ? pcSystemLocale : "C";
    if (IsCLocale(pcLocale))
        return vNames;

    const char* pcLanguage = Value(pfnGetEnv, "LANGUAGE");
    if (pcLanguage == nullptr) {
        AddLanguage(&vNames, pcLocale);
        return vNames;
    }
    // A C entry in the list stands for the untranslated messages: nothing
    // after it is tried.
    std::string sList = pcLanguage;
    std::size_t start = 0;
    while (start <= sList.size()) {
        std::size_t end = sList.find(':', start);
        if (end == std::string::npos)
            end = sList.size();
        const std::string sEntry = sList.substr(start, end - start);
        if (IsCLocale(sEntry))
            break;
        AddLanguage(&vNames, sEntry);
        start = end + 1;
    }
    return vNames;
}
