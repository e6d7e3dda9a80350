// pakwrap verification in one pass: the first block tells which layouts the
// input (and a file stored in it) may have; the CRC that each of them needs
// is taken as the blocks stream by; at the end the first layout whose checks
// all hold is reported, or else the one that the first bytes name.
#include "verify.h"

#include <climits>
#include <cstring>

#include "crc32.h"
#include "messages.h"

namespace {

constexpr long long TO_THE_END = LLONG_MAX;
constexpr int RESTART_LEN = sizeof RESTART_COMMAND;

// A CRC over the bytes from llFrom up to llTo of the input.
struct Span {
    bool bOn = false;
    long long llFrom = 0;
    long long llTo = 0;
    std::uint32_t ulCrc = 0xFFFFFFFF;
};

// One file to verify, the input or the file stored in it: its first bytes and
// the CRCs of the layouts that they allow.
struct Subject {
    long long llSize = 0;
    unsigned char aucHead[HEADER_FIELDS_LEN] = {};
    ImageKind eKind = ImageKind::Unknown;  // named by SH2 marks or a known tag
    std::uint32_t ulHeaderLen = 0;         // of an SH2 image
    bool bTag = false;                     // a tag, known or not
    Span sSh2, sTagged, sFont;
};

// Everything the pass gathers.
struct Input {
    Subject sTop;           // its size: the bytes read so far
    bool bWrapper = false;  // the input begins with a file-store header
    StoreHeaderFields sHeader;
    unsigned char aucTail[RESTART_LEN] = {};
    int iTailLen = 0;
    Subject sStored;
};

void StartSpan(Span* psSpan, long long llFrom, long long llTo)
{
    psSpan->bOn = true;
    psSpan->llFrom = llFrom;
    psSpan->llTo = llTo;
}

// Continues the span over the iLen bytes at puc, which stand at llPos.
void FeedSpan(Span* psSpan, const unsigned char* puc, int iLen, long long llPos)
{
    long long llFrom = psSpan->llFrom > llPos ? psSpan->llFrom : llPos;
    long long llTo = psSpan->llTo < llPos + iLen ? psSpan->llTo : llPos + iLen;
    if (psSpan->bOn && llFrom < llTo)
        psSpan->ulCrc = Crc32(puc + (llFrom - llPos), static_cast<int>(llTo - llFrom), psSpan->ulCrc);
}

std::uint32_t SpanCrc(const Span& sSpan)
{
    return sSpan.ulCrc ^ 0xFFFFFFFF;
}

// Reads the first iLen bytes of a subject that stands from llBase to llEnd
// and starts the CRCs of the layouts they allow.
void StartSubject(Subject* ps, const unsigned char* puc, int iLen, long long llBase, long long llEnd)
{
    std::memcpy(ps->aucHead, puc, static_cast<std::size_t>(iLen < HEADER_FIELDS_LEN ? iLen : HEADER_FIELDS_LEN));
    ps->eKind = RecogniseKind(puc, iLen, &ps->ulHeaderLen);
    ps->bTag = HasAnyTag(puc, iLen);
    if (ps->eKind == ImageKind::Sh2 && Sh2CrcCheckable(ps->ulHeaderLen))
        StartSpan(&ps->sSh2, llBase + ps->ulHeaderLen, llEnd);
    if (ps->bTag)
        StartSpan(&ps->sTagged, llBase + TAGGED_HEADER_LEN, llEnd);
    StartSpan(&ps->sFont, llBase + FONT_HEADER_LEN, llEnd);
}

void FeedSubject(Subject* ps, const unsigned char* puc, int iLen, long long llPos)
{
    FeedSpan(&ps->sSh2, puc, iLen, llPos);
    FeedSpan(&ps->sTagged, puc, iLen, llPos);
    FeedSpan(&ps->sFont, puc, iLen, llPos);
}

// The first block: the input's first bytes, and those of a stored file.
void StartInput(Input* psIn, const unsigned char* puc, int iLen)
{
    StartSubject(&psIn->sTop, puc, iLen, 0, TO_THE_END);
    psIn->bWrapper = ReadStoreHeader(puc, iLen, &psIn->sHeader);
    if (!psIn->sHeader.bRead)
        return;
    int iAt = psIn->sHeader.iLen;
    long long llSize = psIn->sHeader.llAnnounced;
    int iFirst = llSize < iLen - iAt ? static_cast<int>(llSize) : iLen - iAt;
    psIn->sStored.llSize = llSize;
    StartSubject(&psIn->sStored, puc + iAt, iFirst, iAt, iAt + llSize);
}

// Keeps the last bytes of the input, to see whether it ends with the restart command.
void KeepTail(Input* psIn, const unsigned char* puc, int iLen)
{
    int iNew = iLen < RESTART_LEN ? iLen : RESTART_LEN;
    int iOld = RESTART_LEN - iNew < psIn->iTailLen ? RESTART_LEN - iNew : psIn->iTailLen;
    std::memmove(psIn->aucTail, psIn->aucTail + psIn->iTailLen - iOld, static_cast<std::size_t>(iOld));
    std::memcpy(psIn->aucTail + iOld, puc + iLen - iNew, static_cast<std::size_t>(iNew));
    psIn->iTailLen = iOld + iNew;
}

// The one pass over the input. False on a read error.
bool ReadInput(int iIn, const Block& sBlock, Input* psIn)
{
    bool bFirst = true;
    return ForEachBlock(iIn, sBlock, [&](int iDatalen) {
        if (bFirst)
            StartInput(psIn, sBlock.puc, iDatalen);
        bFirst = false;
        FeedSubject(&psIn->sTop, sBlock.puc, iDatalen, psIn->sTop.llSize);
        FeedSubject(&psIn->sStored, sBlock.puc, iDatalen, psIn->sTop.llSize);
        KeepTail(psIn, sBlock.puc, iDatalen);
        psIn->sTop.llSize += iDatalen;
        return true;
    });
}

bool Agrees(const FieldCheck& sField)
{
    return !sField.bMade || sField.ulStored == sField.ulComputed;
}

bool Holds(const LayoutCheck& sCheck)
{
    switch (sCheck.eLayout) {
    case Layout::None:
        return false;
    case Layout::Store:
        return sCheck.sStore.bExact && sCheck.sStore.llAnnounced == sCheck.sStore.llFollowing;
    case Layout::Sh2:
    case Layout::Tagged:
    case Layout::Custom:
    case Layout::Font:
        break;
    }
    return sCheck.llSize >= sCheck.llNeeded && Agrees(sCheck.sTotallen) && Agrees(sCheck.sCRC);
}

// The total length, and the CRC where the header ends after its field.
void CheckSh2(const Subject& s, LayoutCheck* psCheck)
{
    psCheck->ulHeaderLen = s.ulHeaderLen;
    psCheck->llNeeded = StampedFieldsNeed(ImageKind::Sh2, s.ulHeaderLen);
    if (psCheck->llSize < psCheck->llNeeded)
        return;
    HeaderFields& sFields = psCheck->sFields;
    ReadHeaderFields(s.aucHead, ImageKind::Sh2, &sFields);
    // The low 32 bits of the size, as they are stamped.
    psCheck->sTotallen = {true, sFields.ulTotallen, static_cast<std::uint32_t>(s.llSize) - s.ulHeaderLen};
    if (s.sSh2.bOn)
        psCheck->sCRC = {true, sFields.ulCRC, SpanCrc(s.sSh2)};
}

// A tagged image, or a custom record under any other tag.
void CheckTagged(const Subject& s, LayoutCheck* psCheck)
{
    bool bKnown = s.eKind != ImageKind::Unknown && s.eKind != ImageKind::Sh2;
    psCheck->eLayout = bKnown ? Layout::Tagged : Layout::Custom;
    psCheck->eKind = bKnown ? s.eKind : ImageKind::Unknown;
    psCheck->llNeeded = TAGGED_HEADER_LEN;
    if (psCheck->llSize < psCheck->llNeeded)
        return;
    ReadHeaderFields(s.aucHead, psCheck->eKind, &psCheck->sFields);
    psCheck->sCRC = {true, psCheck->sFields.ulCRC, SpanCrc(s.sTagged)};
}

void CheckFont(const Subject& s, LayoutCheck* psCheck)
{
    psCheck->llNeeded = FONT_HEADER_LEN;
    if (psCheck->llSize >= psCheck->llNeeded)
        psCheck->sCRC = {true, ReadFontHeader(s.aucHead), SpanCrc(s.sFont)};
}

// The header, and the announced length against the bytes after it, less the
// restart command when the input ends with one that the length leaves out.
void CheckStore(const Input& sIn, LayoutCheck* psCheck)
{
    StoreCheck& sStore = psCheck->sStore;
    sStore.bRead = sIn.sHeader.bRead;
    sStore.bExact = sIn.sHeader.bExact;
    sStore.pcTarget = sIn.sHeader.acTarget;
    sStore.llAnnounced = sIn.sHeader.llAnnounced;
    sStore.llFollowing = sIn.sTop.llSize - sIn.sHeader.iLen;
    bool bEnds = sStore.llFollowing >= RESTART_LEN && sIn.iTailLen == RESTART_LEN &&
                 std::memcmp(sIn.aucTail, RESTART_COMMAND, RESTART_LEN) == 0;
    sStore.bRestart = bEnds && sStore.llAnnounced != sStore.llFollowing;
    if (sStore.bRestart)
        sStore.llFollowing -= RESTART_LEN;
}

// True when the first bytes of the subject allow the layout; a wrapper is
// looked for in the input alone (psIn).
bool Allows(Layout eLayout, const Subject& s, const Input* psIn)
{
    switch (eLayout) {
    case Layout::Sh2:
        return s.eKind == ImageKind::Sh2;
    case Layout::Tagged:
    case Layout::Custom:
        return s.bTag;
    case Layout::Store:
        return psIn != nullptr && psIn->bWrapper;
    case Layout::Font:
        return true;
    case Layout::None:
        break;
    }
    return false;
}

LayoutCheck CheckLayout(Layout eLayout, const Subject& s, const Input* psIn)
{
    LayoutCheck sCheck;
    sCheck.eLayout = eLayout;
    sCheck.llSize = s.llSize;
    if (eLayout == Layout::Sh2)
        CheckSh2(s, &sCheck);
    else if (eLayout == Layout::Tagged)
        CheckTagged(s, &sCheck);
    else if (eLayout == Layout::Store)
        CheckStore(*psIn, &sCheck);
    else
        CheckFont(s, &sCheck);
    return sCheck;
}

// The first layout whose checks all hold; else the one that the first bytes
// name (a font has no marks: it names none), or none.
LayoutCheck Choose(const Subject& s, const Input* psIn)
{
    static constexpr Layout aeOrder[] = {Layout::Sh2, Layout::Tagged, Layout::Store, Layout::Font};
    LayoutCheck sNamed;
    for (Layout eLayout : aeOrder) {
        if (!Allows(eLayout, s, psIn))
            continue;
        LayoutCheck sCheck = CheckLayout(eLayout, s, psIn);
        if (Holds(sCheck))
            return sCheck;
        if (sNamed.eLayout == Layout::None && eLayout != Layout::Font)
            sNamed = sCheck;
    }
    return sNamed;
}

// The stored file: any file can be stored, so one of no known kind fails nothing.
bool VerifyStored(const Input& sIn)
{
    ReportStoredFile(sIn.sHeader.iLen);
    LayoutCheck sCheck = Choose(sIn.sStored, nullptr);
    ReportLayout(sCheck, "  ");
    return sCheck.eLayout == Layout::None || Holds(sCheck);
}

}  // namespace

int VerifyFile(int iIn, const PakRun& sRun, const Block& sBlock)
{
    Input sIn;
    if (!ReadInput(iIn, sBlock, &sIn))
        return FailRead(sRun);
    LayoutCheck sCheck = Choose(sIn.sTop, &sIn);
    ReportLayout(sCheck, "");
    bool bHolds = Holds(sCheck);
    if (bHolds && sCheck.eLayout == Layout::Store)
        bHolds = VerifyStored(sIn);
    return bHolds ? PAK_OK : PAK_FAILED;
}
