# Cross-builds the Windows programs on Linux with mingw-w64 (posix threads model). The programs
# link the C and C++ runtimes statically, so they run under wine or on Windows without DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VOR_MINGW_TARGET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VOR_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VOR_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${VOR_MINGW_TARGET}-windres)
set(CMAKE_STRIP /usr/bin/${VOR_MINGW_TARGET}-strip)

set(CMAKE_FIND_ROOT_PATH /usr/${VOR_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# CTest runs the test programs under wine, with a wine prefix of the build's own.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
