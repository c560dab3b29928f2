#pragma once

// The system's socket declarations for code that converts and looks up
// addresses (getaddrinfo, getnameinfo, inet_addr, sockaddr_in, ntohl,
// gethostname, if_nametoindex): BSD sockets, or Windows Sockets 2 and the IP
// helper on Windows. The one place where the two differ in name only; a
// process on Windows starts its sockets (StartSockets) before the first
// lookup.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
// After the socket headers: it declares the interface-name calls.
#include <iphlpapi.h>
#else
#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif
