#!/usr/bin/env bash
# Builds Tarnvale with its tests and runs them. Extra arguments go to CTest
# (for example -L abi). TARNVALE_WERROR=ON turns warnings into errors. After
# the run, passed or failed, it prints the figures the validation tests
# report (the load each one applies), then CTest's summary line again, last,
# and exits with CTest's status.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTARNVALE_WERROR="${TARNVALE_WERROR:-OFF}" >/dev/null
cmake --build build -j"$(nproc)"
status=0
ctest --test-dir build --output-on-failure -j"$(nproc)" "$@" | tee build/ctest.log || status=$?
if grep -q '^figure: ' build/Testing/Temporary/LastTest.log 2>/dev/null; then
  echo
  echo "Reliability figures of this run:"
  grep -h '^figure: ' build/Testing/Temporary/LastTest.log | sort -u | sed 's/^figure: /  /'
fi
echo
grep -E 'tests passed|No tests were found' build/ctest.log || true
exit "$status"
