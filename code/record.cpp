// The result record of -j: its fields gathered at the end, formatted as one
// line of JSON, and written in one piece.
#include "record.h"

#include <libintl.h>

#include <cstdio>
#include <cstring>

#include "morlink_version.h"
#include "platform.h"
#include "settings.h"
#include "status.h"
#include "stderrline.h"

namespace {

std::uint64_t lk_ullStartMs;
// The message of the ending, set by either thread under lk_sMessageLock.
char lk_pcMessage[1024];
PlatLock lk_sMessageLock;
int lk_fdRecord = -1;
bool lk_bToStderr;
bool lk_bNone;
// Built here at the end; static, so that the end needs no large stack.
char lk_pcRecord[RECORD_SIZE];

// Appends to a record under construction; the buffer is sized for the
// longest record, so nothing is checked here.
struct Line {
    char* pc;
    int iLen;
};

void Put(Line* psLine, const char* pcText)
{
    const std::size_t n = std::strlen(pcText);
    std::memcpy(psLine->pc + psLine->iLen, pcText, n);
    psLine->iLen += static_cast<int>(n);
}

void PutNumber(Line* psLine, std::uint64_t ullValue)
{
    char pcNumber[24];
    std::snprintf(pcNumber, sizeof pcNumber, "%llu", static_cast<unsigned long long>(ullValue));
    Put(psLine, pcNumber);
}

// The length of the valid UTF-8 sequence at puc (at most n bytes), 0 when
// the byte there starts none: no overlong forms, no surrogates, nothing
// above U+10FFFF.
std::size_t Utf8Length(const unsigned char* puc, std::size_t n)
{
    const unsigned char c = puc[0];
    std::size_t iLen = 0;
    unsigned char ucLow = 0x80, ucHigh = 0xBF;
    if (c >= 0xC2 && c <= 0xDF)
        iLen = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        iLen = 3;
        ucLow = c == 0xE0 ? 0xA0 : 0x80;
        ucHigh = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        iLen = 4;
        ucLow = c == 0xF0 ? 0x90 : 0x80;
        ucHigh = c == 0xF4 ? 0x8F : 0xBF;
    }
    if (iLen == 0 || iLen > n || puc[1] < ucLow || puc[1] > ucHigh)
        return 0;
    for (std::size_t i = 2; i < iLen; ++i)
        if (puc[i] < 0x80 || puc[i] > 0xBF)
            return 0;
    return iLen;
}

// A JSON string of pcText (at most RECORD_TEXT_MAX bytes of it), or null:
// quote, backslash and control characters escaped, valid UTF-8 as it is,
// every other byte as \u00XX of that byte.
void PutString(Line* psLine, const char* pcText)
{
    if (pcText == nullptr) {
        Put(psLine, "null");
        return;
    }
    const auto* puc = reinterpret_cast<const unsigned char*>(pcText);
    std::size_t n = std::strlen(pcText);
    if (n > RECORD_TEXT_MAX)
        n = RECORD_TEXT_MAX;
    char* pcOut = psLine->pc + psLine->iLen;
    *pcOut++ = '"';
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = puc[i];
        if (c == '"' || c == '\\') {
            *pcOut++ = '\\';
            *pcOut++ = static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x80) {
            *pcOut++ = static_cast<char>(c);
        } else {
            const std::size_t iSeq = c >= 0x80 ? Utf8Length(puc + i, n - i) : 0;
            if (iSeq > 0) {
                std::memcpy(pcOut, puc + i, iSeq);
                pcOut += iSeq;
                i += iSeq;
                continue;
            }
            pcOut += std::snprintf(pcOut, 7, "\\u%04x", static_cast<unsigned>(c));
        }
        ++i;
    }
    *pcOut++ = '"';
    psLine->iLen = static_cast<int>(pcOut - psLine->pc);
}

void PutField(Line* psLine, const char* pcName)
{
    Put(psLine, psLine->iLen == 0 ? "{\"" : ",\"");
    Put(psLine, pcName);
    Put(psLine, "\":");
}

const char* ResultName(int iStatus)
{
    switch (iStatus) {
    case EXIT_DONE:
        return "ok";
    case ERR_TIMEOUT:
        return "timeout";
    case ERR_SERIAL:
        return "serial";
    case ERR_RECEIVE:
        return "receive";
    case ERR_SEND:
        return "send";
    case ERR_CONNECT:
        return "connect";
    case ERR_RESOLVE:
        return "resolve";
    case ERR_NETWORK:
        return "network";
    default:
        return "program";
    }
}

