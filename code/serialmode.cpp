// The serial mode string, parsed into line settings.
//
// Parsing follows the Windows mode syntax: keys are matched without regard to
// case, "=" included; each value must be followed by a space or the end of the
// string; an unknown key, a bad value and the old comma-separated style fail.
#include "serialmode.h"

#include <cstring>

namespace {

enum SerialKey {
    KEY_BAUD,
    KEY_PARITY,
    KEY_DATA,
    KEY_STOP,
    KEY_TO,
    KEY_XON,
    KEY_ODSR,
    KEY_OCTS,
    KEY_DTR,
    KEY_RTS,
    KEY_IDSR
};

struct KeyName {
    const char* pcName;
    SerialKey eKey;
};

const KeyName lk_sKeys[] = {
    {"baud=", KEY_BAUD}, {"parity=", KEY_PARITY}, {"data=", KEY_DATA}, {"stop=", KEY_STOP},
    {"to=", KEY_TO},     {"xon=", KEY_XON},       {"odsr=", KEY_ODSR}, {"octs=", KEY_OCTS},
    {"dtr=", KEY_DTR},   {"rts=", KEY_RTS},       {"idsr=", KEY_IDSR},
};

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The position after pcWord (lower case) at the start of pcText, case ignored;
// nullptr when pcText does not start with it.
const char* SkipWord(const char* pcText, const char* pcWord)
{
    for (; *pcWord != '\0'; ++pcText, ++pcWord)
        if (Lower(*pcText) != *pcWord)
            return nullptr;
    return pcText;
}

// Each value reader takes the text after "key=" and returns the position after
// the value, or nullptr when there is no valid value.

// One or more decimal digits that fit 32 bits.
const char* ReadNumber(const char* pc, std::uint32_t* pulValue)
{
    if (!IsDigit(*pc))
        return nullptr;
    std::uint64_t ullValue = 0;
    for (; IsDigit(*pc); ++pc) {
        ullValue = ullValue * 10 + static_cast<std::uint64_t>(*pc - '0');
        if (ullValue > UINT32_MAX)
            return nullptr;
    }
    *pulValue = static_cast<std::uint32_t>(ullValue);
    return pc;
}

const char* ReadOnOff(const char* pc, bool* pbValue)
{
    const char* pcRest = SkipWord(pc, "on");
    *pbValue = pcRest != nullptr;
    return pcRest != nullptr ? pcRest : SkipWord(pc, "off");
}

const char* ReadParity(const char* pc, char* pcParity)
{
    const char c = Lower(*pc);
    if (c == '\0' || std::strchr("neoms", c) == nullptr)
        return nullptr;
    *pcParity = c;
    return pc + 1;
}

const char* ReadDataBits(const char* pc, std::uint8_t* pui8Bits)
{
    std::uint32_t ulBits = 0;
    pc = ReadNumber(pc, &ulBits);
    if (pc == nullptr || ulBits < 5 || ulBits > 8)
        return nullptr;
    *pui8Bits = static_cast<std::uint8_t>(ulBits);
    return pc;
}

const char* ReadStopBits(const char* pc, SerialStopBits* peStop)
{
    if (const char* pcRest = SkipWord(pc, "1.5")) {
        *peStop = SERIAL_STOP_1_5;
        return pcRest;
    }
    std::uint32_t ulBits = 0;
    pc = ReadNumber(pc, &ulBits);
    if (pc == nullptr || (ulBits != 1 && ulBits != 2))
        return nullptr;
    *peStop = ulBits == 1 ? SERIAL_STOP_1 : SERIAL_STOP_2;
    return pc;
}

const char* ReadValue(SerialKey eKey, const char* pc, SerialMode* psMode)
{
    switch (eKey) {
    case KEY_BAUD:
        return ReadNumber(pc, &psMode->ulBaudRate);
    case KEY_PARITY:
        return ReadParity(pc, &psMode->cParity);
    case KEY_DATA:
        return ReadDataBits(pc, &psMode->ui8DataBits);
    case KEY_STOP:
        return ReadStopBits(pc, &psMode->eStopBits);
    case KEY_TO:
        return ReadOnOff(pc, &psMode->bWriteTimeout);
    case KEY_XON:
        return ReadOnOff(pc, &psMode->bXon);
    case KEY_ODSR:
        return ReadOnOff(pc, &psMode->bOutDsr);
    case KEY_OCTS:
        return ReadOnOff(pc, &psMode->bOutCts);
    case KEY_DTR:
        return ReadOnOff(pc, &psMode->bDtr);
    case KEY_RTS:
        return ReadOnOff(pc, &psMode->bRts);
    case KEY_IDSR:
        return ReadOnOff(pc, &psMode->bInDsr);
    }
    return nullptr;
}

// One key=value token at pc; the position after it, or nullptr.
const char* ReadToken(const char* pc, SerialMode* psMode)
{
    for (const KeyName& sKey : lk_sKeys)
        if (const char* pcValue = SkipWord(pc, sKey.pcName))
            return ReadValue(sKey.eKey, pcValue, psMode);
    return nullptr;
}

}  // namespace

bool BuildSerialMode(const char* pcMode, SerialMode* psMode)
{
    *psMode = SerialMode{};
    if (std::strchr(pcMode, ',') != nullptr)
        return false;
    const char* pc = pcMode;
    for (;;) {
        while (*pc == ' ')
            ++pc;
        if (*pc == '\0')
            return true;
        pc = ReadToken(pc, psMode);
        if (pc == nullptr || (*pc != '\0' && *pc != ' '))
            return false;
    }
}
