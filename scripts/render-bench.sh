#!/usr/bin/env bash
# Times tarnvale-host render against sox mixing the same stems: makes 16
# stereo stems (48 kHz, 24-bit WAV, BENCH_SECONDS long, 300 by default) with
# sox, then runs, interleaved, BENCH_REPEATS times (3 by default):
#   sox -M ... remix    the 16 stems mixed into one stereo file, a volume and
#                       a pan per stem, nothing measured
#   tarnvale all        tarnvale-host render: all 19 outputs, fully measured
#   tarnvale main       tarnvale-host render --outputs main, fully measured
# and prints each one's fastest wall time, its ratio to sox, the processor
# time (user and system) of that run, and the peak memory, with the machine
# it ran on. On a machine others share, the processor time says what the
# wall time would be on an idle one. BENCH_JOBS gives --jobs (default: the
# processor count); BENCH_BASELINE=path/to/another/tarnvale-host times that
# build too, in the same interleaved runs, and prints how far each figure of
# its report lies from this build's. The stems live in a scratch folder (on
# /dev/shm when there is one).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages sox time
seconds="${BENCH_SECONDS:-300}"
repeats="${BENCH_REPEATS:-3}"
jobs="${BENCH_JOBS:-$(nproc)}"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target tarnvale-host tarnvale >/dev/null
host="$PWD/build/tarnvale-host"
base=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && base=/dev/shm
scratch="$(mktemp -d "$base/tarnvale-bench-XXXXXX")"
trap 'rm -rf "$scratch"' EXIT

# Sixteen stems: tones, noise, pulses, each with its own movement, band-
# limited to 14 kHz (a steep low-pass) as recorded material is, the same in
# every run (sox -R).
voices=("sine 55 sine 55.3" "sine 110 sine 110.2" "square 220 square 220.4" "sawtooth 330 sawtooth 329.5"
  "triangle 440 triangle 441" "pinknoise pinknoise" "brownnoise brownnoise" "sine 660 sine 662"
  "pluck 196 pluck 196.5" "sine 880 sine 887" "square 1320 square 1321" "whitenoise whitenoise"
  "sine 2640 sine 2650" "sawtooth 98 sawtooth 98.3" "triangle 3520 triangle 3530" "pinknoise brownnoise")
echo "making 16 stems of $seconds s (48 kHz, 24-bit, stereo) in $scratch"
for k in $(seq 1 16); do
  sox -R -n -r 48000 -b 24 -c 2 "$scratch/stem$k.wav" synth "$seconds" ${voices[$((k - 1))]} vol 0.2 \
    tremolo "$(awk "BEGIN { print 0.5 + $k * 0.37 }")" 40 sinc -14000
done

# The same mix for both: stem k at volume v_k and pan p_k.
remix_left="" remix_right="" settings=()
for k in $(seq 1 16); do
  volume=$(awk "BEGIN { printf \"%.4f\", 0.5 + 0.03 * $k }")
  pan=$(awk "BEGIN { printf \"%.4f\", -0.9 + 0.12 * ($k - 1) }")
  left=$(awk "BEGIN { printf \"%.4f\", $volume * (1 - $pan) / 2 }")
  right=$(awk "BEGIN { printf \"%.4f\", $volume * (1 + $pan) / 2 }")
  remix_left+="${remix_left:+,}$((2 * k - 1))v$left"
  remix_right+="${remix_right:+,}$((2 * k))v$right"
  settings+=(--set "$(printf 'Ch.%02d Volume' "$k")=$(awk "BEGIN { printf \"%.2f\", $volume * 100 }")%"
             --set "$(printf 'Ch.%02d Panpot' "$k")=$pan")
done
inputs=()
for k in $(seq 1 16); do inputs+=(--in "$k=$scratch/stem$k.wav"); done

