#include "platform/stop_requests.h"

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

namespace sentrel {

namespace {

// The signal handler may only write to a descriptor; the waiter thread reads
// it and calls back outside the handler.
int wakePipe[2] = {-1, -1};
constexpr char kStop = 1;
constexpr char kEnd = 0;

void OnSignal(int) { (void)!write(wakePipe[1], &kStop, 1); }

void Handle(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

}  // namespace

StopRequests::StopRequests(std::function<void()> onStop) : onStop_(std::move(onStop)) {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, wakePipe) != 0) return;
  Handle(OnSignal);
  waiter_ = std::thread([this] {
    char byte = kEnd;
    while (read(wakePipe[0], &byte, 1) == 1 && byte == kStop) onStop_();
  });
}

StopRequests::~StopRequests() {
  if (!waiter_.joinable()) return;
  Handle(SIG_DFL);
  (void)!write(wakePipe[1], &kEnd, 1);
  waiter_.join();
  close(wakePipe[0]);
  close(wakePipe[1]);
  wakePipe[0] = wakePipe[1] = -1;
}

}  // namespace sentrel
