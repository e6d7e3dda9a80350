// gettext for the Windows build over the catalogue reader (mo_catalogue.h).
// The catalogue is loaded when the domain is selected or bound, which the
// program does once on its main thread before any other thread runs; gettext
// then only reads. The language comes from LANGUAGE, LC_ALL, LC_MESSAGES and
// LANG as with GNU gettext, else from the user's interface language. The
// translations are converted from the catalogue's UTF-8 to the code page of the
// console, or without one to the system's ANSI code page, as the console or an
// ANSI text file shows them.
#include "libintl.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mo_catalogue.h"

namespace {

struct Binding {
    std::string sDomain;
    std::string sDir;
};

std::string lk_sDomain = "messages";
std::vector<Binding> lk_vBindings;
MoCatalogue lk_sCatalogue;
// The translations in the output code page, by string index; empty when the
// catalogue's own text is used as it is.
std::vector<std::string> lk_vConverted;

const char* GetEnv(const char* pcName)
{
    return std::getenv(pcName);
}

// The user's interface language as a locale name ("de_DE"); empty when the
// system does not tell.
std::string SystemLocale(void)
{
    const LCID lcid = MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
    char pcLanguage[16];
    char pcCountry[16];
    if (GetLocaleInfoA(lcid, LOCALE_SISO639LANGNAME, pcLanguage, sizeof pcLanguage) == 0)
        return std::string();
    if (GetLocaleInfoA(lcid, LOCALE_SISO3166CTRYNAME, pcCountry, sizeof pcCountry) == 0)
        return pcLanguage;
    return std::string(pcLanguage) + "_" + pcCountry;
}

Binding* FindBinding(const std::string& sDomain)
{
    for (Binding& sBinding : lk_vBindings)
        if (sBinding.sDomain == sDomain)
            return &sBinding;
    return nullptr;
}

// pcText from UTF-8 into code page uiCodePage; the text itself when it cannot
// be converted.
std::string FromUtf8(const char* pcText, UINT uiCodePage)
{
    const int iWide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, pcText, -1, nullptr, 0);
    if (iWide <= 0)
        return pcText;
    std::vector<wchar_t> vWide(static_cast<std::size_t>(iWide));
    MultiByteToWideChar(CP_UTF8, 0, pcText, -1, vWide.data(), iWide);
    const int iBytes = WideCharToMultiByte(uiCodePage, 0, vWide.data(), -1, nullptr, 0, nullptr, nullptr);
    if (iBytes <= 0)
        return pcText;
    std::vector<char> vBytes(static_cast<std::size_t>(iBytes));
    WideCharToMultiByte(uiCodePage, 0, vWide.data(), -1, vBytes.data(), iBytes, nullptr, nullptr);
    return std::string(vBytes.data());
}

bool IsUtf8(std::string sCharset)
{
    for (char& c : sCharset)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return sCharset == "UTF-8" || sCharset == "UTF8";
}

void ConvertTranslations(void)
{
    lk_vConverted.clear();
    UINT uiCodePage = GetConsoleOutputCP();
    if (uiCodePage == 0)
        uiCodePage = GetACP();
    if (uiCodePage == CP_UTF8 || !IsUtf8(MoCharset(lk_sCatalogue)))
        return;
    const std::size_t count = MoCount(lk_sCatalogue);
    lk_vConverted.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        lk_vConverted.push_back(FromUtf8(MoTranslation(lk_sCatalogue, i), uiCodePage));
}

// Loads the current domain's catalogue from its bound directory, for the
// first language that has one.
void LoadCatalogue(void)
{
    lk_sCatalogue = MoCatalogue();
    lk_vConverted.clear();
    const Binding* psBinding = FindBinding(lk_sDomain);
    if (psBinding == nullptr)
        return;
    const std::string sSystem = SystemLocale();
    for (const std::string& sLanguage : MoLanguages(GetEnv, sSystem.c_str())) {
        const std::string sPath = psBinding->sDir + "/" + sLanguage + "/LC_MESSAGES/" + lk_sDomain + ".mo";
        if (MoLoad(sPath.c_str(), &lk_sCatalogue)) {
            ConvertTranslations();
            return;
        }
    }
}

}  // namespace

char* textdomain(const char* pcDomain)
{
    if (pcDomain != nullptr) {
        lk_sDomain = pcDomain[0] != '\0' ? pcDomain : "messages";
        LoadCatalogue();
    }
    return const_cast<char*>(lk_sDomain.c_str());
}

char* bindtextdomain(const char* pcDomain, const char* pcDir)
{
    if (pcDomain == nullptr || pcDomain[0] == '\0')
        return nullptr;
    Binding* psBinding = FindBinding(pcDomain);
    if (pcDir == nullptr)
        return psBinding != nullptr ? const_cast<char*>(psBinding->sDir.c_str()) : nullptr;
    if (psBinding == nullptr) {
        lk_vBindings.push_back(Binding{pcDomain, pcDir});
        psBinding = &lk_vBindings.back();
    } else {
        psBinding->sDir = pcDir;
    }
    // Loading leaves the bindings as they are.
    char* pcBound = const_cast<char*>(psBinding->sDir.c_str());
    if (psBinding->sDomain == lk_sDomain)
        LoadCatalogue();
    return pcBound;
}

char* gettext(const char* pcMsgId)
{
    const std::size_t i = MoFind(lk_sCatalogue, pcMsgId);
    if (i == MO_NOT_FOUND || MoLookup(lk_sCatalogue, pcMsgId) == nullptr)
        return const_cast<char*>(pcMsgId);
    if (!lk_vConverted.empty())
        return const_cast<char*>(lk_vConverted[i].c_str());
    return const_cast<char*>(MoTranslation(lk_sCatalogue, i));
}