run_sox() { sox -M "$scratch"/stem{1..16}.wav "$scratch/sox-mix.wav" remix "$remix_left" "$remix_right"; }
run_all() { "$host" render "${inputs[@]}" "${settings[@]}" --jobs "$jobs" --out "$scratch/all" --report "$scratch/all.json" >/dev/null; }
run_main() { "$host" render "${inputs[@]}" "${settings[@]}" --jobs "$jobs" --outputs main --out "$scratch/main" >/dev/null; }
run_baseline() { "$BENCH_BASELINE" render "${inputs[@]}" "${settings[@]}" --out "$scratch/baseline" --report "$scratch/baseline.json" >/dev/null; }

# One timed run: "wall-seconds kilobytes user-seconds system-seconds".
timed() {
  /usr/bin/time -f "%e %M %U %S" -o "$scratch/time" bash -c "$(declare -f "$1"); $(declare -p scratch host jobs inputs settings remix_left remix_right); BENCH_BASELINE='${BENCH_BASELINE:-}'; $1"
  cat "$scratch/time"
}

declare -A best memory cpu
names=(sox all main)
[ -n "${BENCH_BASELINE:-}" ] && names+=(baseline)
for repeat in $(seq 1 "$repeats"); do
  for name in "${names[@]}"; do
    read -r wall kilobytes user system < <(timed "run_$name")
    echo "  run $repeat: $name ${wall} s (processor ${user} + ${system} s), ${kilobytes} KiB"
    if [ -z "${best[$name]:-}" ] || awk "BEGIN { exit !($wall < ${best[$name]}) }"; then
      best[$name]=$wall
      cpu[$name]=$(awk "BEGIN { print $user + $system }")
    fi
    if [ -z "${memory[$name]:-}" ] || [ "$kilobytes" -gt "${memory[$name]}" ]; then memory[$name]=$kilobytes; fi
  done
done

echo
echo "machine: $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) processors, $(. /etc/os-release; echo "$PRETTY_NAME")"
echo "stems: 16 stereo, $seconds s at 48 kHz, 24-bit WAV, on $base; fastest of $repeats interleaved runs; --jobs $jobs"
echo
echo "| contender | wall s | x real time | / sox | processor s | peak memory MB | produces |"
echo "|---|---:|---:|---:|---:|---:|---|"
row() {
  awk -v n="$1" -v w="${best[$2]}" -v s="${best[sox]}" -v c="${cpu[$2]}" -v m="${memory[$2]}" -v len="$seconds" \
    -v what="$3" 'BEGIN { printf "| %s | %.2f | %.0f | %.2f | %.2f | %.1f | %s |\n", n, w, len / w, w / s, c, m / 1024, what }'
}
row '`sox -M ... remix`' sox "one stereo file, no measurement"
row '`tarnvale-host render`' all "19 stereo files; peak, RMS, LUFS, LRA, true peak of each"
row '`tarnvale-host render --outputs main`' main "the main mix, measured"
[ -n "${BENCH_BASELINE:-}" ] && row 'the baseline build, `render`' baseline "19 stereo files, measured"

if [ -n "${BENCH_BASELINE:-}" ]; then
  python3 - "$scratch/baseline.json" "$scratch/all.json" <<'PY'
import json, sys
old, new = (json.load(open(p))["outputs"] for p in sys.argv[1:3])
worst = {}
for o, n in zip(old, new):
    for key in ("peak_dbfs", "rms_dbfs", "lufs", "lra", "true_peak_dbtp"):
        if o[key] is None or n[key] is None:
            same = o[key] == n[key]
            worst[key] = max(worst.get(key, 0.0), 0.0 if same else float("inf"))
        else:
            worst[key] = max(worst.get(key, 0.0), abs(o[key] - n[key]))
print()
print("largest difference from the baseline build, over every output (the report gives levels")
print("to 0.01 dB and loudness to 0.1 LU):")
for key, value in worst.items():
    print(f"  {key}: {value:.4f}")
PY
fi
