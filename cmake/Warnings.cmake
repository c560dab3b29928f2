# One INTERFACE target carries the warning flags; every library and test links it.
option(SENTREL_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" ON)
add_library(sentrel_warnings INTERFACE)
target_compile_options(sentrel_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
  -Wcast-align -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough
  $<$<BOOL:${SENTREL_WARNINGS_AS_ERRORS}>:-Werror>)
