# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (POSIX threads flavour, which
# std::thread and std::mutex need). Programs built with it run under wine64 on this machine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELINDRA_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELINDRA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELINDRA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VELINDRA_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VELINDRA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests and test discovery run the programs through wine.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
