#pragma once

#include <cstdint>
#include <string>

namespace sentrel {

// A non-blocking TCP socket listening on the numeric `address` (IPv6 when
// `ipv6`) at `port` (0: one the system picks), for a server library that
// takes a socket already bound. The IPv6 wildcard "::" takes IPv4 clients
// too where the system allows; any other IPv6 address only IPv6 ones.
// Never the wildcard address in place of one that does not convert. -1 with
// `error` set on failure.
int OpenListeningSocket(const std::string& address, uint16_t port, bool ipv6,
                        std::string& error);

// The port a listening socket is bound to; 0 when it cannot be read.
uint16_t ListeningPort(int socket);

void CloseListeningSocket(int socket);

// Ends both directions of an accepted connection without closing its
// socket, so that the server owning it sees the end and closes it itself.
void ShutdownConnection(int socket);

}  // namespace sentrel
