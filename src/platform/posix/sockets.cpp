#include "platform/sockets.h"

#include <sys/resource.h>

#include <atomic>
#include <csignal>

namespace sentrel {

namespace {

std::atomic<bool> g_socketsReady{false};

void RaiseOpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
  const rlim_t hard = limit.rlim_max;
  limit.rlim_cur = hard;
  if (::setrlimit(RLIMIT_NOFILE, &limit) == 0) return;
  // An unlimited hard limit is above what the kernel allows per process
  // (fs.nr_open); a large finite value is plenty for every worker.
  limit.rlim_cur = hard < 65536 ? hard : 65536;
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace

bool StartSockets() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  const bool ready = ::sigaction(SIGPIPE, &ignore, nullptr) == 0;
  RaiseOpenFileLimit();
  g_socketsReady.store(ready);
  return ready;
}

void StopSockets() { g_socketsReady.store(false); }

bool SocketsReady() { return g_socketsReady.load(); }

}  // namespace sentrel
