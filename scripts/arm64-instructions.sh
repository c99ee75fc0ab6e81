#!/usr/bin/env bash
# Counts the instructions each aarch64 mix kernel executes per frame, by
# path, under qemu-aarch64: from its log of every block it translated
# (with its instructions) and every block it ran. Two runs per cell, of one
# and of three repetitions of a 4,096-frame mix, so start-up cancels out.
# Needs the build of scripts/arm64.sh. Times under emulation mean nothing;
# these counts compare code, not speed on a real processor.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-arm64
[ -f "$build/libtarnvale_engine.a" ] || { echo "arm64-instructions: run scripts/arm64.sh first" >&2; exit 2; }
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
aarch64-linux-gnu-g++ -std=c++17 -O3 -ffp-contract=off -static -I. -I"$build/generated" \
  bench/kernel_instructions.cpp "$build/libtarnvale_engine.a" -o "$scratch/driver"

count() {  # kernel path repetitions: instructions, loads, stores, fmul+fadd executed
  qemu-aarch64-static -d nochain,exec,in_asm -D "$scratch/log" "$scratch/driver" "$@"
  awk '
    function key(hex) { sub(/^0x/, "", hex); sub(/^0+/, "", hex); return hex }
    /^IN:/ { block = "new"; next }
    block != "" && /^0x[0-9a-f]+:/ {
      if (block == "new") { block = key(substr($1, 1, length($1) - 1)); n[block] = l[block] = s[block] = f[block] = 0 }
      n[block]++
      if ($3 ~ /^ld/) l[block]++; else if ($3 ~ /^st/) s[block]++; else if ($3 == "fmul" || $3 == "fadd") f[block]++
      next
    }
    /^$/ { block = "" }
    /^Trace / { split($0, part, "/"); b = key(part[2]); all += n[b]; loads += l[b]; stores += s[b]; arith += f[b] }
    END { print all, loads, stores, arith }' "$scratch/log"
}
kernels="$(sed -n 's/^ *{KernelIsa::\([a-z0-9]*\),.*/\1/p' engine/mix_kernel.cpp | grep -xv 'avx2\|avx512')"
printf '%-9s %-34s %8s %7s %7s %10s\n' kernel path all loads stores fmul+fadd
index=0
for kernel in $kernels; do
  for path in 0:"separate buffers, even gains" 1:"the same, with every meter" 2:"in place" 3:"per-frame gains, 16-frame groups"; do
    read -r a1 l1 s1 f1 < <(count "$index" "${path%%:*}" 1)
    read -r a3 l3 s3 f3 < <(count "$index" "${path%%:*}" 3)
    awk -v k="$kernel" -v p="${path#*:}" -v a=$((a3 - a1)) -v l=$((l3 - l1)) -v s=$((s3 - s1)) -v f=$((f3 - f1)) \
      'BEGIN { d = 2 * 4096; printf "%-9s %-34s %8.1f %7.1f %7.1f %10.1f\n", k, p, a / d, l / d, s / d, f / d }'
  done
  index=$((index + 1))
done
