// Binding of the message catalogue: the program's own directory, or the
// installation's share/locale.
#include "catalogue.h"

#include <libintl.h>

#include <clocale>
#include <cstddef>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform.h"

namespace {

const char lk_pcDomain[] = "morlink";

// True when pcDir holds <lang>/LC_MESSAGES/morlink.mo for some language.
// Errors (a missing or unreadable directory) count as no catalogue.
bool HoldsCatalogue(const char* pcDir)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::directory_iterator it(pcDir, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code ecEntry;
        if (!it->is_directory(ecEntry))
            continue;
        if (fs::is_regular_file(it->path() / "LC_MESSAGES" / "morlink.mo", ecEntry))
            return true;
    }
    return false;
}

// The executable's directory when it holds catalogues, else share/locale
// beside it. A program started through the search path has no directory in
// its name; the current directory is no substitute, since a catalogue planted
// there would supply the print formats.
void BindToExecutableDir(const char* pcExeDir)
{
    if (HoldsCatalogue(pcExeDir)) {
        bindtextdomain(lk_pcDomain, pcExeDir);
        return;
    }
    const std::filesystem::path sLocale = std::filesystem::path(pcExeDir).parent_path() / "share" / "locale";
    bindtextdomain(lk_pcDomain, sLocale.string().c_str());
}

}  // namespace

void BindCatalogue(char* pcArgv0)
{
    char* pcLastSep = nullptr;
    for (char* pc = pcArgv0; pc != nullptr && *pc != '\0'; ++pc)
        if (PlatIsSeparator(*pc))
            pcLastSep = pc;

    std::setlocale(LC_ALL, "");
    textdomain(lk_pcDomain);

    static char pcExeDir[4096];
    const bool bExeDir = PlatProgramDir(pcExeDir, sizeof pcExeDir);

    if (pcLastSep != nullptr) {
        // The directory the program was started from; "/" for the root.
        *pcLastSep = '/';
        const std::size_t len = pcLastSep == pcArgv0 ? 1 : static_cast<std::size_t>(pcLastSep - pcArgv0);
        const std::string sOwnDir(pcArgv0, len);
        if (!bExeDir || HoldsCatalogue(sOwnDir.c_str())) {
            bindtextdomain(lk_pcDomain, sOwnDir.c_str());
            return;
        }
    }
    if (bExeDir)
        BindToExecutableDir(pcExeDir);
}
