#pragma once

#include <functional>
#include <string>

namespace sentrel {

// Whether a window can be opened: a reachable X server named by DISPLAY, a
// Wayland socket named by WAYLAND_DISPLAY, or a window platform chosen in
// QT_QPA_PLATFORM that needs neither (offscreen, vnc, ...). A remote X
// display is taken on trust. `env` reads a variable (empty when unset).
bool DisplayAvailable(const std::function<std::string(const char*)>& env);
bool DisplayAvailable();

}  // namespace sentrel
