// The answer filter. With parsing off every block is written unchanged. With
// parsing on, a byte-by-byte parser follows the device's answer frames (start
// byte, text, end byte) across blocks; each call handles at most one answer:
//   - a quoted-text answer (TD"text"...) shows its text,
//   - a reply or any other answer shows the whole frame,
//   - a size answer (AOK;n, or AA/AU...*n) shows nothing of itself and
//     announces n bytes of binary data, which pass unchanged and end the
//     session when all have come.
// After a shown answer, mode 1 writes a line end and goes on; mode 0 ends.
// An answer unfinished at the end of a block is held in a buffer of its own and
// completed with the next block, so a frame cut across reads is shown whole;
// when receiving ends first, FilterFlush writes it as the device sent it.
#include "filter.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "ending.h"
#include "errors.h"
#include "platform.h"
#include "settings.h"

namespace {

// Parser states.
enum {
    ST_IDLE = 0,       // outside an answer
    ST_START = 1,      // start byte seen
    ST_A = 2,          // "A"
    ST_T = 3,          // "T"
    ST_TD = 4,         // "TD"
    ST_TEXT = 5,       // inside the quoted text
    ST_AO = 6,         // "AO"
    ST_AOK = 7,        // "AOK"
    ST_REPLY = 8,      // "AA" or "AU"
    ST_SIZE = 9,       // first number of a size answer
    ST_SIZE2 = 10,     // second number, whose value is not used
    ST_BINARY = 11,    // binary data announced
    ST_OTHER = 12,     // any other answer, up to its end byte
    ST_TEXT_END = 13,  // after the quoted text, up to the end byte
};

// How the scan of one block stopped.
enum Outcome {
    SCAN_IDLE,
    SCAN_OPEN,
    SCAN_SHOWN,
    SCAN_SIZE
};

constexpr int FIELD_SLACK = 32;   // bytes a number field may hold besides digits
constexpr int ANSWER_MAX = 4096;  // answer bytes held across blocks

int sState;
char pcSize[FIELD_SLACK + 2];
int iSizeI;
int iTimeout;
std::uint32_t uiRecvSize;

// The answer being parsed, as the device sent it from its start byte. Of a
// quoted-text answer only the text between the quotes is shown: from
// lk_iShowFrom up to lk_iShowTo (-1 while the text is open). When the answer
// outgrows the buffer the held bytes are shown early and the answer goes on
// being shown as it comes; bytes after a closed text are kept only while
// there is room, since they are never shown.
unsigned char lk_pcAnswer[ANSWER_MAX];
int lk_iAnswerLen;
int lk_iShowFrom;
int lk_iShowTo;
bool lk_bAnswerShown;    // part of the answer was already written
bool lk_bAnswerRestart;  // the answer's text begins with "Restart"
bool lk_bWriteFailed;    // a write failed: nothing more is written

const FilterIo* lk_psIo = &gl_sFilterIoDefault;
int lk_fd;
bool lk_bEnded;  // the end hook was called during this call (and returned)

void End(int iCode)
{
    lk_psIo->pfnEnd(iCode);
    lk_bEnded = true;
}

// Writes all bytes; a failed write ends the process. False when it did so.
bool WriteOut(const void* pData, int len)
{
    if (PlatWriteAll(lk_psIo->pfnWrite, lk_fd, pData, len) == len)
        return true;
    lk_bWriteFailed = true;
    End(ERR_RECEIVE);
    return false;
}

bool IsDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

// The digits of pcSize as an unsigned number, saturating; false without digits.
bool SizeValue(std::uint32_t* puiValue)
{
    if (iSizeI == 0)
        return false;
    std::uint64_t ullValue = 0;
    for (int i = 0; i < iSizeI; i++) {
        ullValue = ullValue * 10 + static_cast<unsigned>(pcSize[i] - '0');
        if (ullValue > UINT32_MAX) {
            *puiValue = UINT32_MAX;
            return true;
        }
    }
    *puiValue = static_cast<std::uint32_t>(ullValue);
    return true;
}

void TakeSize()
{
    pcSize[iSizeI] = '\0';
    SizeValue(&uiRecvSize);
}

void StoreDigit(unsigned char c)
{
    if (iSizeI <= FIELD_SLACK)
        pcSize[iSizeI++] = static_cast<char>(c);
}

// End of the part of the held answer that is shown.
int ShownEnd()
{
    return lk_iShowTo >= 0 ? lk_iShowTo : lk_iAnswerLen;
}

// Shows the start of an answer text: clears the remote console first.
bool BeginShowing()
{
    lk_bAnswerRestart = ShownEnd() - lk_iShowFrom >= 7 && memcmp(lk_pcAnswer + lk_iShowFrom, "Restart", 7) == 0;
    lk_bAnswerShown = true;
    if (lk_bRemCon && !lk_psIo->pfnClearScreen(lk_fd)) {
        End(ERR_RECEIVE);
        return false;
    }
    return true;
}

// Adds a byte to the answer; a full buffer is shown first.
bool Keep(unsigned char c)
{
    if (lk_iAnswerLen == ANSWER_MAX) {
        if (sState == ST_TEXT_END)
            return true;
        if (!lk_bAnswerShown && !BeginShowing())
            return false;
        if (!WriteOut(lk_pcAnswer + lk_iShowFrom, lk_iAnswerLen - lk_iShowFrom))
            return false;
        lk_iAnswerLen = lk_iShowFrom = 0;
    }
    lk_pcAnswer[lk_iAnswerLen++] = c;
    return true;
}

void StartAnswer()
{
    lk_iAnswerLen = lk_iShowFrom = 0;
    lk_iShowTo = -1;
    lk_bAnswerShown = false;
    lk_bAnswerRestart = false;
}

// Gives the answer up: it is shown as far as it came, offending byte included.
// A size already taken from the first number stays in force: the bytes that
// follow are counted down.
Outcome Abandon()
{
    sState = sState == ST_SIZE2 && uiRecvSize != 0 ? ST_BINARY : ST_IDLE;
    return SCAN_SHOWN;
}

// The one byte an answer may go on with, into iNext; any other abandons it.
Outcome Expect(unsigned char c, unsigned char cWanted, int iNext)
{
    if (c != cWanted)
        return Abandon();
    sState = iNext;
    return SCAN_OPEN;
}

// The end byte ends the answer; every other byte belongs to it.
Outcome UpToEnd(unsigned char c)
{
    if (c != static_cast<unsigned char>(lk_cETB))
        return SCAN_OPEN;
    sState = ST_IDLE;
    return SCAN_SHOWN;
}

Outcome StartSizeField(int iField)
{
    iSizeI = iTimeout = 0;
    sState = iField;
    return SCAN_OPEN;
}

// A byte of a size answer's first or second number. Digits first, then the
// end byte, then ";" after the first number; any other byte is ignored among
// the field's first bytes and abandons the answer after them.
Outcome ParseSizeByte(unsigned char c)
{
    iTimeout++;
    if (IsDigit(c)) {
        StoreDigit(c);
        return SCAN_OPEN;
    }
    if (c == static_cast<unsigned char>(lk_cETB)) {
        if (sState == ST_SIZE)
            TakeSize();
        sState = ST_BINARY;
        return SCAN_SIZE;
    }
    if (c == ';' && sState == ST_SIZE) {
        TakeSize();
        return StartSizeField(ST_SIZE2);
    }
    return iTimeout <= FIELD_SLACK ? SCAN_OPEN : Abandon();
}

// One byte of an answer; SCAN_OPEN while the answer goes on.
Outcome ParseAnswerByte(unsigned char c)
{
    switch (sState) {
    case ST_START:
        sState = c == 'A' ? ST_A : c == 'T' ? ST_T : ST_OTHER;
        return SCAN_OPEN;
    case ST_A:
        sState = c == 'O' ? ST_AO : (c == 'A' || c == 'U') ? ST_REPLY : ST_OTHER;
        return SCAN_OPEN;
    case ST_T:
        return Expect(c, 'D', ST_TD);
    case ST_TD:
        if (c == '"')
            lk_iShowFrom = lk_iAnswerLen;  // only the text is shown
        return Expect(c, '"', ST_TEXT);
    case ST_TEXT:
        if (c == '"') {
            lk_iShowTo = lk_iAnswerLen - 1;
            sState = ST_TEXT_END;
        }
        return SCAN_OPEN;
    case ST_AO:
        return Expect(c, 'K', ST_AOK);
    case ST_AOK:
        return c == ';' ? StartSizeField(ST_SIZE) : Abandon();
    case ST_REPLY:
        // A "*" makes the reply a size answer, even when it is the end byte too.
        return c == '*' ? StartSizeField(ST_SIZE) : UpToEnd(c);
    case ST_SIZE:
    case ST_SIZE2:
        return ParseSizeByte(c);
    default:  // ST_TEXT_END, ST_OTHER
        return UpToEnd(c);
    }
}

// Scans from the block's start until an answer ends (*piEnd: the index after
// its last byte) or the block ends. *piStart: the index of the start byte of an
// answer that began in this block, else -1.
Outcome Scan(const unsigned char* data, int len, int* piStart, int* piEnd)
{
    *piStart = -1;
    Outcome eOutcome = sState == ST_IDLE ? SCAN_IDLE : SCAN_OPEN;
    for (int i = 0; i < len; i++) {
        unsigned char c = data[i];
        if (sState == ST_IDLE) {
            if (c != static_cast<unsigned char>(lk_cSOH))
                continue;
            StartAnswer();
            *piStart = i;
            sState = ST_START;
            eOutcome = SCAN_OPEN;
            if (!Keep(c))
                return SCAN_OPEN;
            continue;
        }
        if (!Keep(c))
            return SCAN_OPEN;
        eOutcome = ParseAnswerByte(c);
        if (eOutcome != SCAN_OPEN) {
            *piEnd = i + 1;
            return eOutcome;
        }
    }
    *piEnd = len;
    return eOutcome;
}

// A shown answer has ended: its text, then a line end (mode 1) or the end.
int FinishShown(int iEnd, int len)
{
    if (!lk_bAnswerShown && !BeginShowing())
        return len;
    if (!WriteOut(lk_pcAnswer + lk_iShowFrom, ShownEnd() - lk_iShowFrom))
        return len;
    const bool bRestart = lk_bAnswerRestart;
    StartAnswer();
    if (lk_bRemConExitWhenReset && bRestart) {
        if (lk_ulTimeout != 0)
            lk_psIo->pfnPause(std::uint64_t{lk_ulTimeout} * 1000);
        End(EXIT_DONE);
        return len;
    }
    if (lk_sXDCLMode != 1) {
        End(EXIT_DONE);
        return len;
    }
    if (!WriteOut("\n", 1))
        return len;
    return iEnd;
}

// Bytes that are no answer's, counted against an announced transfer.
void CountDown(const unsigned char* data, int len)
{
    if (!WriteOut(data, len) || uiRecvSize == 0)
        return;
    if (static_cast<std::uint32_t>(len) >= uiRecvSize)
        End(EXIT_DONE);
    else
        uiRecvSize -= static_cast<std::uint32_t>(len);
}

}  // namespace

