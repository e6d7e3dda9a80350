// pakwrap command line: checks the arguments and decides what the run does:
// the mode, the files, the destination address, the custom header record and
// the file-store target; or the file to verify. The announcements are left to AnnounceRun.
#include "cmdline.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// True when pcText fits a field of iSize bytes with its NUL.
bool Fits(const char* pcText, int iSize)
{
    return strnlen(pcText, static_cast<std::size_t>(iSize)) < static_cast<std::size_t>(iSize);
}

// Makes the custom header record from an argument of the form
// /TAG:n1:n2:n3:text; the first character is skipped unread. False when the
// argument has not that shape.
bool ParseCustomHeader(const char* pcArg, PakRun* psRun)
{
    if (pcArg[0] == '\0' || strnlen(pcArg + 1, 4) < 4 || pcArg[4] != ':')
        return false;
    const char* pcTag = pcArg + 1;
    const char* pcprt = pcTag;
    std::uint32_t aulNumbers[CUSTOM_NUMBER_COUNT];
    for (std::uint32_t& ulNumber : aulNumbers) {
        pcprt = std::strchr(pcprt, ':');
        if (pcprt == nullptr)
            return false;
        pcprt++;
        // Decimal as atol reads it; its low 32 bits go into the record.
        ulNumber = static_cast<std::uint32_t>(std::strtoll(pcprt, nullptr, 10));
    }
    pcprt = std::strchr(pcprt, ':');
    if (pcprt == nullptr)
        return false;
    MakeCustomHeader(psRun->aucCustomHeader, pcTag, aulNumbers, pcprt + 1);
    psRun->bCustomHeader = true;
    psRun->pcCustomText = pcTag;
    return true;
}

// The file-store switch /m=file (alone, or as the fifth argument after /r).
// Without a target name the run goes on, to fail at its end.
bool SelectStore(const char* pcArg, PakRun* psRun)
{
    psRun->eMode = PakMode::Store;
    if (pcArg[2] != '=') {
        psRun->bNoTarget = true;
        return true;
    }
    psRun->pcTarget = pcArg + 3;
    return Fits(psRun->pcTarget, TARGET_NAME_MAX);
}

// True when the text, after the blanks strtoull skips, starts with a sign:
// strtoull would take it ("-1" as the largest value), but a sign is no digit.
bool StartsWithSign(const char* pc)
{
    while (std::isspace(static_cast<unsigned char>(*pc)))
        pc++;
    return *pc == '+' || *pc == '-';
}

// The firmware switch /s[:Addr]: an optional hexadecimal destination address,
// with or without 0x. Where no number can be read, none is given.
bool SelectFirmware(const char* pcSwitch, PakRun* psRun)
{
    psRun->eMode = PakMode::Firmware;
    if (pcSwitch[2] != ':' || StartsWithSign(pcSwitch + 3))
        return true;
    char* pcEnd = nullptr;
    errno = 0;
    unsigned long long ullAddr = std::strtoull(pcSwitch + 3, &pcEnd, 16);
    if (pcEnd == pcSwitch + 3)
        return true;
    // An address beyond 32 bits would be stored cut: refuse it instead.
    if (errno == ERANGE || ullAddr > 0xFFFFFFFFull)
        return false;
    psRun->ulDestAddr = static_cast<std::uint32_t>(ullAddr);
    return true;
}

// Selects the mode by the switch letter; false rejects the command line.
bool SelectMode(int argc, char** argv, PakRun* psRun)
{
    const char* pcSwitch = argv[3];
    switch (pcSwitch[1]) {
    case 'a':
        psRun->eMode = PakMode::Atmel;
        return true;
    case 'f':
        psRun->eMode = PakMode::Font;
        return true;
    case 'l':
        psRun->eMode = PakMode::Slic;
        return true;
    case 'm':
        return SelectStore(pcSwitch, psRun);
    case 'r':
        psRun->bRestart = true;
        if (argc != 5 || argv[4][0] == '\0' || argv[4][1] != 'm')
            return false;
        return SelectStore(argv[4], psRun);
    case 's':
        return SelectFirmware(pcSwitch, psRun);
    default:
        return false;
    }
}

// pakwrap FILE /v: verifies FILE and writes nothing.
bool SelectVerify(char** argv, PakRun* psRun)
{
    if (std::strcmp(argv[2], "/v") != 0 || !Fits(argv[1], PATH_MAX))
        return false;
    psRun->eMode = PakMode::Verify;
    psRun->pcInFile = argv[1];
    return true;
}

}  // namespace

PakAsk LongOption(int argc, char** argv)
{
    if (argc != 2)
        return PakAsk::Run;
    if (std::strcmp(argv[1], "--help") == 0)
        return PakAsk::Help;
    if (std::strcmp(argv[1], "--version") == 0)
        return PakAsk::Version;
    return PakAsk::Run;
}

bool ParseCommandLine(int argc, char** argv, PakRun* psRun)
{
    if (argc == 3)
        return SelectVerify(argv, psRun);
    if (argc < 4 || argc > 5 || argv[3][0] != '/')
        return false;
    char cLetter = argv[3][1];
    if (argc == 5 && cLetter != 'm' && cLetter != 'r' && !ParseCustomHeader(argv[4], psRun))
        return false;
    psRun->pcInFile = argv[1];
    psRun->pcOutFile = argv[2];
    if (!Fits(psRun->pcInFile, PATH_MAX) || !Fits(psRun->pcOutFile, PATH_MAX))
        return false;
    return SelectMode(argc, argv, psRun);
}
