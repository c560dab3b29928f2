#pragma once

// The system's socket declarations for code outside the platform layer that
// converts and looks up addresses (getaddrinfo, getnameinfo, inet_addr,
// sockaddr_in, ntohl): BSD sockets, or Windows Sockets 2 on Windows. The one
// place where the two differ in name only; a process on Windows starts its
// sockets (StartSockets) before the first lookup.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif
