// pakwrap: settings and run state shared by the command line and the conversion.
#pragma once

#include <climits>
#include <cstdint>

// Modes selected by the switch letter.
enum {
    MODE_FIRMWARE = 0,
    MODE_FONT = 1,
    MODE_SLIC = 2,
    MODE_ATMEL = 3,
    MODE_STORE = 4
};

// Exit statuses: success, a failed run, a rejected command line.
enum {
    PAK_OK = 0,
    PAK_FAILED = 1,
    PAK_USAGE = 2
};

constexpr uint32_t NO_ADDRESS = 0xFFFFFFFF;  // no destination address given
constexpr int HEADER_RECORD_LEN = 148;       // custom header record, kinds 1 to 3
constexpr int TARGET_NAME_MAX = 260;         // file-store target name field

// Settings filled from the command line.
extern char lk_pcInFile[PATH_MAX];
extern char lk_pcOutFile[PATH_MAX];
extern char lk_pcHeader[HEADER_RECORD_LEN];
extern char lk_pcFile[TARGET_NAME_MAX];
extern char lk_pcDir[TARGET_NAME_MAX];
extern char lk_bFURestart;
extern char lk_cHeader;

// What one run does, as the command line selected it.
struct PakRun {
    int iMode = -1;
    uint32_t uiDestAddr = NO_ADDRESS;
    uint32_t ulHeaderLen = HEADER_RECORD_LEN;  // header the CRC skips
    int iCPU = 0;                              // header kind of the input
    const char* pcprt = nullptr;               // custom header text to announce
    bool bNoTarget = false;                    // file store without a target name
};
