// Network link: opening the socket, ending and closing the connection.
#include "netlink.h"

#include <cstdio>

#include "errors.h"
#include "retry.h"
#include "settings.h"

PlatSocket lk_socketClient = PLAT_NO_SOCKET;

// How long the end of a connection waits for a device that takes no data.
constexpr std::uint64_t FLUSH_STALL_MS = 10000;
PlatAddr lk_sServAddr;

namespace {

// The device's addresses, in the order they are tried.
PlatAddr lk_sAddrs[PLAT_ADDR_MAX];
int lk_iAddrs;
int lk_iShown = -1;  // the address that the debug line named last

// The device's addresses: lk_pcServer as an address, else resolved as a host
// name; a name that does not resolve ends the process (253).
void ResolveServer(void)
{
    lk_iAddrs = PlatResolve(lk_pcServer, static_cast<std::uint16_t>(lk_iPort & 0xFFFF), lk_sAddrs, PLAT_ADDR_MAX);
    if (lk_iAddrs == 0)
        HandleError(ERR_RESOLVE, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
}

// A new socket for address i, which becomes the address in use.
void OpenSocket(int i)
{
    lk_sServAddr = lk_sAddrs[i];
    lk_socketClient = PlatSocketOpen(lk_bUDP != 0, lk_sServAddr);
    if (lk_socketClient == PLAT_NO_SOCKET)
        HandleError(ERR_NETWORK, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
    if (gl_bDebug && lk_iShown != i) {
        char pcAddr[PLAT_ADDR_TEXT_SIZE];
        PlatAddrText(lk_sServAddr, pcAddr, sizeof pcAddr);
        std::fprintf(stderr, "IP Address: %s\n", pcAddr);
        lk_iShown = i;
    }
}

// Tries every address once, in order, each socket a new one; true when one
// connects. A failed socket is closed only when another follows it, so that
// the last error stays the last attempt's.
bool ConnectOnce(const RetryClock* psClock)
{
    for (int i = 0; i < lk_iAddrs; ++i) {
        if (lk_socketClient != PLAT_NO_SOCKET)
            PlatSocketClose(lk_socketClient);
        lk_socketClient = PLAT_NO_SOCKET;
        OpenSocket(i);
        if (psClock == nullptr) {
            if (PlatConnect(lk_socketClient, lk_sServAddr))
                return true;
            continue;
        }
        const PlatConnectResult eResult = PlatConnectWithin(lk_socketClient, lk_sServAddr, RetryAttemptMs(*psClock));
        if (eResult == PLAT_CONNECTED)
            return true;
        if (eResult == PLAT_CONNECT_FAILED)
            HandleError(ERR_CONNECT, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
    }
    return false;
}

// TCP: the first address that takes the connection. With -w, a device that
// cannot be reached is tried again until the time is up.
void Connect(void)
{
    if (lk_ulWaitSeconds == 0) {
        if (!ConnectOnce(nullptr))
            HandleError(ERR_CONNECT, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
        return;
    }
    RetryClock sClock = RetryStart(lk_ulWaitSeconds);
    while (!ConnectOnce(&sClock))
        if (!RetryPause(&sClock))
            HandleError(ERR_CONNECT, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
}

}  // namespace

void InitNetwork(void)
{
    int iResult = PlatNetStartup();
    if (iResult != 0)
        HandleError(ERR_NETWORK, REASON_SYSTEM, __FILE__, __LINE__, nullptr);
    ResolveServer();
    // UDP stays unconnected: every block goes to the first address as a datagram.
    if (lk_bUDP)
        OpenSocket(0);
    else
        Connect();
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
