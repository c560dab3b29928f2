#pragma once

#include <cstdint>

namespace sentrel {

// Whether the taskbar lists a top-level window of the system's own windowing
// (`window` is its native handle, as the windowing library gives it). Only
// on Windows, where a window without an entry is a tool window and the
// application-window style forces one. Windows reads the styles when a window
// is shown, so `whileShown` hides a visible window around the change
// (without activating anything in between).
void SetTaskbarStyle(std::uintptr_t window, bool listed, bool whileShown);

}  // namespace sentrel
