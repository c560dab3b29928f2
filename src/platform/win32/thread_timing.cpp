#include "platform/thread_timing.h"

namespace sentrel {

// Windows coalesces timers of its own accord (and SetWaitableTimerEx would
// need a timer of ours for every wait); a thread cannot widen the tolerance
// of its ordinary waits, so nothing changes here.
void AllowLateWakeUps(std::chrono::microseconds) {}

// Thread names (SetThreadDescription) exist from Windows 10 on only; the
// threads stay unnamed rather than the program needing that system.
void NameThisThread(const char*) {}

}  // namespace sentrel
