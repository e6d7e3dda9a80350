// pakwrap: stamps CRCs into firmware images, puts headers in front of files,
// or wraps a file in the device commands that store it.
#include "cmdline.h"
#include "conversion.h"
#include "messages.h"

int main(int argc, char** argv)
{
    const PakAsk eAsk = LongOption(argc, argv);
    if (eAsk != PakAsk::Run) {
        if (eAsk == PakAsk::Help)
            PrintHelp();
        else
            PrintVersion();
        return PAK_OK;
    }
    PakRun sRun;
    if (!ParseCommandLine(argc, argv, &sRun)) {
        PrintHelp();
        return PAK_USAGE;
    }
    AnnounceRun(sRun);
    return ConvertFile(sRun);
}
