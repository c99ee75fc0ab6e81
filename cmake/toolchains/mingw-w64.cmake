# Cross-compiling for Windows with Debian's mingw-w64 compilers, for the
# target the including file names: TARNVALE_MINGW_PROCESSOR (x86_64 or i686)
# and TARNVALE_WINE_LAUNCHER, the Wine launcher that runs its programs.
# The posix flavour of the compilers provides std::thread for the tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TARNVALE_MINGW_PROCESSOR})
set(tarnvale_triplet ${TARNVALE_MINGW_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${tarnvale_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${tarnvale_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${tarnvale_triplet}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${tarnvale_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Tests run under Wine where it is installed; Debian keeps its launchers in
# /usr/lib/wine, outside PATH.
find_program(TARNVALE_WINE NAMES ${TARNVALE_WINE_LAUNCHER} PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(TARNVALE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARNVALE_WINE})
endif()
