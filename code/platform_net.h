// What the platform files share for socket addresses (platform_net.cpp): the
// resolver and the address text are the same calls on every system. Nothing
// above the platform layer includes this.
#pragma once

#include <cstddef>

#include "platform.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using NetTextSize = std::size_t;  // inet_ntop's buffer size
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
using NetTextSize = socklen_t;
#endif

// The address family of a socket address (AF_INET or AF_INET6).
int NetAddrFamily(const PlatAddr& sAddr);

// Leaves a resolver result (getaddrinfo's) as the calling thread's last error;
// one per system, in its platform file.
void NetSetResolverError(int iResult);