void FilterSetIo(const FilterIo* psIo)
{
    lk_psIo = psIo != nullptr ? psIo : &gl_sFilterIoDefault;
}

void FilterReset(void)
{
    sState = ST_IDLE;
    iSizeI = iTimeout = 0;
    uiRecvSize = 0;
    lk_bWriteFailed = false;
    StartAnswer();
}

int FilterBulkLength(int iAvailable)
{
    if (!lk_bXDCL || (sState == ST_BINARY && uiRecvSize == 0))
        return iAvailable;
    if (sState != ST_BINARY)
        return 0;
    const std::uint64_t ullPieces = (std::uint64_t{uiRecvSize} + FILTER_PIECE - 1) / FILTER_PIECE;
    const std::uint64_t ullEnd = ullPieces * FILTER_PIECE;
    return ullEnd < static_cast<std::uint64_t>(iAvailable) ? static_cast<int>(ullEnd) : iAvailable;
}

void FilterFlush(int fd)
{
    const bool bHeld = sState != ST_IDLE && sState != ST_BINARY;
    if (!lk_bXDCL || !bHeld || lk_bWriteFailed)
        return;
    lk_fd = fd;
    WriteOut(lk_pcAnswer, lk_iAnswerLen);
    sState = ST_IDLE;
    StartAnswer();
}

