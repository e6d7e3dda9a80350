// pakwrap verification: reads an image back and checks what the other modes
// stamp into it or put in front of it, in one pass; writes nothing.
#pragma once

#include <cstdint>

#include "headers.h"
#include "pakwrap.h"
#include "system.h"

// The layouts a file is checked against.
enum class Layout {
    None,
    Sh2,
    Tagged,
    Custom,
    Store,
    Font
};

// A stamped value against the one computed; not made where it cannot be.
struct FieldCheck {
    bool bMade = false;
    std::uint32_t ulStored = 0;
    std::uint32_t ulComputed = 0;
};

// A file-store wrapper: its header as read, the length it announces against
// the bytes that follow it (less the restart command after them).
struct StoreCheck {
    bool bRead = false;
    bool bExact = false;
    const char* pcTarget = "";
    long long llAnnounced = 0;
    long long llFollowing = 0;
    bool bRestart = false;
};

// One file checked against one layout: the fields it shows and the checks.
struct LayoutCheck {
    Layout eLayout = Layout::None;
    ImageKind eKind = ImageKind::Unknown;  // of a tagged image
    long long llSize = 0;
    long long llNeeded = 0;  // the size that holds the layout's fields
    std::uint32_t ulHeaderLen = 0;
    HeaderFields sFields;
    FieldCheck sTotallen;
    FieldCheck sCRC;
    StoreCheck sStore;
};

// Verifies the input through sBlock, whose first block must hold the headers
// and fields of every layout (STORE_HEADER_MAX + HEADER_FIELDS_LEN bytes), and
// reports it. Returns the exit status of the run.
int VerifyFile(int iIn, const PakRun& sRun, const Block& sBlock);
