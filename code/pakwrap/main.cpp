// pakwrap: stamps CRCs into firmware images, puts headers in front of files,
// or wraps a file in the device commands that store it.
#include "cmdline.h"
#include "conversion.h"

int main(int argc, char** argv)
{
    PakRun sRun;
    int iStatus = ParseCommandLine(argc, argv, &sRun);
    if (iStatus >= 0)
        return iStatus;
    return ConvertFile(&sRun);
}
