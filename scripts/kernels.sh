#!/usr/bin/env bash
# Runs the unit, ABI, validation and benchmark-check tests once more for
# each narrower mix kernel, with the plug-in built to use that kernel
# throughout, under AddressSanitizer and UndefinedBehaviorSanitizer. (The
# default build and scripts/sanitize.sh use the widest kernel the processor
# runs.) So every kernel passes the same tests, sanitizers included.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages
kernels=(portable)
grep -qw avx2 /proc/cpuinfo && grep -qw avx512f /proc/cpuinfo && kernels+=(avx2)  # else avx2 is the default's
for kernel in "${kernels[@]}"; do
  echo "== mix kernel: $kernel"
  cmake -S . -B "build-kernel-$kernel" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNVALE_KERNEL="$kernel" \
    -DTARNVALE_SANITIZE=address,undefined -DTARNVALE_BUILD_TOOLS=OFF -DTARNVALE_WERROR="${TARNVALE_WERROR:-OFF}" >/dev/null
  cmake --build "build-kernel-$kernel" -j"$(nproc)"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "build-kernel-$kernel" --output-on-failure -j"$(nproc)" -L "unit|abi|validation|bench"
done
