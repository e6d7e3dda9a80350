// Network link: opening the socket, ending and closing the connection.
#include "netlink.h"

#include <cstdio>

#include "errors.h"
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
        HandleError(ERR_RESOLVE, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
    return ulAddr;
}

}  // namespace

void InitNetwork(void)
{
    int iResult = PlatNetStartup();
    if (iResult != 0)
        HandleError(ERR_NETWORK, REASON_SYSTEM, __FILE__, __LINE__, nullptr);

    lk_socketClient = PlatSocketOpen(lk_bUDP != 0);
    if (lk_socketClient == PLAT_NO_SOCKET)
        HandleError(ERR_NETWORK, REASON_SYSTEM, __FILE__, __LINE__, nullptr);

    lk_sServAddr.usPort = static_cast<std::uint16_t>(lk_iPort & 0xFFFF);
    lk_sServAddr.ulAddr = ServerAddress();

    if (gl_bDebug) {
        char pcAddr[PLAT_ADDR_TEXT_SIZE];
        PlatIPv4Text(lk_sServAddr.ulAddr, pcAddr, sizeof pcAddr);
        std::fprintf(stderr, "IP Address: %s\n", pcAddr);
    }

    // UDP stays unconnected: every block goes to the device as a datagram.
    if (!lk_bUDP && !PlatConnect(lk_socketClient, lk_sServAddr))
        HandleError(ERR_CONNECT, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
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
