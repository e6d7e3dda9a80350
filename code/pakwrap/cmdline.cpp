// pakwrap command line: checks the arguments, builds the custom header record,
// selects the mode and announces what the run will do.
#include "cmdline.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "headers.h"

char lk_pcInFile[PATH_MAX];
char lk_pcOutFile[PATH_MAX];
unsigned char lk_aucHeader[CUSTOM_HEADER_LEN];
char lk_pcFile[TARGET_NAME_MAX];
char lk_bFURestart;
char lk_cHeader;

namespace {

int Reject()
{
    helptext();
    return PAK_USAGE;
}

// Copies pcSrc into a field of iSize bytes; false when it does not fit whole.
bool CopyField(char* pcDest, int iSize, const char* pcSrc)
{
    size_t uLen = strlen(pcSrc);
    if (uLen >= static_cast<size_t>(iSize))
        return false;
    memcpy(pcDest, pcSrc, uLen + 1);
    return true;
}

// Makes lk_aucHeader from an argument of the form /TAG:n1:n2:n3:text; the
// first character is skipped unread. False when the argument has not that
// shape. An input of no known kind is then taken as SH3, with the record in
// front.
bool ParseHeader(const char* pcArg, PakRun* psRun)
{
    psRun->eKind = ImageKind::Sh3;
    if (pcArg[0] == '\0' || strnlen(pcArg + 1, 4) < 4 || pcArg[4] != ':')
        return false;
    const char* pcTag = pcArg + 1;
    const char* pcprt = pcTag;
    uint32_t aulNumbers[CUSTOM_NUMBER_COUNT];
    for (uint32_t& ulNumber : aulNumbers) {
        pcprt = strchr(pcprt, ':');
        if (pcprt == nullptr)
            return false;
        pcprt++;
        // Decimal as atol reads it; its low 32 bits go into the record.
        ulNumber = static_cast<uint32_t>(strtoll(pcprt, nullptr, 10));
    }
    pcprt = strchr(pcprt, ':');
    if (pcprt == nullptr)
        return false;
    MakeCustomHeader(lk_aucHeader, pcTag, aulNumbers, pcprt + 1);
    lk_cHeader = 1;
    psRun->ulHeaderLen = 0;
    psRun->pcprt = pcArg + 1;
    return true;
}

// The file-store switch /m=file (alone, or as the fifth argument after /r).
bool SelectStore(const char* pcArg, PakRun* psRun)
{
    psRun->eMode = PakMode::Store;
    if (pcArg[2] != '=') {
        puts("Error: You have to specify a filename");
        psRun->bNoTarget = true;
        return true;
    }
    if (!CopyField(lk_pcFile, sizeof lk_pcFile, pcArg + 3))
        return false;
    printf("Add file header: %s -> %s to %s\n", lk_pcInFile, lk_pcOutFile, lk_pcFile);
    return true;
}

// True when the text, after the blanks strtoull skips, starts with a sign:
// strtoull would take it ("-1" as the largest value), but a sign is no digit.
bool StartsWithSign(const char* pc)
{
    while (isspace(static_cast<unsigned char>(*pc)))
        pc++;
    return *pc == '+' || *pc == '-';
}

// The firmware switch /s[:Addr]: an optional hexadecimal destination address,
// with or without 0x. Where no number can be read, none is given.
bool SelectFirmware(const char* pcSwitch, PakRun* psRun)
{
    psRun->eMode = PakMode::Firmware;
    if (pcSwitch[2] == ':' && !StartsWithSign(pcSwitch + 3)) {
        char* pcEnd = nullptr;
        errno = 0;
        unsigned long long ullAddr = strtoull(pcSwitch + 3, &pcEnd, 16);
        if (pcEnd != pcSwitch + 3) {
            // An address beyond 32 bits would be stored cut: refuse it instead.
            if (errno == ERANGE || ullAddr > 0xFFFFFFFFull)
                return false;
            psRun->uiDestAddr = static_cast<uint32_t>(ullAddr);
        }
    }
    if (psRun->uiDestAddr == NO_ADDRESS)
        printf("Convert firmware: %s -> %s\n", lk_pcInFile, lk_pcOutFile);
    else
        printf("Convert firmware: %s -> %s:%x\n", lk_pcInFile, lk_pcOutFile, psRun->uiDestAddr);
    return true;
}

// Selects the mode by the switch letter; false rejects the command line.
bool SelectMode(int argc, char** argv, PakRun* psRun)
{
    const char* pcSwitch = argv[3];
    switch (pcSwitch[1]) {
    case 'a':
        psRun->eMode = PakMode::Atmel;
        printf("Convert Atmel software: %s -> %s\n", lk_pcInFile, lk_pcOutFile);
        return true;
    case 'f':
        psRun->eMode = PakMode::Font;
        psRun->ulHeaderLen = FONT_HEADER_LEN;
        printf("Convert font: %s -> %s\n", lk_pcInFile, lk_pcOutFile);
        return true;
    case 'l':
        psRun->eMode = PakMode::Slic;
        printf("Convert Slic software: %s -> %s\n", lk_pcInFile, lk_pcOutFile);
        return true;
    case 'm':
        return SelectStore(pcSwitch, psRun);
    case 'r':
        lk_bFURestart = 1;
        if (argc != 5 || argv[4][0] == '\0' || argv[4][1] != 'm')
            return false;
        return SelectStore(argv[4], psRun);
    case 's':
        return SelectFirmware(pcSwitch, psRun);
    default:
        return false;
    }
}

}  // namespace

void helptext()
{
    fputs("pakwrap V1.1\n"
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

int ParseCommandLine(int argc, char** argv, PakRun* psRun)
{
    if (argc < 4 || argc > 5 || argv[3][0] != '/')
        return Reject();
    lk_cHeader = 0;
    char cLetter = argv[3][1];
    if (argc == 5 && cLetter != 'm' && cLetter != 'r' && !ParseHeader(argv[4], psRun))
        return Reject();
    if (!CopyField(lk_pcInFile, sizeof lk_pcInFile, argv[1]) || !CopyField(lk_pcOutFile, sizeof lk_pcOutFile, argv[2]))
        return Reject();
    if (!SelectMode(argc, argv, psRun))
        return Reject();
    if (lk_cHeader)
        printf("Custom header: %s \n", psRun->pcprt);
    return -1;
}
