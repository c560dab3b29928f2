#include <cstdio>

#include "gui/window_program.h"

// A build without Qt for its target (the Windows cross build) has the
// headless runner and the command line but no window.
namespace sentrel {

int RunWindowProgram(const WindowRunOptions&) {
  std::fprintf(stderr,
               "sentrel: this build has no window; \"sentrel --headless\" monitors without one "
               "(sentrel --help lists the commands)\n");
  return 1;
}

}  // namespace sentrel
