# Cross-compiling for 64-bit ARM Linux (Raspberry Pi OS and other Debian 12
# arm64 systems) with Debian's aarch64-linux-gnu compilers. The C library
# comes from the cross toolchain's sysroot; the libraries tarnvale-host and
# the tests link (libsndfile, libsoxr, libebur128, lilv) from Debian's arm64
# packages, installed beside the native ones (dpkg --add-architecture arm64).
# Programs run under qemu-aarch64 (Debian's qemu-user-static) where it is
# installed: the tests, and the Turtle generator at build time.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(tarnvale_triplet aarch64-linux-gnu)
set(TARNVALE_SYSROOT /usr/${tarnvale_triplet})
set(CMAKE_C_COMPILER ${tarnvale_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${tarnvale_triplet}-g++)
# Multiarch: the arm64 packages' libraries live in /usr/lib/aarch64-linux-gnu,
# their headers in /usr/include, and pkg-config's arm64 personality finds them.
set(CMAKE_LIBRARY_ARCHITECTURE ${tarnvale_triplet})
set(CMAKE_FIND_ROOT_PATH ${TARNVALE_SYSROOT} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
find_program(PKG_CONFIG_EXECUTABLE ${tarnvale_triplet}-pkg-config)
find_program(TARNVALE_QEMU NAMES qemu-aarch64-static qemu-aarch64)
# The sysroot's dynamic loader with the sysroot's C library (never the one
# of Debian's libc6:arm64, which the arm64 packages bring along: a loader and
# a C library of different builds do not work together).
if(TARNVALE_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARNVALE_QEMU} -L ${TARNVALE_SYSROOT} -E LD_LIBRARY_PATH=${TARNVALE_SYSROOT}/lib)
endif()
