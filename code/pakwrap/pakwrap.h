// pakwrap: settings and run state shared by the command line and the conversion.
#pragma once

#include <climits>
#include <cstdint>

#include "headers.h"

// Modes selected by the switch letter.
enum class PakMode {
    Firmware,
    Font,
    Slic,
    Atmel,
    Store
};

// Exit statuses: success, a failed run, a rejected command line.
enum {
    PAK_OK = 0,
    PAK_FAILED = 1,
    PAK_USAGE = 2
};

// Settings filled from the command line.
extern char lk_pcInFile[PATH_MAX];
extern char lk_pcOutFile[PATH_MAX];
extern unsigned char lk_aucHeader[CUSTOM_HEADER_LEN];
extern char lk_pcFile[TARGET_NAME_MAX];
extern char lk_bFURestart;
extern char lk_cHeader;

// What one run does, as the command line selected it.
struct PakRun {
    PakMode eMode = PakMode::Firmware;
    uint32_t uiDestAddr = NO_ADDRESS;
    uint32_t ulHeaderLen = TAGGED_HEADER_LEN;  // header the CRC skips
    ImageKind eKind = ImageKind::Unknown;      // header kind of the input
    const char* pcprt = nullptr;               // custom header text to announce
    bool bNoTarget = false;                    // file store without a target name
};
