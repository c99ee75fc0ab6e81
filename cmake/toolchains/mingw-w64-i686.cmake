# Cross-compiling for Windows (i686) with Debian's mingw-w64 compilers.
# The posix flavour of the compilers provides std::thread for the tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Tests run under 32-bit Wine (Debian's wine32:i386), where the machine can
# execute 32-bit x86 code.
find_program(TARNVALE_WINE32 NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(TARNVALE_WINE32)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARNVALE_WINE32})
endif()
