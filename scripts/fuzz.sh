#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and runs each for FUZZ_SECONDS (60) from the
# seed corpus in fuzz/corpus. New inputs go to a scratch folder, not the
# repository. Prints how many inputs each target ran.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages clang libclang-rt-14-dev
seconds="${FUZZ_SECONDS:-60}"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNVALE_FUZZ=ON \
  -DTARNVALE_BUILD_TESTS=OFF -DTARNVALE_BUILD_TOOLS=OFF -DTARNVALE_WERROR="${TARNVALE_WERROR:-OFF}" >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz_host_calls fuzz_number_text fuzz_midi_file fuzz_json_text
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
for target in host_calls number_text midi_file json_text; do
  mkdir -p "$scratch/$target"
  log="$scratch/$target.log"
  if ! ./build-fuzz/fuzz_$target -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$scratch/" "$scratch/$target" "fuzz/corpus/$target" >"$log" 2>&1; then
    tail -40 "$log"
    echo "fuzz_$target found a failure; the input is in the log above" >&2
    exit 1
  fi
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
  echo "figure: fuzz_$target executions in ${seconds} s = ${runs}, no failure"
done
