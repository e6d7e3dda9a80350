// The Telnet codec of the port server link (rfc2217link.h): the Com Port
// Control option (RFC 2217) and the BINARY and SUPPRESS-GO-AHEAD options, the
// settings and their replies, the escaping of 0xFF, and a decoder that keeps
// its state across receives. Bytes in, bytes out: no sockets, no system calls,
// nothing allocated.
#pragma once

#include <cstdint>

// Telnet commands (RFC 854) and the options in use.
constexpr unsigned char TELNET_SE = 240;
constexpr unsigned char TELNET_NOP = 241;
constexpr unsigned char TELNET_SB = 250;
constexpr unsigned char TELNET_WILL = 251;
constexpr unsigned char TELNET_WONT = 252;
constexpr unsigned char TELNET_DO = 253;
constexpr unsigned char TELNET_DONT = 254;
constexpr unsigned char TELNET_IAC = 255;
constexpr unsigned char TELNET_BINARY = 0;
constexpr unsigned char TELNET_SGA = 3;
constexpr unsigned char TELNET_COM_PORT = 44;

// Com port commands that the client sends; the server replies to each with
// the command plus COM_REPLY and the value it has set.
constexpr unsigned char COM_SET_BAUDRATE = 1;
constexpr unsigned char COM_SET_DATASIZE = 2;
constexpr unsigned char COM_SET_PARITY = 3;
constexpr unsigned char COM_SET_STOPSIZE = 4;
constexpr unsigned char COM_SET_CONTROL = 5;
constexpr unsigned char COM_REPLY = 100;
// SET-CONTROL values: outbound flow control, and the DTR and RTS lines.
constexpr std::uint32_t COM_FLOW_NONE = 1;
constexpr std::uint32_t COM_FLOW_XONXOFF = 2;
constexpr std::uint32_t COM_DTR_OFF = 9;
constexpr std::uint32_t COM_RTS_OFF = 12;

// The options that this side negotiates, as indexes of the state arrays.
enum TelnetOption : std::uint8_t {
    TELNET_OPT_BINARY,
    TELNET_OPT_SGA,
    TELNET_OPT_COM_PORT,
    TELNET_OPTS
};

// An option's state on one side (RFC 1143 without the queue): off, asked for
// and not yet answered, or on.
enum TelnetQ : std::uint8_t {
    TELNET_Q_NO,
    TELNET_Q_WANTYES,
    TELNET_Q_YES
};

// Where the decoder stands between two bytes.
enum TelnetState : std::uint8_t {
    TELNET_DATA,    // device bytes
    TELNET_CMD,     // after IAC
    TELNET_VERB,    // after IAC WILL, WONT, DO or DONT: the option follows
    TELNET_SUB,     // inside IAC SB ... IAC SE
    TELNET_SUB_IAC  // IAC inside a subnegotiation
};

// The longest subnegotiation kept (a longer one is ignored), and room for the
// answers that one decode call gathers.
constexpr int TELNET_SUB_SIZE = 32;
constexpr int TELNET_ANSWER_SIZE = 96;

// The replies to one setting: how many came, and the last one's value.
struct TelnetReply {
    std::uint32_t ulCount;
    std::uint32_t ulValue;
};

struct TelnetCodec {
    TelnetState eState;
    unsigned char ucVerb;
    // The subnegotiation being read, and its length (beyond the buffer: too long).
    unsigned char pucSub[TELNET_SUB_SIZE];
    int iSub;
    // Our side (WILL, the server's DO) and the server's side (its WILL, our DO).
    TelnetQ peUs[TELNET_OPTS];
    TelnetQ peHim[TELNET_OPTS];
    // Bit (1 << TelnetOption): the server refused our request on our side
    // (DONT) or on its side (WONT).
    std::uint8_t ui8RefusedUs;
    std::uint8_t ui8RefusedHim;
    // Answers that Telnet requires, to be sent by the caller, who empties it.
    unsigned char pucAnswer[TELNET_ANSWER_SIZE];
    int iAnswer;
    // Replies by command, COM_SET_BAUDRATE to COM_SET_CONTROL. SET-CONTROL
    // counts the flow control replies only, not those for DTR and RTS.
    TelnetReply psReplies[COM_SET_CONTROL + 1];
};

// The most bytes TelnetStart and TelnetSetting write.
constexpr int TELNET_START_SIZE = 15;
constexpr int TELNET_SETTING_SIZE = 14;

// A fresh codec, and the opening this side sends: WILL COM-PORT-OPTION, WILL
// and DO BINARY, WILL and DO SUPPRESS-GO-AHEAD. Its length.
int TelnetStart(TelnetCodec* psCodec, unsigned char* pucOut);

// One setting, IAC SB 44 ucCommand value IAC SE: the baud rate in four bytes,
// most significant first, every other value in one; 0xFF doubled. Its length.
int TelnetSetting(unsigned char ucCommand, std::uint32_t ulValue, unsigned char* pucOut);

// The device bytes pucIn[0..iLen) as they go on the wire, every 0xFF doubled,
// into pucOut (room for 2 * iLen): the count written.
int TelnetEscape(const unsigned char* pucIn, int iLen, unsigned char* pucOut);

// Decodes bytes from the server: device bytes go to pucOut (which may be
// pucIn itself), *piOut of them; commands update the codec. Returns the
// count of pucIn consumed: all of it, unless the answers filled up first, in
// which case the caller sends them, empties them and decodes the rest.
int TelnetDecode(TelnetCodec* psCodec, const unsigned char* pucIn, int iLen, unsigned char* pucOut, int* piOut);
