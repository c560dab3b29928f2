#pragma once

#include <chrono>
#include <cstddef>
#include <stop_token>

#include "platform/socket_api.h"

// Inside the platform layer: the socket calls under TcpClient, each
// reporting failure as an errno value (EAGAIN: try again after a wait).
namespace sentrel::tcp {

using Clock = std::chrono::steady_clock;

// getaddrinfo with its errors as TcpClient documents them.
int Resolve(const char* host, const char* port, addrinfo** result);
// One non-blocking connect attempt, waiting (WaitOrStop) at most until
// `deadline`; returns the socket or -1 with `error` set.
int ConnectOne(const addrinfo& ai, Clock::time_point deadline, const std::stop_token& stop,
               int& error);
// Waits until `fd` can be written (or read) or the deadline passes; 0 when
// ready, else the error (ETIMEDOUT when the time ran out).
int WaitFor(int fd, bool forWriting, Clock::time_point deadline);
// WaitFor in slices of TcpClient::kStopLatency while `stop` can be
// requested; ECANCELED once it is.
int WaitOrStop(int fd, bool forWriting, Clock::time_point deadline, const std::stop_token& stop);
// One send or receive without waiting: the bytes moved (0 = the peer closed,
// for a receive), or -1 with `error` set.
long SendSome(int fd, const char* data, std::size_t size, int& error);
long ReceiveSome(int fd, char* data, std::size_t size, int& error);
void CloseSocket(int fd);

// Milliseconds left until `deadline`; 0 once it has passed.
int MillisecondsLeft(Clock::time_point deadline);
// The port of the one service the program asks for by name, for machines
// that do not know it ("smtp", "submission"); nullptr for others.
const char* WellKnownPort(const char* service);

}  // namespace sentrel::tcp
