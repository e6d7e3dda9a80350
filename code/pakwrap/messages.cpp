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

const char* KindName(const LayoutCheck& sCheck)
{
    switch (sCheck.eLayout) {
    case Layout::None:
        return "no known kind";
    case Layout::Sh2:
        return "SH2 image";
    case Layout::Tagged:
        break;
    case Layout::Custom:
        return "custom header record";
    case Layout::Store:
        return "file-store wrapper";
    case Layout::Font:
        return "font";
    }
    if (sCheck.eKind == ImageKind::Sh3)
        return "SH3 image";
    return sCheck.eKind == ImageKind::Atmel ? "Atmel image" : "SLIC image";
}

const char* Verdict(bool bHolds)
{
    return bHolds ? "ok" : "MISMATCH";
}

void ReportField(const char* pcIndent, const char* pcName, const FieldCheck& sField)
{
    std::printf("%s%s: stored 0x%08x, computed 0x%08x: %s\n", pcIndent, pcName, sField.ulStored, sField.ulComputed,
                Verdict(sField.ulStored == sField.ulComputed));
}

// The fields that a layout shows without checking them.
void ReportShown(const LayoutCheck& sCheck, const char* pcIndent)
{
    const HeaderFields& sFields = sCheck.sFields;
    Layout eLayout = sCheck.eLayout;
    if (eLayout == Layout::Sh2)
        std::printf("%sHeader length: 0x%08x\n", pcIndent, sCheck.ulHeaderLen);
    if (eLayout == Layout::Tagged || eLayout == Layout::Custom)
        std::printf("%sTag: %s\n", pcIndent, sFields.acTag);
    if (eLayout == Layout::Sh2 || eLayout == Layout::Tagged)
        std::printf("%sAddress: 0x%08x\n", pcIndent, sFields.ulDestAddr);
    if (eLayout == Layout::Custom)
        std::printf("%sNumbers: 0x%08x 0x%08x 0x%08x\n%sText: %s\n", pcIndent, sFields.aulNumbers[0],
                    sFields.aulNumbers[1], sFields.aulNumbers[2], pcIndent, sFields.acText);
}

void ReportStore(const StoreCheck& sStore, const char* pcIndent)
{
    std::printf("%sPrologue: %s\n", pcIndent, Verdict(sStore.bExact));
    if (!sStore.bRead)
        return;
    std::printf("%sTarget: %s\n%sLength: announced 0x%08llx, following 0x%08llx: %s\n%sRestart command: %s\n", pcIndent,
                sStore.pcTarget, pcIndent, static_cast<unsigned long long>(sStore.llAnnounced),
                static_cast<unsigned long long>(sStore.llFollowing), Verdict(sStore.llAnnounced == sStore.llFollowing),
                pcIndent, sStore.bRestart ? "yes" : "no");
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
               "\n"
               "Verify: pakwrap.exe infile /v (checks a converted file, writes nothing)\n",
               stdout);
}

void PrintVersion()
{
    std::fputs("pakwrap V" PAKWRAP_VERSION "\n", stdout);
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
    case PakMode::Verify:
        std::printf("Verify: %s\n", sRun.pcInFile);
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

void ReportLayout(const LayoutCheck& sCheck, const char* pcIndent)
{
    std::printf("%sKind: %s\n", pcIndent, KindName(sCheck));
    if (sCheck.eLayout == Layout::None)
        return;
    if (sCheck.eLayout == Layout::Store) {
        ReportStore(sCheck.sStore, pcIndent);
        return;
    }
    if (sCheck.llSize < sCheck.llNeeded) {
        std::printf("%sSize: 0x%08llx, needed 0x%08llx: MISMATCH\n", pcIndent,
                    static_cast<unsigned long long>(sCheck.llSize), static_cast<unsigned long long>(sCheck.llNeeded));
        return;
    }
    ReportShown(sCheck, pcIndent);
    if (sCheck.sTotallen.bMade)
        ReportField(pcIndent, "Total length", sCheck.sTotallen);
    if (sCheck.sCRC.bMade)
        ReportField(pcIndent, "CRC", sCheck.sCRC);
    else
        std::printf("%sCRC: stored 0x%08x, not checkable: it lies in the bytes it covers\n", pcIndent,
                    sCheck.sFields.ulCRC);
}

void ReportStoredFile(long long llAt)
{
    std::printf("Stored file at 0x%08llx:\n", static_cast<unsigned long long>(llAt));
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
