# Windows x86 (mingw-w64), its tests under 32-bit Wine (Debian's
# wine32:i386), where the machine executes 32-bit x86 code.
set(TARNVALE_MINGW_PROCESSOR i686)
set(TARNVALE_WINE_LAUNCHER wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
