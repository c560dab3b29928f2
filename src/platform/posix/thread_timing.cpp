#include "platform/thread_timing.h"

#include <pthread.h>
#include <sys/prctl.h>

#include <string>

namespace sentrel {

void AllowLateWakeUps(std::chrono::microseconds slack) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(slack).count();
  // 0 would mean "the process default" rather than none; 1 ns is none.
  prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(ns > 0 ? ns : 1), 0, 0, 0);
}

void NameThisThread(const char* name) {
  // The system refuses names longer than 15 characters outright.
  pthread_setname_np(pthread_self(), std::string(name).substr(0, 15).c_str());
}

}  // namespace sentrel
