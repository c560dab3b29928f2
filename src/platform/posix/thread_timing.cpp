#include "platform/thread_timing.h"

#include <sys/prctl.h>

namespace sentrel {

void AllowLateWakeUps(std::chrono::microseconds slack) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(slack).count();
  // 0 would mean "the process default" rather than none; 1 ns is none.
  prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(ns > 0 ? ns : 1), 0, 0, 0);
}

}  // namespace sentrel
