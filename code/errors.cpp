// The error reporter: debug diagnostic, message, clean-up, exit.
#include "errors.h"

#include <libintl.h>

#include "ending.h"
#include "platform.h"
#include "record.h"
#include "settings.h"
#include "stderrline.h"

// Marks a text for the message catalogue; it is translated where it is printed.
#define N_(text) text

namespace {

struct ErrorMessage {
    int iCode;
    const char* pcKey;
};

const ErrorMessage lk_sMessages[] = {
    {ERR_TIMEOUT, N_("Timeout\n")},
    {ERR_SERIAL, N_("serial error\n")},
    {ERR_RECEIVE, N_("error during receiving\n")},
    {ERR_SEND, N_("error during sending\n")},
    {ERR_CONNECT, N_("error during TCP/IP connect\n")},
    {ERR_RESOLVE, N_("error during host name resolution\n")},
    {ERR_NETWORK, N_("common network error\n")},
    {ERR_PROGRAM, N_("programm error (i.e. false argument)\n")},
};

const char* MessageKey(int iCode)
{
    for (const ErrorMessage& sMessage : lk_sMessages)
        if (sMessage.iCode == iCode)
            return sMessage.pcKey;
    return nullptr;
}

// The system's text for a last-error code, ended by a line end.
void PrintSystemMessage(int iError)
{
    char pcText[1024];
    PlatErrorText(iError, pcText, sizeof pcText);
    StderrPrint("%s\n", pcText);
    RecordMessage(pcText);
}

}  // namespace

void HandleError(int iCode, int iReason, const char* pcFile, int iLine, const char* pcText)
{
    int iLastError = PlatLastError();
    // One end is reported: when both threads fail at once (a line that goes
    // away meets the sender and the receiver), or one fails because the other
    // is ending the process, the first reports and the other waits for the end.
    const bool bEnds = iCode != ERR_TIMEOUT || lk_bRecvExitWhenTimeout;
    if (bEnds && !ClaimEnd())
        EndProcess(iCode);
    StderrHold();
    if (gl_bDebug)
        StderrPrint("%s, Line %i: %i, %i:\n", pcFile, iLine, iReason, iLastError);

    if (iCode == iReason) {
        const char* pcKey = MessageKey(iCode);
        RecordMessage(pcKey != nullptr ? gettext(pcKey) : "");
        if (pcKey != nullptr)
            StderrPrint("%s", gettext(pcKey));
        if (pcText != nullptr)
            StderrPrint("    %s\n", pcText);
    } else {
        PrintSystemMessage(iLastError);
    }

    if (!bEnds) {
        StderrResume();
        return;
    }

    // The clean-up comes before the debug pause, so that the other thread
    // meets a link that is shut down rather than going on with it.
    RunEndHook();
    if (gl_bDebug)
        PlatSleep(5000);
    EndProcess(iCode);
}
