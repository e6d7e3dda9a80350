// Session settings of morlink: one variable per setting, shared by every part of
// the sender. The defaults and the option parser write them, before anything
// is opened; afterwards they are only read. Flags hold 0 or 1.
#pragma once

#include <cstdint>

// Capacities of the text settings, terminating NUL not included.
constexpr int SERVER_MAX = 255;
constexpr int MEMCARD_DIR_MAX = 255;

// Built-in defaults, which the usage text shows too.
constexpr const char* DEFAULT_SERVER = "192.168.0.21";
constexpr unsigned DEFAULT_PORT = 9100;
constexpr char DEFAULT_COM_PORT = '1';
constexpr std::uint32_t DEFAULT_BAUD_RATE = 57600;
constexpr std::uint8_t DEFAULT_DATA_BITS = 8;
constexpr std::uint8_t DEFAULT_STOP_BITS = 2;
constexpr char DEFAULT_PARITY = 'n';
constexpr char DEFAULT_SOH = 0x01;
constexpr char DEFAULT_ETB = 0x17;

// Link selection and network link.
extern std::int32_t lk_itfUsed;           // 0 network, 1 serial
extern char lk_pcServer[SERVER_MAX + 1];  // dotted IPv4 address or host name
extern std::int32_t lk_iPort;             // only the low 16 bits are used
extern std::int32_t lk_bUDP;

// Serial link.
extern char lk_cPort;                // port number as one character
extern const char* lk_pcSerialPath;  // the whole -c value
extern std::uint32_t lk_ulBaudRate;
extern std::uint8_t lk_ui8DataBits;
extern std::uint8_t lk_ui8StopBits;
extern char lk_cParity;  // n, e, o (also m, s)
extern std::int32_t lk_bXon;

// Receiving and the answer filter.
extern std::int32_t lk_bRecv;
extern std::uint32_t lk_ulTimeout;  // seconds, 0 for none
extern std::int32_t lk_bRecvKeepAlive;
extern std::int32_t lk_bRecvExitWhenSend;
extern std::int32_t lk_bRecvExitWhenTimeout;
extern std::int32_t lk_bXDCL;
extern std::int32_t lk_sXDCLMode;  // 0 end after an answer, 1 go on
extern std::int32_t lk_bRemCon;
extern std::int32_t lk_bRemConExitWhenReset;
extern char lk_cSOH;  // frame start, sent and parsed
extern char lk_cETB;  // frame end, sent and parsed

// Extensions: waiting for the device, confirming the end, progress.
constexpr std::uint32_t DEFAULT_WAIT_SECONDS = 30;     // -w alone
constexpr std::uint32_t DEFAULT_CONFIRM_SECONDS = 10;  // -e alone
extern std::uint32_t lk_ulWaitSeconds;                 // -w: 0 for no waiting
extern std::int32_t lk_bConfirmEnd;                    // -e
extern std::uint32_t lk_ulConfirmSeconds;
extern std::int32_t lk_bProgress;       // -g
extern std::int32_t lk_bTrace;          // -f
extern const char* lk_pcTraceFilename;  // empty: standard error
// -j: the result record, appended to lk_pcRecordFilename (empty: standard error).
extern std::int32_t lk_bRecord;
extern const char* lk_pcRecordFilename;

// Files and prologues. The file names point into the command line; an empty
// name means the standard stream.
extern const char* lk_pcIFilename;
extern const char* lk_pcOFilename;
extern std::int32_t lk_bMemCardSave;
extern char lk_pcMemCardDir[MEMCARD_DIR_MAX + 1];
extern std::int32_t gl_bDebug;

// Puts every setting to its start value, the built-in defaults included.
void InitSettings(void);
