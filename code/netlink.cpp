// Network link: opening the socket, sending blocks, closing.
#include "netlink.h"

#include <cstdio>

#include "errors.h"
#include "serial.h"
#include "settings.h"

PlatSocket lk_socketClient = PLAT_NO_SOCKET;

// How long the end of a connection waits for a device that takes no data.
constexpr std::uint64_t FLUSH_STALL_MS = 10000;
PlatAddrIPv4 lk_sServAddr = {0, 0};

namespace {

// The device's IPv4 address: lk_pcServer in dotted-decimal form, else resolved
// as a host name.
std::uint32_t ServerAddress(void)
{
    std::uint32_t ulAddr = 0;
    if (PlatParseIPv4(lk_pcServer, &ulAddr))
        return ulAddr;
    if (!PlatResolveIPv4(lk_pcServer, &ulAddr))
        HandleError(ERR_RESOLVE, 0, __FILE__, __LINE__, nullptr);
    return ulAddr;
}

}  // namespace

void InitNetwork(void)
{
    int iResult = PlatNetStartup();
    if (iResult != 0)
        HandleError(ERR_NETWORK, iResult, __FILE__, __LINE__, nullptr);

    lk_socketClient = PlatSocketOpen(lk_bUDP != 0);
    if (lk_socketClient == PLAT_NO_SOCKET)
        HandleError(ERR_NETWORK, -1, __FILE__, __LINE__, nullptr);

    lk_sServAddr.usPort = static_cast<std::uint16_t>(lk_iPort & 0xFFFF);
    lk_sServAddr.ulAddr = ServerAddress();

    if (gl_bDebug) {
        char pcAddr[PLAT_ADDR_TEXT_SIZE];
        PlatIPv4Text(lk_sServAddr.ulAddr, pcAddr, sizeof pcAddr);
        std::fprintf(stderr, "IP Address: %s\n", pcAddr);
    }

    // UDP stays unconnected: every block goes to the device as a datagram.
    if (!lk_bUDP && !PlatConnect(lk_socketClient, lk_sServAddr))
        HandleError(ERR_CONNECT, -1, __FILE__, __LINE__, nullptr);
}

void SendData(const unsigned char* pucData, int len)
{
    int iCount;
    if (lk_itfUsed)
        iCount = SerialWrite(pucData, len);
    else if (lk_bUDP)
        iCount = PlatSendTo(lk_socketClient, pucData, len, lk_sServAddr);
    else
        iCount = PlatSend(lk_socketClient, pucData, len);

    // A failed system call on the port: its own text, taken before anything
    // else (the debug dot) can change the last error.
    if (lk_itfUsed && iCount == SERIAL_SYSTEM_FAILURE)
        HandleError(ERR_SEND, 0, __FILE__, __LINE__, nullptr);

    if (gl_bDebug)
        std::fputc('.', stderr);

    // A failed or partial send is not retried.
    if (iCount != len)
        HandleError(ERR_SEND, ERR_SEND, __FILE__, __LINE__, nullptr);
}

void CloseNetwork(void)
{
    if (lk_socketClient == PLAT_NO_SOCKET)
        return;
    // Closing with unread answers pending would reset the connection and
    // drop the end of the data still on its way to the device.
    if (!lk_bUDP)
        PlatSocketFlush(lk_socketClient, true, FLUSH_STALL_MS);
    PlatSocketClose(lk_socketClient);
    lk_socketClient = PLAT_NO_SOCKET;
}

void ShutdownNetwork(void)
{
    if (lk_socketClient != PLAT_NO_SOCKET)
        PlatSocketShutdown(lk_socketClient);
}

void FlushNetwork(void)
{
    if (lk_socketClient != PLAT_NO_SOCKET && !lk_bUDP)
        PlatSocketFlush(lk_socketClient, false, FLUSH_STALL_MS);
}
