// The Telnet codec: negotiation, settings, escaping and the decoder.
#include "telnet.h"

#include <cstring>

namespace {

// The option's index, or TELNET_OPTS for an option that this side refuses.
int OptionIndex(unsigned char ucOption)
{
    switch (ucOption) {
    case TELNET_BINARY:
        return TELNET_OPT_BINARY;
    case TELNET_SGA:
        return TELNET_OPT_SGA;
    case TELNET_COM_PORT:
        return TELNET_OPT_COM_PORT;
    default:
        return TELNET_OPTS;
    }
}

int PutCommand(unsigned char* pucOut, unsigned char ucVerb, unsigned char ucOption)
{
    pucOut[0] = TELNET_IAC;
    pucOut[1] = ucVerb;
    pucOut[2] = ucOption;
    return 3;
}

void Answer(TelnetCodec* psCodec, unsigned char ucVerb, unsigned char ucOption)
{
    psCodec->iAnswer += PutCommand(psCodec->pucAnswer + psCodec->iAnswer, ucVerb, ucOption);
}

// The answer of one side (bUs: ours, WILL and WONT; else the server's, DO
// and DONT) to the server's request (bOn: DO or WILL) or refusal, by that
// side's state: an answer only where the state changes and the server has not
// just answered a request of ours, so that no answer can start a loop. bWants:
// this side takes the option there.
void Negotiate(TelnetCodec* psCodec, bool bUs, bool bOn, bool bWants, unsigned char ucOption)
{
    const int i = OptionIndex(ucOption);
    TelnetQ* peQ = bUs ? psCodec->peUs : psCodec->peHim;
    std::uint8_t* pui8Refused = bUs ? &psCodec->ui8RefusedUs : &psCodec->ui8RefusedHim;
    const unsigned char ucYes = bUs ? TELNET_WILL : TELNET_DO;
    const unsigned char ucNo = bUs ? TELNET_WONT : TELNET_DONT;
    if (i == TELNET_OPTS || !bWants) {
        if (bOn)
            Answer(psCodec, ucNo, ucOption);
        return;
    }
    if (bOn) {
        if (peQ[i] == TELNET_Q_NO)
            Answer(psCodec, ucYes, ucOption);
        peQ[i] = TELNET_Q_YES;
        return;
    }
    if (peQ[i] == TELNET_Q_WANTYES)
        *pui8Refused |= static_cast<std::uint8_t>(1u << i);
    else if (peQ[i] == TELNET_Q_YES)
        Answer(psCodec, ucNo, ucOption);
    peQ[i] = TELNET_Q_NO;
}

// WILL, WONT, DO or DONT and its option. The server's side of the com port
// option is refused: a client has none to offer.
void TakeVerb(TelnetCodec* psCodec, unsigned char ucVerb, unsigned char ucOption)
{
    const bool bOn = ucVerb == TELNET_WILL || ucVerb == TELNET_DO;
    const bool bUs = ucVerb == TELNET_DO || ucVerb == TELNET_DONT;
    Negotiate(psCodec, bUs, bOn, bUs || ucOption != TELNET_COM_PORT, ucOption);
}

// A reply of the server to a setting: the command plus COM_REPLY, then the
// value in as many bytes as the setting has. Notifications and everything
// else of the option are of no use here.
void TakeSub(TelnetCodec* psCodec)
{
    const unsigned char* puc = psCodec->pucSub;
    const int iLen = psCodec->iSub;
    if (iLen < 3 || iLen > TELNET_SUB_SIZE || puc[0] != TELNET_COM_PORT)
        return;
    const int iCommand = puc[1] - COM_REPLY;
    if (iCommand < COM_SET_BAUDRATE || iCommand > COM_SET_CONTROL)
        return;
    if (iLen != (iCommand == COM_SET_BAUDRATE ? 6 : 3))
        return;
    std::uint32_t ulValue = 0;
    for (int i = 2; i < iLen; ++i)
        ulValue = ulValue << 8 | puc[i];
    // The lines' replies are not waited for: they do not count as flow control's.
    if (iCommand == COM_SET_CONTROL && ulValue >= 7 && ulValue <= 12)
        return;
    TelnetReply& sReply = psCodec->psReplies[iCommand];
    ++sReply.ulCount;
    sReply.ulValue = ulValue;
}

void KeepSubByte(TelnetCodec* psCodec, unsigned char uc)
{
    if (psCodec->iSub < TELNET_SUB_SIZE)
        psCodec->pucSub[psCodec->iSub] = uc;
    if (psCodec->iSub <= TELNET_SUB_SIZE)
        ++psCodec->iSub;
}

// The byte after IAC outside a subnegotiation: a doubled 0xFF is a device
// byte (true); every other command is taken out of the stream.
bool TakeCommand(TelnetCodec* psCodec, unsigned char uc)
{
    psCodec->eState = TELNET_DATA;
    if (uc == TELNET_IAC)
        return true;
    if (uc >= TELNET_WILL) {
        psCodec->ucVerb = uc;
        psCodec->eState = TELNET_VERB;
    } else if (uc == TELNET_SB) {
        psCodec->iSub = 0;
        psCodec->eState = TELNET_SUB;
    }
    return false;
}

// The byte after IAC inside a subnegotiation: a doubled 0xFF, the end, or a
// command that cuts the subnegotiation short, taken as a command.
void TakeSubCommand(TelnetCodec* psCodec, unsigned char uc)
{
    psCodec->eState = TELNET_SUB;
    if (uc == TELNET_IAC) {
        KeepSubByte(psCodec, uc);
        return;
    }
    if (uc == TELNET_SE)
        TakeSub(psCodec);
    TakeCommand(psCodec, uc);
}

// A run of device bytes up to the next IAC, moved to pucOut: the count of
// pucIn that it took (the IAC included when one ends it).
int TakeData(TelnetCodec* psCodec, const unsigned char* pucIn, int iLen, unsigned char* pucOut, int* piOut)
{
    const void* pvIac = std::memchr(pucIn, TELNET_IAC, static_cast<std::size_t>(iLen));
    const int iRun = pvIac != nullptr ? static_cast<int>(static_cast<const unsigned char*>(pvIac) - pucIn) : iLen;
    if (iRun > 0 && pucOut + *piOut != pucIn)
        std::memmove(pucOut + *piOut, pucIn, static_cast<std::size_t>(iRun));
    *piOut += iRun;
    if (pvIac == nullptr)
        return iRun;
    psCodec->eState = TELNET_CMD;
    return iRun + 1;
}

}  // namespace

