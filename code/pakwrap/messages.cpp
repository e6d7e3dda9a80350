// Everything pakwrap prints, on standard output.
#include "messages.h"

#include <cerrno>
#include <cstdio>

#include "pakwrap_version.h"

namespace {

void AnnounceMode(const PakRun& sRun, const char* pcWhat)
{
    std::printf("%s: %s -> %s\n", pcWhat, sRun.pcInFile, sRun.pcOutFile);
}

void AnnounceFirmware(const PakRun& sRun)
{
    if (sRun.ulDestAddr == NO_ADDRESS)
        AnnounceMode(sRun, "Convert firmware");
    else
        std::printf("Convert firmware: %s -> %s:%x\n", sRun.pcInFile, sRun.pcOutFile, sRun.ulDestAddr);
}

void AnnounceStore(const PakRun& sRun)
{
    if (sRun.bNoTarget)
        std::puts("Error: You have to specify a filename");
    else
        std::printf("Add file header: %s -> %s to %s\n", sRun.pcInFile, sRun.pcOutFile, sRun.pcTarget);
}

}  // namespace

void PrintHelp()
{
    std::fputs("pakwrap V" PAKWRAP_VERSION "\n"
               "Syntax error. Syntax: pakwrap.exe infile outfile [/f/s/a/l][/header...] \n"
               "infile    - file to be converted.\n"
               "outfile   - destination file.\n"
               "/f        - generate font header (CRC only).\n"
               "/s[:Addr] - generate firmware header.\n"
               "/a        - generate atmel header.\n"
               "/l        - generate slic header.\n"
               "/m=file   - Save in file header.\n"
               "/r /m=file- Add FU----rN for restart\n"
               "/header   - generic Header.\n"
               "\n"
               "Header format: /SH3:0:1:2:\"String\"\n"
               "\n",
               stdout);
}

void AnnounceRun(const PakRun& sRun)
{
    switch (sRun.eMode) {
    case PakMode::Firmware:
        AnnounceFirmware(sRun);
        break;
    case PakMode::Font:
        AnnounceMode(sRun, "Convert font");
        break;
    case PakMode::Slic:
        AnnounceMode(sRun, "Convert Slic software");
        break;
    case PakMode::Atmel:
        AnnounceMode(sRun, "Convert Atmel software");
        break;
    case PakMode::Store:
        AnnounceStore(sRun);
        break;
    }
    if (sRun.bCustomHeader)
        std::printf("Custom header: %s \n", sRun.pcCustomText);
}

void ReportCrc(std::uint32_t ulCRC, std::uint32_t ulTotallen)
{
    std::printf("CRC:%8.8x Total len:%d\n", ulCRC, static_cast<int>(ulTotallen));
}

void ReportSameFile(const PakRun& sRun)
{
    std::printf("Input and output are the same file: %s\n", sRun.pcInFile);
}

void ReportOpenFailed(const char* pcName)
{
    std::printf("Failed to open file %s.\n", pcName);
}

void ReportWrongImage()
{
    std::puts("Wrong bin file!");
}

void ReportStoreWrite(int iWritten)
{
    std::printf("Problem writing file: %i\n", iWritten);
}

int FailRead(const PakRun& sRun)
{
    std::printf("Failed to read %s.\n", sRun.pcInFile);
    return PAK_FAILED;
}

int FailWrite(const PakRun& sRun)
{
    std::printf("Failed to write %s %d.\n", sRun.pcOutFile, errno);
    return PAK_FAILED;
}
