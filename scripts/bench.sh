#!/usr/bin/env bash
# Builds Tarnvale in Release and runs its benchmark: first the check that
# Tarnvale's outputs, parameters and automation equal the straightforward
# engine's, then the timings and the table of ratios. Extra arguments go to
# Google Benchmark (for example --benchmark_min_time=1).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target tarnvale-bench
./build/tarnvale-bench "$@"
