#!/usr/bin/env bash
# Builds everything with ThreadSanitizer in build-tsan/ and runs the ABI and
# validation tests there (parameters written, read and shown from several
# threads while audio is processed). Any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNVALE_SANITIZE=thread -DTARNVALE_BUILD_TOOLS=OFF \
  -DTARNVALE_WERROR="${TARNVALE_WERROR:-OFF}" >/dev/null
cmake --build build-tsan -j"$(nproc)" --target validation_tests abi_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan --output-on-failure -j"$(nproc)" -L "validation|abi"
