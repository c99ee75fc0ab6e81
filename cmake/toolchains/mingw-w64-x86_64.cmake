# Windows x64 (mingw-w64), its tests under 64-bit Wine.
set(TARNVALE_MINGW_PROCESSOR x86_64)
set(TARNVALE_WINE_LAUNCHER wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
