// pakwrap: what one run does, as the command line decided it, and the exit
// statuses.
#pragma once

#include <cstdint>

#include "headers.h"

// Modes selected by the switch letter.
enum class PakMode {
    Firmware,
    Font,
    Slic,
    Atmel,
    Store,
    Verify
};

// Exit statuses: success, a failed run, a rejected command line.
enum {
    PAK_OK = 0,
    PAK_FAILED = 1,
    PAK_USAGE = 2
};

struct PakRun {
    PakMode eMode = PakMode::Firmware;
    // The names as the command line gives them, each shorter than PATH_MAX.
    const char* pcInFile = nullptr;
    const char* pcOutFile = nullptr;  // none when verifying
    std::uint32_t ulDestAddr = NO_ADDRESS;
    // A custom header record for the image modes, with the text announced for it.
    bool bCustomHeader = false;
    unsigned char aucCustomHeader[CUSTOM_HEADER_LEN] = {};
    const char* pcCustomText = nullptr;
    // The file store: the target name, the restart command after the file, and
    // no target name given: the wrapper is still written, and the run fails.
    const char* pcTarget = "";
    bool bRestart = false;
    bool bNoTarget = false;
};