int TelnetStart(TelnetCodec* psCodec, unsigned char* pucOut)
{
    std::memset(psCodec, 0, sizeof *psCodec);
    for (int i = 0; i < TELNET_OPTS; ++i)
        psCodec->peUs[i] = TELNET_Q_WANTYES;
    psCodec->peHim[TELNET_OPT_BINARY] = TELNET_Q_WANTYES;
    psCodec->peHim[TELNET_OPT_SGA] = TELNET_Q_WANTYES;
    int n = PutCommand(pucOut, TELNET_WILL, TELNET_COM_PORT);
    n += PutCommand(pucOut + n, TELNET_WILL, TELNET_BINARY);
    n += PutCommand(pucOut + n, TELNET_DO, TELNET_BINARY);
    n += PutCommand(pucOut + n, TELNET_WILL, TELNET_SGA);
    n += PutCommand(pucOut + n, TELNET_DO, TELNET_SGA);
    return n;
}

int TelnetSetting(unsigned char ucCommand, std::uint32_t ulValue, unsigned char* pucOut)
{
    unsigned char pucValue[4];
    const int iBytes = ucCommand == COM_SET_BAUDRATE ? 4 : 1;
    for (int i = 0; i < iBytes; ++i)
        pucValue[i] = static_cast<unsigned char>(ulValue >> (8 * (iBytes - 1 - i)));
    int n = 0;
    pucOut[n++] = TELNET_IAC;
    pucOut[n++] = TELNET_SB;
    pucOut[n++] = TELNET_COM_PORT;
    pucOut[n++] = ucCommand;
    n += TelnetEscape(pucValue, iBytes, pucOut + n);
    pucOut[n++] = TELNET_IAC;
    pucOut[n++] = TELNET_SE;
    return n;
}

int TelnetEscape(const unsigned char* pucIn, int iLen, unsigned char* pucOut)
{
    int n = 0;
    for (int i = 0; i < iLen;) {
        const void* pvIac = std::memchr(pucIn + i, TELNET_IAC, static_cast<std::size_t>(iLen - i));
        const int iEnd = pvIac != nullptr ? static_cast<int>(static_cast<const unsigned char*>(pvIac) - pucIn) : iLen;
        std::memcpy(pucOut + n, pucIn + i, static_cast<std::size_t>(iEnd - i));
        n += iEnd - i;
        i = iEnd;
        if (pvIac != nullptr) {
            pucOut[n++] = TELNET_IAC;
            pucOut[n++] = TELNET_IAC;
            ++i;
        }
    }
    return n;
}

int TelnetDecode(TelnetCodec* psCodec, const unsigned char* pucIn, int iLen, unsigned char* pucOut, int* piOut)
{
    *piOut = 0;
    int i = 0;
    while (i < iLen) {
        const unsigned char uc = pucIn[i];
        switch (psCodec->eState) {
        case TELNET_DATA:
            i += TakeData(psCodec, pucIn + i, iLen - i, pucOut, piOut);
            continue;
        case TELNET_CMD:
            if (TakeCommand(psCodec, uc))
                pucOut[(*piOut)++] = uc;
            break;
        case TELNET_VERB:
            // An answer may follow: there must be room for it.
            if (psCodec->iAnswer + 3 > TELNET_ANSWER_SIZE)
                return i;
            TakeVerb(psCodec, psCodec->ucVerb, uc);
            psCodec->eState = TELNET_DATA;
            break;
        case TELNET_SUB:
            if (uc == TELNET_IAC)
                psCodec->eState = TELNET_SUB_IAC;
            else
                KeepSubByte(psCodec, uc);
            break;
        case TELNET_SUB_IAC:
            TakeSubCommand(psCodec, uc);
            break;
        }
        ++i;
    }
    return i;
}
