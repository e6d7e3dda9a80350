// The network link to the device: TCP or UDP over IPv4 or IPv6, each a set
// of operations (linkops.h) that the link module (link.h) drives. The socket
// is this module's own.
#pragma once

#include "linkops.h"
#include "platform.h"
#include "retry.h"

extern const LinkOps gl_sTcpLink;
extern const LinkOps gl_sUdpLink;

// Opens the network link to lk_pcServer, port lk_iPort: a TCP socket connected
// to the first of its addresses that takes it (with -w, tried until the time
// is up), or with lk_bUDP an unconnected UDP socket for its first address.
// Failures end the process.
void InitNetwork(void);

// A TCP connection to port usPort of pcHost for a link that speaks its own
// protocol on it (the port server link): resolved and connected as the TCP
// link's, tried again while psClock (-w) has time, at once without it; the
// socket is NetworkSocket(), closed by CloseNetwork. Failures end the process.
void ConnectNetwork(const char* pcHost, std::uint16_t usPort, RetryClock* psClock);

// Closes the network socket if one is open, at once.
void CloseNetwork(void);

// The socket of the network link, PLAT_NO_SOCKET while none is open.
PlatSocket NetworkSocket(void);
