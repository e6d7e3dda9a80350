// The network link to the device: TCP or UDP over IPv4 or IPv6. The link module
// (link.h) sends and receives on its socket.
#pragma once

#include "platform.h"

// Socket of the network link, PLAT_NO_SOCKET until InitNetwork opens it.
extern PlatSocket lk_socketClient;
// The device's address and port in use.
extern PlatAddr lk_sServAddr;

// Opens the network link to lk_pcServer, port lk_iPort: a TCP socket connected
// to the first of its addresses that takes it (with -w, tried until the time
// is up), or with lk_bUDP an unconnected UDP socket for its first address.
// Failures end the process.
void InitNetwork(void);

// Closes the network socket if one is open.
void CloseNetwork(void);

// Sees the data sent so far delivered and ends the sending direction, leaving
// the socket open for the receiver thread.
void FlushNetwork(void);

// Ends the connection at once, from any thread; the socket stays allocated
// until the process ends. An end hook (ending.h).
void ShutdownNetwork(void);
