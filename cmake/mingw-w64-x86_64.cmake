# Cross build for 64-bit Windows with Debian's MinGW-w64, POSIX-threads
# variant (std::thread and std::mutex need it). Programs are linked
# statically, so they run without MinGW's DLLs beside them; tests run under
# Wine (CMAKE_CROSSCOMPILING_EMULATOR).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(mingw_triple x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_triple}-windres)

# SQLite and libmicrohttpd built for the target from Debian's sources by
# scripts/windows-deps.sh; only that prefix's pkg-config files count here.
get_filename_component(_sentrel_deps "${CMAKE_CURRENT_LIST_DIR}/../build/windows-deps" ABSOLUTE)
set(SENTREL_WINDOWS_DEPS "${_sentrel_deps}" CACHE PATH
    "Prefix of the libraries built for Windows by scripts/windows-deps.sh")
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_triple} ${SENTREL_WINDOWS_DEPS})
set(ENV{PKG_CONFIG_LIBDIR} "${SENTREL_WINDOWS_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# localtime_r and the other POSIX thread-safe time functions of the C library.
set(CMAKE_CXX_FLAGS_INIT "-D_POSIX_THREAD_SAFE_FUNCTIONS")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Debian keeps the 64-bit loader out of PATH.
find_program(SENTREL_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(SENTREL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SENTREL_WINE})
endif()
