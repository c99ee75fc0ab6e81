#!/usr/bin/env bash
# Checks Linux binaries of one target as hosts and users meet them:
#   check-elf.sh MACHINE FILE...      (MACHINE as readelf names it, e.g. AArch64 or X86-64)
# every file is built for MACHINE; the VST 2.4 module (tarnvale.so) exports
# exactly VSTPluginMain and main, the LV2 module (tarnvale_lv2.so) exactly
# lv2_descriptor, and both need nothing but the C library (libc, libm). For
# every file it prints the newest C library symbol version it uses: the
# oldest C library it runs on.
set -euo pipefail
machine="$1"
shift
oldest_glibc() {  # the highest GLIBC_x.y among the versions a file needs
  readelf -W --dyn-syms "$1" | grep -o '@GLIBC_[0-9.]*' | sed 's/@GLIBC_//' | sort -t. -k1,1n -k2,2n -k3,3n -u | tail -1
}
for file in "$@"; do
  got="$(readelf -h "$file" | sed -n 's/^ *Machine: *//p')"
  [ "$got" = "$machine" ] || { echo "$file: built for $got, not $machine" >&2; exit 1; }
  exports="$(nm -D --defined-only "$file" | awk '{print $3}' | sort | tr '\n' ' ')"
  needed="$(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort | tr '\n' ' ')"
  case "$(basename "$file")" in
    tarnvale.so) want="VSTPluginMain main " ;;
    tarnvale_lv2.so) want="lv2_descriptor " ;;
    *) want="" ;;
  esac
  if [ -n "$want" ]; then
    echo "$file: exports [ $exports] imports [ $needed] needs glibc $(oldest_glibc "$file")"
    [ "$exports" = "$want" ] || { echo "$file: unexpected exports" >&2; exit 1; }
    for library in $needed; do
      case "$library" in libc.so.6|libm.so.6) ;; *) echo "$file: unexpected import $library" >&2; exit 1 ;; esac
    done
  else
    echo "$file: imports [ $needed] needs glibc $(oldest_glibc "$file")"
  fi
done
