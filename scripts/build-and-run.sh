#!/usr/bin/env bash
# Builds Tarnvale and shows what a host sees of it: identity, capabilities,
# pins and the generic parameter panel.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
./build/tarnvale-host info "$@"
