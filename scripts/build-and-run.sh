#!/usr/bin/env bash
# Builds Tarnvale and runs the demo: sixteen built-in stems mixed through the
# plug-in with a few settings and a controller sweep, written to demo-out/
# (or the folder given) with a level table and a level plot. Builds only
# what the demo needs, tarnvale-host and the plug-in it loads: not the tests,
# the benchmark or the LV2 edition.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target tarnvale-host
./build/tarnvale-host demo "$@"
