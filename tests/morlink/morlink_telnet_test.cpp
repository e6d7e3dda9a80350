// The Telnet codec of the port server link, byte by byte against hand-built
// streams: what the decoder passes on, answers and takes in, whole and cut at
// every point; the opening, the settings and the escaping as they go out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "telnet.h"

namespace {

using Bytes = std::string;

// What a stream left behind: the device bytes, the answers in order, the
// replies to the baud rate and to flow control, and the refusals.
struct Decoded {
    Bytes data;
    Bytes answers;
    std::uint32_t ulBaudCount = 0, ulBaud = 0, ulFlowCount = 0, ulFlow = 0, ulDataCount = 0;
    int iRefusedUs = 0, iRefusedHim = 0;
    bool operator==(const Decoded&) const = default;
};

// Decodes one piece in place, emptying the answers whenever they fill up.
void DecodePiece(TelnetCodec* psCodec, Bytes piece, Decoded* psOut)
{
    auto* puc = reinterpret_cast<unsigned char*>(piece.data());
    int iLen = static_cast<int>(piece.size());
    while (iLen > 0) {
        int iOut = 0;
        const int iUsed = TelnetDecode(psCodec, puc, iLen, puc, &iOut);
        psOut->data.append(reinterpret_cast<char*>(puc), static_cast<std::size_t>(iOut));
        psOut->answers.append(reinterpret_cast<char*>(psCodec->pucAnswer), static_cast<std::size_t>(psCodec->iAnswer));
        psCodec->iAnswer = 0;
        puc += iUsed;
        iLen -= iUsed;
    }
}

// A started codec fed the stream in pieces that end at the cut positions.
Decoded Decode(const Bytes& wire, const std::vector<std::size_t>& cuts)
{
    TelnetCodec sCodec;
    unsigned char pucStart[TELNET_START_SIZE];
    TelnetStart(&sCodec, pucStart);
    Decoded sOut;
    std::size_t uFrom = 0;
    for (std::size_t uCut : cuts) {
        DecodePiece(&sCodec, wire.substr(uFrom, uCut - uFrom), &sOut);
        uFrom = uCut;
    }
    DecodePiece(&sCodec, wire.substr(uFrom), &sOut);
    sOut.ulBaudCount = sCodec.psReplies[COM_SET_BAUDRATE].ulCount;
    sOut.ulBaud = sCodec.psReplies[COM_SET_BAUDRATE].ulValue;
    sOut.ulFlowCount = sCodec.psReplies[COM_SET_CONTROL].ulCount;
    sOut.ulFlow = sCodec.psReplies[COM_SET_CONTROL].ulValue;
    sOut.ulDataCount = sCodec.psReplies[COM_SET_DATASIZE].ulCount;
    sOut.iRefusedUs = sCodec.ui8RefusedUs;
    sOut.iRefusedHim = sCodec.ui8RefusedHim;
    return sOut;
}

// Bytes from a list of values, so that 0 and 0xFF stand as they are.
Bytes B(std::initializer_list<int> values)
{
    Bytes s;
    for (int i : values)
        s += static_cast<char>(i);
    return s;
}

constexpr int IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240, NOP = 241, GA = 249;

struct DecodeCase {
    const char* pcName;
    Bytes wire;
    Decoded expected;
};

Decoded Data(const Bytes& data)
{
    Decoded s;
    s.data = data;
    return s;
}

Decoded With(Decoded s, void (*pfnSet)(Decoded*))
{
    pfnSet(&s);
    return s;
}

const DecodeCase kCases[] = {
    {"plain bytes", "abc\r\n", Data("abc\r\n")},
    {"doubled 0xFF", B({'a', IAC, IAC, IAC, IAC, 'b', IAC, IAC}), Data(B({'a', 255, 255, 'b', 255}))},
    {"CR NUL and CR LF", B({13, 0, 13, 10, 0, 0}), Data(B({13, 0, 13, 10, 0, 0}))},
    {"NOP and GA taken out", B({'a', IAC, NOP, 'b', IAC, GA, IAC, SE, 'c'}), Data("abc")},
    {"answers to our requests", B({IAC, DO, 44, 'x', IAC, DO, 0, IAC, WILL, 0, IAC, DO, 3, IAC, WILL, 3, 'y'}),
     Data("xy")},
    {"options refused", B({IAC, WILL, 1, 'a', IAC, DO, 24, IAC, WILL, 44, IAC, WONT, 1, IAC, DONT, 24}),
     With(Data("a"),
          [](Decoded* s) {
              s->answers = B({IAC, DONT, 1, IAC, WONT, 24, IAC, DONT, 44});
          })},
    {"repeated agreement answered once", B({IAC, DO, 0, IAC, DO, 0, IAC, WILL, 3, IAC, WILL, 3}), Data("")},
    {"com port refused", B({IAC, DONT, 44, 'z'}), With(Data("z"), [](Decoded* s) { s->iRefusedUs = 4; })},
    {"binary refused both ways", B({IAC, WONT, 0, IAC, DONT, 0}),
     With(Data(""),
          [](Decoded* s) {
              s->iRefusedUs = 1;
              s->iRefusedHim = 1;
          })},
    {"agreed then switched off and on", B({IAC, DO, 0, IAC, DONT, 0, IAC, DO, 0, IAC, WILL, 3, IAC, WONT, 3}),
     With(Data(""),
          [](Decoded* s) {
              s->answers = B({IAC, WONT, 0, IAC, WILL, 0, IAC, DONT, 3});
          })},
    {"baud rate reply", B({'a', IAC, SB, 44, 101, 0, 0, 0x4B, 0, IAC, SE, 'b'}),
     With(Data("ab"),
          [](Decoded* s) {
              s->ulBaudCount = 1;
              s->ulBaud = 19200;
          })},
    {"reply with doubled 0xFF", B({IAC, SB, 44, 101, 0, IAC, IAC, 0, IAC, IAC, IAC, SE}),
     With(Data(""),
          [](Decoded* s) {
              s->ulBaudCount = 1;
              s->ulBaud = 0x00FF00FF;
          })},
    {"flow control reply, the lines' replies apart",
     B({IAC, SB, 44, 105, 2, IAC, SE, IAC, SB, 44, 105, 9, IAC, SE, IAC, SB, 44, 105, 12, IAC, SE}),
     With(Data(""),
          [](Decoded* s) {
              s->ulFlowCount = 1;
              s->ulFlow = 2;
          })},
    {"notifications taken out", B({'1', IAC, SB,  44, 106, 0x60, IAC, SE, '2', IAC, SB, 44,  107, 0x30, IAC,
                                   SE,  '3', IAC, SB, 44,  108,  IAC, SE, IAC, SB,  44, 109, IAC, SE,   '4'}),
     Data("1234")},
    {"subnegotiation cut short by a command", B({IAC, SB, 44, 101, 0, IAC, WILL, 1, 'q'}),
     With(Data("q"),
          [](Decoded* s) {
              s->answers = B({IAC, DONT, 1});
          })},
    {"reply of a wrong length ignored", B({IAC, SB, 44, 102, 7, 8, IAC, SE, IAC, SB, 44, 101, 9, IAC, SE}), Data("")},
    {"other options' subnegotiations ignored", B({IAC, SB, 24, 1, IAC, SE, IAC, SB, 3, 102, 7, IAC, SE}), Data("")},
    {"data size reply among data and 0xFF",
     B({IAC, IAC, 13, 0, IAC, SB, 44, 102, 7, IAC, SE, IAC, IAC, IAC, NOP, 13, 10}),
     With(Data(B({255, 13, 0, 255, 13, 10})), [](Decoded* s) { s->ulDataCount = 1; })},
};

TEST(TelnetDecode, HandBuiltStreamsWholeAndCutAtEveryPoint)
{
    for (const DecodeCase& c : kCases) {
        SCOPED_TRACE(c.pcName);
        EXPECT_EQ(Decode(c.wire, {}), c.expected);
        for (std::size_t u = 1; u < c.wire.size(); ++u)
            EXPECT_EQ(Decode(c.wire, {u}), c.expected) << "cut at " << u;
        std::vector<std::size_t> every;
        for (std::size_t u = 1; u < c.wire.size(); ++u)
            every.push_back(u);
        EXPECT_EQ(Decode(c.wire, every), c.expected) << "byte by byte";
    }
}

TEST(TelnetDecode, AllCasesInOneStreamCutAtEveryPoint)
{
    Bytes wire;
    Decoded sAll;
    for (const DecodeCase& c : kCases)
        if (c.expected.iRefusedUs == 0 && c.expected.iRefusedHim == 0 && c.expected.answers.empty()) {
            wire += c.wire;
            sAll.data += c.expected.data;
        }
    const Decoded sWhole = Decode(wire, {});
    EXPECT_EQ(sWhole.data, sAll.data);
    for (std::size_t u = 1; u < wire.size(); ++u)
        ASSERT_EQ(Decode(wire, {u}), sWhole) << "cut at " << u;
}

TEST(TelnetDecode, AnswersThatFillUpWaitForTheCaller)
{
    Bytes wire;
    Bytes answers;
    for (int i = 0; i < 100; ++i) {
        wire += B({IAC, WILL, 1, 'd'});
        answers += B({IAC, DONT, 1});
    }
    TelnetCodec sCodec;
    unsigned char pucStart[TELNET_START_SIZE];
    TelnetStart(&sCodec, pucStart);
    std::vector<unsigned char> out(wire.size());
    int iOut = 0;
    const int iUsed = TelnetDecode(&sCodec, reinterpret_cast<const unsigned char*>(wire.data()),
                                   static_cast<int>(wire.size()), out.data(), &iOut);
    EXPECT_EQ(iOut, TELNET_ANSWER_SIZE / 3);
    EXPECT_EQ(iUsed, 4 * (TELNET_ANSWER_SIZE / 3) + 2);
    EXPECT_EQ(sCodec.iAnswer, TELNET_ANSWER_SIZE);
    const Decoded s = Decode(wire, {});
    EXPECT_EQ(s.data, Bytes(100, 'd'));
    EXPECT_EQ(s.answers, answers);
}

TEST(TelnetEncode, OpeningOffersAndAsksForTheThreeOptions)
{
    TelnetCodec sCodec;
    unsigned char puc[TELNET_START_SIZE];
    const int n = TelnetStart(&sCodec, puc);
    EXPECT_EQ(Bytes(reinterpret_cast<char*>(puc), static_cast<std::size_t>(n)),
              B({IAC, WILL, 44, IAC, WILL, 0, IAC, DO, 0, IAC, WILL, 3, IAC, DO, 3}));
}

struct SettingCase {
    unsigned char ucCommand;
    std::uint32_t ulValue;
    Bytes wire;
};

TEST(TelnetEncode, SettingsWithTheirValuesAndDoubled0xFF)
{
    const SettingCase cases[] = {
        {COM_SET_BAUDRATE, 19200, B({IAC, SB, 44, 1, 0, 0, 0x4B, 0, IAC, SE})},
        {COM_SET_BAUDRATE, 0, B({IAC, SB, 44, 1, 0, 0, 0, 0, IAC, SE})},
        {COM_SET_BAUDRATE, 0xFF00FFu, B({IAC, SB, 44, 1, 0, IAC, IAC, 0, IAC, IAC, IAC, SE})},
        {COM_SET_BAUDRATE, 0xFFFFFFFFu, B({IAC, SB, 44, 1, IAC, IAC, IAC, IAC, IAC, IAC, IAC, IAC, IAC, SE})},
        {COM_SET_DATASIZE, 7, B({IAC, SB, 44, 2, 7, IAC, SE})},
        {COM_SET_PARITY, 3, B({IAC, SB, 44, 3, 3, IAC, SE})},
        {COM_SET_STOPSIZE, 2, B({IAC, SB, 44, 4, 2, IAC, SE})},
        {COM_SET_CONTROL, COM_FLOW_XONXOFF, B({IAC, SB, 44, 5, 2, IAC, SE})},
        {COM_SET_CONTROL, COM_DTR_OFF, B({IAC, SB, 44, 5, 9, IAC, SE})},
        {COM_SET_CONTROL, COM_RTS_OFF, B({IAC, SB, 44, 5, 12, IAC, SE})},
    };
    for (const SettingCase& c : cases) {
        unsigned char puc[TELNET_SETTING_SIZE];
        const int n = TelnetSetting(c.ucCommand, c.ulValue, puc);
        EXPECT_EQ(Bytes(reinterpret_cast<char*>(puc), static_cast<std::size_t>(n)), c.wire)
            << int{c.ucCommand} << " " << c.ulValue;
    }
}

TEST(TelnetEncode, EscapingDoublesEvery0xFFAndDecodesBack)
{
    const std::pair<Bytes, Bytes> cases[] = {
        {"", ""},
        {"abc", "abc"},
        {B({255}), B({IAC, IAC})},
        {B({'a', 255, 'b'}), B({'a', IAC, IAC, 'b'})},
        {B({255, 255, 255, 13, 0}), B({IAC, IAC, IAC, IAC, IAC, IAC, 13, 0})},
    };
    for (const auto& [plain, wire] : cases) {
        unsigned char puc[16];
        const int n =
            TelnetEscape(reinterpret_cast<const unsigned char*>(plain.data()), static_cast<int>(plain.size()), puc);
        EXPECT_EQ(Bytes(reinterpret_cast<char*>(puc), static_cast<std::size_t>(n)), wire);
    }
    Bytes all;
    for (int i = 0; i < 512; ++i)
        all += static_cast<char>(i % 3 == 0 ? 255 : i);
    std::vector<unsigned char> wire(2 * all.size());
    const int n =
        TelnetEscape(reinterpret_cast<const unsigned char*>(all.data()), static_cast<int>(all.size()), wire.data());
    EXPECT_EQ(Decode(Bytes(reinterpret_cast<char*>(wire.data()), static_cast<std::size_t>(n)), {}).data, all);
}

}  // namespace
