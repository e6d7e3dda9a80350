// Socket addresses for every system: parsing, resolving, text.
#include <cstdio>
#include <cstring>

#include "platform_net.h"

static_assert(sizeof(PlatAddr::pucData) >= sizeof(sockaddr_storage), "a socket address fits");

namespace {

void SetPort(PlatAddr* psAddr, std::uint16_t usPort)
{
    sockaddr_storage sStorage;
    std::memcpy(&sStorage, psAddr->pucData, sizeof sStorage);
    if (sStorage.ss_family == AF_INET6) {
        sockaddr_in6 sIn6;
        std::memcpy(&sIn6, psAddr->pucData, sizeof sIn6);
        sIn6.sin6_port = htons(usPort);
        std::memcpy(psAddr->pucData, &sIn6, sizeof sIn6);
    } else {
        sockaddr_in sIn;
        std::memcpy(&sIn, psAddr->pucData, sizeof sIn);
        sIn.sin_port = htons(usPort);
        std::memcpy(psAddr->pucData, &sIn, sizeof sIn);
    }
}

// The addresses of one family that getaddrinfo gives for pcHost; the
// resolver's result, 0 for success.
int Lookup(const char* pcHost, int iFamily, int iFlags, PlatAddr* psAddrs, int iMax, int* piCount)
{
    addrinfo sHints;
    std::memset(&sHints, 0, sizeof sHints);
    sHints.ai_family = iFamily;
    sHints.ai_socktype = SOCK_STREAM;
    sHints.ai_flags = iFlags;
    addrinfo* pList = nullptr;
    const int iResult = getaddrinfo(pcHost, nullptr, &sHints, &pList);
    if (iResult != 0)
        return iResult;
    *piCount = 0;
    for (const addrinfo* p = pList; p != nullptr && *piCount < iMax; p = p->ai_next) {
        if (p->ai_addrlen > sizeof psAddrs->pucData)
            continue;
        PlatAddr& sAddr = psAddrs[(*piCount)++];
        std::memset(&sAddr, 0, sizeof sAddr);
        std::memcpy(sAddr.pucData, p->ai_addr, p->ai_addrlen);
        sAddr.ulLen = static_cast<std::uint32_t>(p->ai_addrlen);
    }
    freeaddrinfo(pList);
    return 0;
}

}  // namespace

int PlatResolve(const char* pcHost, std::uint16_t usPort, PlatAddr* psAddrs, int iMax)
{
    int iCount = 0;
    sockaddr_in sIn;
    std::memset(&sIn, 0, sizeof sIn);
    sIn.sin_family = AF_INET;
    sIn.sin_addr.s_addr = inet_addr(pcHost);
    if (sIn.sin_addr.s_addr != INADDR_NONE && iMax > 0) {
        // A dotted IPv4 address stands as it is, in every form inet_addr takes.
        std::memset(&psAddrs[0], 0, sizeof psAddrs[0]);
        std::memcpy(psAddrs[0].pucData, &sIn, sizeof sIn);
        psAddrs[0].ulLen = sizeof sIn;
        iCount = 1;
    } else if (Lookup(pcHost, AF_INET6, AI_NUMERICHOST, psAddrs, iMax, &iCount) != 0) {
        // A name: its IPv4 addresses, or when it has none, its IPv6 ones. A
        // name that resolves to neither reports the IPv4 lookup's failure.
        const int iResult = Lookup(pcHost, AF_INET, 0, psAddrs, iMax, &iCount);
        if (iResult != 0 && Lookup(pcHost, AF_INET6, 0, psAddrs, iMax, &iCount) != 0) {
            NetSetResolverError(iResult);
            return 0;
        }
    }
    for (int i = 0; i < iCount; ++i)
        SetPort(&psAddrs[i], usPort);
    return iCount;
}

void PlatAddrText(const PlatAddr& sAddr, char* pcBuf, std::size_t size)
{
    sockaddr_storage sStorage;
    std::memcpy(&sStorage, sAddr.pucData, sizeof sStorage);
    const void* pvIp = nullptr;
    sockaddr_in sIn;
    sockaddr_in6 sIn6;
    if (sStorage.ss_family == AF_INET6) {
        std::memcpy(&sIn6, sAddr.pucData, sizeof sIn6);
        pvIp = &sIn6.sin6_addr;
    } else {
        std::memcpy(&sIn, sAddr.pucData, sizeof sIn);
        pvIp = &sIn.sin_addr;
    }
    if (size > 0 && inet_ntop(sStorage.ss_family, pvIp, pcBuf, static_cast<NetTextSize>(size)) == nullptr)
        pcBuf[0] = '\0';
}

int NetAddrFamily(const PlatAddr& sAddr)
{
    sockaddr_storage sStorage;
    std::memcpy(&sStorage, sAddr.pucData, sizeof sStorage);
    return sStorage.ss_family;
}
