// Binding of the message catalogue to the program's directory.
#include "catalogue.h"

#include <libintl.h>

#include <clocale>

#include "platform.h"

namespace {

const char lk_pcDomain[] = "morlink";

// Directory of the running executable. A program started through the search
// path has no directory in its name; the current directory is no substitute,
// since a catalogue planted there would supply the print formats.
void BindToExecutableDir(void)
{
    static char pcDir[4096];
    if (PlatProgramDir(pcDir, sizeof pcDir))
        bindtextdomain(lk_pcDomain, pcDir);
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

    if (pcLastSep == nullptr) {
        BindToExecutableDir();
        return;
    }
    *pcLastSep = '\0';
    bindtextdomain(lk_pcDomain, pcArgv0);
    *pcLastSep = '/';
}
