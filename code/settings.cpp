// Session settings: their storage and start values.
#include "settings.h"

std::int32_t lk_itfUsed;
char lk_pcServer[SERVER_MAX + 1];
std::int32_t lk_iPort;
std::int32_t lk_bUDP;
char lk_cPort;
const char* lk_pcSerialPath = "";
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
char lk_cSOH = 0x01;
char lk_cETB = 0x17;
const char* lk_pcIFilename = "";
const char* lk_pcOFilename = "";
std::FILE* lk_pFileI;
std::FILE* lk_pFileO;
std::uint32_t lk_ulIFileLen;
std::int32_t lk_bMemCardSave;
char lk_pcMemCardDir[MEMCARD_DIR_MAX + 1];
std::int32_t gl_bDebug;
std::atomic<std::int32_t> lk_bInputFinished;

void InitSettings(void)
{
    lk_itfUsed = 0;
    std::snprintf(lk_pcServer, sizeof lk_pcServer, "%s", "192.168.0.21");
    lk_iPort = 9100;
    lk_bUDP = 0;
    lk_cPort = '1';
    lk_pcSerialPath = "";
    lk_ulBaudRate = 57600;
    lk_ui8DataBits = 8;
    lk_ui8StopBits = 2;
    lk_cParity = 'n';
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
    lk_cSOH = 0x01;
    lk_cETB = 0x17;
    lk_pcIFilename = "";
    lk_pcOFilename = "";
    lk_pFileI = nullptr;
    lk_pFileO = nullptr;
    lk_ulIFileLen = 0;
    lk_bMemCardSave = 0;
    lk_pcMemCardDir[0] = '\0';
    gl_bDebug = 0;
    lk_bInputFinished = 0;
}
