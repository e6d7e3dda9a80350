// The serial link through a port server (-crfc2217://HOST:PORT): a TCP
// connection to a server that drives the serial port and takes its line
// settings over Telnet's Com Port Control option (RFC 2217). Its operations
// (linkops.h) are driven by the link module (link.h) like those of a local
// port; the Telnet part is the codec's (telnet.h), the connection the network
// link's (netlink.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "linkops.h"

extern const LinkOps gl_sPortServerLink;

// True when a -c value names a port server: it begins with "rfc2217://".
bool IsPortServer(const char* pcValue);

// The HOST and PORT of a port server's -c value: HOST into pcHost (size bytes,
// without the brackets of an IPv6 address), PORT into *pusPort. False for an
// empty HOST, one that does not fit, a missing PORT, one that is no number
// from 1 to 65535, or anything after it.
bool ParsePortServer(const char* pcValue, char* pcHost, std::size_t size, std::uint16_t* pusPort);
