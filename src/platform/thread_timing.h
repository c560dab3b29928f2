#pragma once

#include <chrono>

namespace sentrel {

// Lets the calling thread's timed waits end up to `slack` after their time,
// so that the system can end many threads' waits with one timer interrupt
// instead of one interrupt each. Where the system cannot, nothing changes.
void AllowLateWakeUps(std::chrono::microseconds slack);

// Names the calling thread for debuggers and process listings (at most 15
// characters are kept). Where the system cannot, nothing changes.
void NameThisThread(const char* name);

}  // namespace sentrel
