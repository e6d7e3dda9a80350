// Session settings: their storage, and their start values set by InitSettings.
#include "settings.h"

#include <cstdio>

std::int32_t lk_itfUsed;
char lk_pcServer[SERVER_MAX + 1];
std::int32_t lk_iPort;
std::int32_t lk_bUDP;
char lk_cPort;
const char* lk_pcSerialPath;
std::uint32_t lk_ulBaudRate;
std::uint8_t lk_ui8DataBits;
std::uint8_t lk_ui8StopBits;
char lk_cParity;
std::int32_t lk_bXon;
std::int32_t lk_bRecv;
std::uint32_t lk_ulTimeout;
std::int32_t lk_bRecvKeepAlive;
std::int32_t lk_bRecvExitWhenSend;
std::int32_t lk_bRecvExitWhenTimeout;
std::int32_t lk_bXDCL;
std::int32_t lk_sXDCLMode;
std::int32_t lk_bRemCon;
std::int32_t lk_bRemConExitWhenReset;
char lk_cSOH;
char lk_cETB;
const char* lk_pcIFilename;
const char* lk_pcOFilename;
std::int32_t lk_bMemCardSave;
char lk_pcMemCardDir[MEMCARD_DIR_MAX + 1];
std::uint32_t lk_ulWaitSeconds;
std::int32_t lk_bConfirmEnd;
std::uint32_t lk_ulConfirmSeconds;
std::int32_t lk_bProgress;
std::int32_t lk_bRecord;
const char* lk_pcRecordFilename;
std::int32_t lk_bTrace;
const char* lk_pcTraceFilename;
std::int32_t gl_bDebug;

void InitSettings(void)
{
    lk_itfUsed = 0;
    std::snprintf(lk_pcServer, sizeof lk_pcServer, "%s", DEFAULT_SERVER);
    lk_iPort = static_cast<std::int32_t>(DEFAULT_PORT);
    lk_bUDP = 0;
    lk_cPort = DEFAULT_COM_PORT;
    lk_pcSerialPath = "";
    lk_ulBaudRate = DEFAULT_BAUD_RATE;
    lk_ui8DataBits = DEFAULT_DATA_BITS;
    lk_ui8StopBits = DEFAULT_STOP_BITS;
    lk_cParity = DEFAULT_PARITY;
    lk_bXon = 0;
    lk_bRecv = 0;
    lk_ulTimeout = 0;
    lk_bRecvKeepAlive = 0;
    lk_bRecvExitWhenSend = 0;
    lk_bRecvExitWhenTimeout = 0;
    lk_bXDCL = 0;
    lk_sXDCLMode = 0;
    lk_bRemCon = 0;
    lk_bRemConExitWhenReset = 0;
    lk_cSOH = DEFAULT_SOH;
    lk_cETB = DEFAULT_ETB;
    lk_pcIFilename = "";
    lk_pcOFilename = "";
    lk_bMemCardSave = 0;
    lk_pcMemCardDir[0] = '\0';
    lk_ulWaitSeconds = 0;
    lk_bConfirmEnd = 0;
    lk_ulConfirmSeconds = DEFAULT_CONFIRM_SECONDS;
    lk_bProgress = 0;
    lk_bRecord = 0;
    lk_pcRecordFilename = "";
    lk_bTrace = 0;
    lk_pcTraceFilename = "";
    gl_bDebug = 0;
}