int HandleData(int fd, const unsigned char* data, int len)
{
    lk_fd = fd;
    lk_bEnded = false;
    if (!lk_bXDCL) {
        int n = lk_psIo->pfnWrite(fd, data, len);
        if (n <= 0 && len > 0) {
            End(ERR_RECEIVE);
            return len;
        }
        return n;
    }
    if (sState == ST_BINARY) {
        CountDown(data, len);
        return len;
    }

    int iStart = -1;
    int iEnd = 0;
    Outcome eOutcome = Scan(data, len, &iStart, &iEnd);
    if (lk_bEnded)
        return len;
    if (eOutcome == SCAN_SHOWN)
        return FinishShown(iEnd, len);
    // Bytes before an answer's start byte are shown unless the answer is.
    if (iStart > 0 && !lk_bAnswerShown && !WriteOut(data, iStart))
        return len;
    if (eOutcome == SCAN_SIZE)
        CountDown(data + iEnd, len - iEnd);
    else if (eOutcome == SCAN_IDLE)
        WriteOut(data, len);
    return len;
}

void FilterConsume(int fd, const unsigned char* data, int len)
{
    for (int iDone = 0; iDone < len;) {
        const int iLeft = len - iDone;
        const int iBulk = FilterBulkLength(iLeft);
        const int iPiece = iBulk > 0 ? iBulk : iLeft < FILTER_PIECE ? iLeft : FILTER_PIECE;
        for (int iConsumed = 0; iConsumed < iPiece;) {
            const int n = HandleData(fd, data + iDone + iConsumed, iPiece - iConsumed);
            if (lk_bEnded)
                return;
            // Every call takes at least one byte and at most all of them, or
            // this loop would never end.
            if (n < 1 || n > iPiece - iConsumed)
                std::abort();
            iConsumed += n;
        }
        iDone += iPiece;
    }
}

namespace {

std::atomic<std::uint64_t> lk_ullWritten{0};

// The output's write, counted for the result record.
int WriteCounted(int fd, const void* pData, int len)
{
    const int n = PlatWrite(fd, pData, len);
    if (n > 0)
        lk_ullWritten.fetch_add(static_cast<std::uint64_t>(n), std::memory_order_relaxed);
    return n;
}

void EndSession(int iCode)
{
    if (iCode == EXIT_DONE)
        EndProcess(EXIT_DONE);
    HandleError(ERR_RECEIVE, ERR_RECEIVE, __FILE__, __LINE__, nullptr);
}

}  // namespace

const FilterIo gl_sFilterIoDefault = {WriteCounted, EndSession, PlatClearScreen, PlatSleep};

std::uint64_t FilterWritten(void)
{
    return lk_ullWritten.load();
}
