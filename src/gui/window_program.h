#pragma once

#include <string>

namespace sentrel {

struct WindowRunOptions {
  int argc = 0;
  char** argv = nullptr;
  std::string programFolder;
};

// The desktop program: one instance per user (a second one ends at once with
// 0 and shows nothing), the main window with its tray icon, until the
// operator exits, the desktop session ends or SIGTERM / SIGINT arrives.
// Returns 1 without a window when no display can be opened.
int RunWindowProgram(const WindowRunOptions& run);

}  // namespace sentrel
