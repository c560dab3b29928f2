#include "platform/sockets.h"

#include <winsock2.h>

#include <atomic>

namespace sentrel {

namespace {
std::atomic<bool> ready{false};
}  // namespace

// Windows Sockets 2.2 serves the SMTP connection and the name lookups alike;
// a broken pipe is an error code there, never a signal.
bool StartSockets() {
  if (ready) return true;
  WSADATA data;
  ready = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  return ready;
}

void StopSockets() {
  if (ready.exchange(false)) WSACleanup();
}

bool SocketsReady() { return ready; }

}  // namespace sentrel
