#!/usr/bin/env bash
# 64-bit ARM (Raspberry Pi OS and other Debian 12 arm64 systems): both
# plug-in editions and tarnvale-host cross-built with Debian's aarch64
# compilers against Debian's arm64 packages, every module's exports, imports
# and the oldest C library it needs checked, then the unit, ABI, validation,
# LV2 (lilv and the target's own lv2apply) and tarnvale-host tests run under
# qemu-aarch64 where this machine runs it; elsewhere one line says so.
# Emulation says nothing about speed: no benchmark is built or run here.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
if ! ensure_arm64_packages; then
  echo "arm64: skipped building and running the aarch64 build and its tests: Debian's arm64 packages could not be installed (apt's message above)"
  exit 0
fi
werror="${TARNVALE_WERROR:-OFF}"
jobs="$(nproc)"
build=build-arm64
sysroot=/usr/aarch64-linux-gnu

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
# Whether this machine runs aarch64 programs: a threaded one, as the tests
# are, through the same emulator and sysroot the build's tests use.
printf '#include <pthread.h>\nstatic void* f(void* p) { return p; }\nint main(void) { pthread_t t; void* r = 0; if (pthread_create(&t, 0, f, &t)) return 1; pthread_join(t, &r); return r == &t ? 0 : 1; }\n' \
  > "$scratch/probe.c"
aarch64-linux-gnu-gcc -pthread "$scratch/probe.c" -o "$scratch/probe"
runs=no why="qemu-aarch64-static is not installed"
if qemu="$(command -v qemu-aarch64-static)"; then
  if timeout 60 "$qemu" -L "$sysroot" -E LD_LIBRARY_PATH="$sysroot/lib" "$scratch/probe" 2>"$scratch/why"; then runs=yes
  else why="qemu-aarch64-static could not run an aarch64 program here: $(head -1 "$scratch/why")"; fi
fi
if [ "$runs" != yes ]; then
  # The build runs its Turtle generator under the emulator too.
  echo "arm64: skipped building and running the aarch64 build and its tests: $why"
  exit 0
fi

# The target's lv2apply, for the LV2 render test: Debian's lilv-utils for
# arm64 does not install beside the native one, so it is unpacked into the
# build folder and run under the emulator like the tests.
mkdir -p "$build/lilv-utils"
if [ ! -x "$build/lilv-utils/root/usr/bin/lv2apply" ]; then
  (cd "$build/lilv-utils" && rm -f ./*.deb && apt-get download -q lilv-utils:arm64 >/dev/null 2>&1 &&
    dpkg -x lilv-utils_*_arm64.deb root)
fi

echo "== Linux aarch64: both editions, tarnvale-host and the tests"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake -DCMAKE_BUILD_TYPE=Release \
  -DTARNVALE_LV2APPLY="$PWD/$build/lilv-utils/root/usr/bin/lv2apply" -DTARNVALE_WERROR="$werror" >/dev/null
cmake --build "$build" -j"$jobs"

echo "== exports, imports and the oldest C library"
bash scripts/check-elf.sh AArch64 "$build/tarnvale.so" "$build/bundles/tarnvale.lv2/tarnvale_lv2.so" "$build/tarnvale-host"

echo "== aarch64 tests under qemu-aarch64 (their times say nothing about speed on ARM)"
# The memory test's ten minutes of sixteen stems take several minutes
# under emulation, and measure the emulator's memory as much as the tool's.
echo "arm64: Cli.LongRenderMemoryStaysFlat runs in the native builds only (under emulation it would measure qemu)"
GTEST_FILTER=-Cli.LongRenderMemoryStaysFlat ctest --test-dir "$build" --output-on-failure -j"$jobs" --timeout 900
