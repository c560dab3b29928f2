# SENTREL_FUZZ: the fuzz build (clang only). Every library is instrumented for
# coverage and built with the address and undefined-behaviour sanitizers; the
# fuzz targets link libFuzzer's driver. Only the libraries without Qt are
# built, since the parsers live there.
option(SENTREL_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
if(SENTREL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "SENTREL_FUZZ needs clang (the fuzz preset uses clang++-14)")
  endif()
  if(SENTREL_SANITIZE)
    message(FATAL_ERROR "SENTREL_FUZZ brings its own sanitizers; leave SENTREL_SANITIZE empty")
  endif()
  # -O1 keeps the sanitizer reports readable while running fast enough.
  add_compile_options(-O1 -fsanitize=fuzzer-no-link,address,undefined
                      -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
