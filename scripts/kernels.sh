#!/usr/bin/env bash
# Runs the unit, ABI and benchmark-check tests once more with the plug-in
# built to use each narrower mix kernel throughout (the default build uses
# the widest this processor runs), so every kernel passes the same tests.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages
kernels=(portable)
grep -qw avx2 /proc/cpuinfo && kernels+=(avx2)
for kernel in "${kernels[@]}"; do
  echo "== mix kernel: $kernel"
  cmake -S . -B "build-kernel-$kernel" -DCMAKE_BUILD_TYPE=Release -DTARNVALE_KERNEL="$kernel" \
    -DTARNVALE_BUILD_TOOLS=OFF -DTARNVALE_WERROR="${TARNVALE_WERROR:-OFF}" >/dev/null
  cmake --build "build-kernel-$kernel" -j"$(nproc)"
  ctest --test-dir "build-kernel-$kernel" --output-on-failure -j"$(nproc)" -L "unit|abi|bench"
done
