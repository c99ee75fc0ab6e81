#!/usr/bin/env bash
# Builds Tarnvale with its tests and runs them. Extra arguments go to CTest
# (for example -L abi). TARNVALE_WERROR=ON turns warnings into errors.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTARNVALE_WERROR="${TARNVALE_WERROR:-OFF}" >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)" "$@"
