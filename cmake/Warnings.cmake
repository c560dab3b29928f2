# One INTERFACE target carries the warning flags; every library and test links it.
option(SENTREL_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" ON)
add_library(sentrel_warnings INTERFACE)
target_compile_options(sentrel_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
  -Wcast-align -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough
  # GCC 12 reports false overlaps in std::string concatenation at -O3
  # (its bug 105329); the warning finds nothing real in this code.
  $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>
  $<$<BOOL:${SENTREL_WARNINGS_AS_ERRORS}>:-Werror>)