// The failure to write the record, on standard error.
void ReportUnwritten(void)
{
    char pcText[1024];
    PlatErrorText(PlatLastError(), pcText, sizeof pcText);
    StderrPrint(gettext("the result record cannot be written: %s\n"), pcText);
}

// The record as the last line of standard error, on a line of its own.
void WriteToStderr(int iLen)
{
    StderrHold();
    if (!StderrLines(lk_pcRecord, iLen))
        ReportUnwritten();
}

}  // namespace

int RecordFormat(char* pcBuf, const RecordFields& sFields)
{
    Line sLine = {pcBuf, 0};
    PutField(&sLine, "tool");
    PutString(&sLine, "morlink");
    PutField(&sLine, "version");
    PutString(&sLine, MORLINK_VERSION);
    PutField(&sLine, "link");
    PutString(&sLine, sFields.pcLink);
    PutField(&sLine, "device");
    PutString(&sLine, sFields.pcDevice);
    PutField(&sLine, "port");
    if (sFields.iPort < 0)
        Put(&sLine, "null");
    else
        PutNumber(&sLine, static_cast<std::uint64_t>(sFields.iPort));
    PutField(&sLine, "input");
    PutString(&sLine, sFields.pcInput);
    PutField(&sLine, "sent");
    PutNumber(&sLine, sFields.ullSent);
    PutField(&sLine, "frames");
    PutNumber(&sLine, sFields.ullFrames);
    PutField(&sLine, "received");
    PutNumber(&sLine, sFields.ullReceived);
    PutField(&sLine, "written");
    PutNumber(&sLine, sFields.ullWritten);
    // Whole numbers only: the C locale's decimal point whatever the locale.
    PutField(&sLine, "seconds");
    char pcSeconds[32];
    std::snprintf(pcSeconds, sizeof pcSeconds, "%llu.%03u",
                  static_cast<unsigned long long>(sFields.ullMilliseconds / 1000),
                  static_cast<unsigned>(sFields.ullMilliseconds % 1000));
    Put(&sLine, pcSeconds);
    PutField(&sLine, "status");
    PutNumber(&sLine, static_cast<std::uint64_t>(sFields.iStatus));
    PutField(&sLine, "result");
    PutString(&sLine, ResultName(sFields.iStatus));
    PutField(&sLine, "message");
    PutString(&sLine, sFields.pcMessage);
    PutField(&sLine, "confirmed");
    Put(&sLine, sFields.iConfirmed < 0 ? "null" : sFields.iConfirmed != 0 ? "true" : "false");
    Put(&sLine, "}\n");
    return sLine.iLen;
}

void RecordStart(void)
{
    lk_ullStartMs = PlatNowMs();
}

void RecordMessage(const char* pcText)
{
    PlatLockTake(&lk_sMessageLock);
    std::size_t n = std::strlen(pcText);
    if (n > 0 && pcText[n - 1] == '\n')
        --n;
    if (n >= sizeof lk_pcMessage)
        n = sizeof lk_pcMessage - 1;
    std::memcpy(lk_pcMessage, pcText, n);
    lk_pcMessage[n] = '\0';
    PlatLockGive(&lk_sMessageLock);
}

bool RecordOpen(void)
{
    if (!lk_bRecord || lk_pcRecordFilename[0] == '\0' || lk_fdRecord >= 0 || lk_bToStderr)
        return true;
    lk_fdRecord = PlatAppendOpen(lk_pcRecordFilename);
    return lk_fdRecord >= 0;
}

int RecordFile(void)
{
    return lk_fdRecord;
}

void RecordRefuse(void)
{
    lk_bToStderr = true;
}

void RecordNone(void)
{
    lk_bNone = true;
}

bool RecordWanted(void)
{
    return lk_bRecord && !lk_bNone;
}

void RecordWrite(RecordFields sFields)
{
    sFields.ullMilliseconds = PlatNowMs() - lk_ullStartMs;
    PlatLockTake(&lk_sMessageLock);
    sFields.pcMessage = lk_pcMessage;
    const int iLen = RecordFormat(lk_pcRecord, sFields);
    PlatLockGive(&lk_sMessageLock);
    if (lk_pcRecordFilename[0] == '\0' || lk_bToStderr) {
        WriteToStderr(iLen);
        return;
    }
    // A run that ended before the files were opened opens it now.
    if (!RecordOpen() || !PlatAppendWrite(lk_fdRecord, lk_pcRecord, iLen))
        ReportUnwritten();
}
