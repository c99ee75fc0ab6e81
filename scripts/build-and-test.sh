#!/usr/bin/env bash
# Builds Tarnvale with its tests and runs them. Extra arguments go to CTest
# (for example -L abi). TARNVALE_WERROR=ON turns warnings into errors. After
# the run it prints the figures the validation tests report (the load each
# one applies), then CTest's summary line again, last.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTARNVALE_WERROR="${TARNVALE_WERROR:-OFF}" >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)" "$@" | tee build/ctest.log
if grep -q '^figure: ' build/Testing/Temporary/LastTest.log; then
  echo
  echo "Reliability figures of this run:"
  grep -h '^figure: ' build/Testing/Temporary/LastTest.log | sort -u | sed 's/^figure: /  /'
  echo
  grep -E 'tests passed' build/ctest.log
fi
