#!/usr/bin/env bash
# Windows and 32-bit builds: Tarnvale.dll for x64 and x86 with mingw-w64,
# each with its unit, ABI and validation tests run under Wine (64-bit and
# 32-bit), a 32-bit Linux build of the module with its tests, the exports and
# imports of every module, and proof that a wrong layout of an interface
# structure fails the 32-bit builds. 32-bit x86 code runs only where the
# kernel executes it; elsewhere those runs are skipped with one line saying so.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 g++-multilib
werror="${TARNVALE_WERROR:-OFF}"
jobs="$(nproc)"

echo "== Windows x64: Tarnvale.dll and its tests"
cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DTARNVALE_WERROR="$werror" >/dev/null
cmake --build build-win64 -j"$jobs"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

# Whether this machine's kernel executes 32-bit x86 programs.
printf 'int main(void) { return 0; }\n' > "$scratch/probe32.c"
runs32=no
if gcc -m32 "$scratch/probe32.c" -o "$scratch/probe32" 2>/dev/null && "$scratch/probe32" 2>/dev/null; then runs32=yes; fi
# 32-bit Wine, before the x86 build looks for it.
wine32=no
if [ "$runs32" = yes ] && ensure_i386_packages wine32:i386; then wine32=yes; fi

echo "== Windows x86: Tarnvale.dll and its tests"
cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release -DTARNVALE_WERROR="$werror" >/dev/null
cmake --build build-win32 -j"$jobs"

echo "== Linux x86 (32-bit): the module and its tests"
cmake -S . -B build-m32 -DCMAKE_CXX_FLAGS=-m32 -DCMAKE_BUILD_TYPE=Release \
  -DTARNVALE_BUILD_TOOLS=OFF -DTARNVALE_WERROR="$werror" >/dev/null
cmake --build build-m32 -j"$jobs"

echo "== exports and imports"
check_dll() {  # objdump prefix, dll
  local exports imports
  exports="$("$1-objdump" -p "$2" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^[[:space:]]*\[ *[0-9]+\] /{print $NF}' | sort | tr '\n' ' ')"
  imports="$("$1-objdump" -p "$2" | sed -n 's/^\s*DLL Name: //p' | sort | tr '\n' ' ')"
  echo "$2: exports [ $exports] imports [ $imports]"
  [ "$exports" = "VSTPluginMain main " ] || { echo "unexpected exports" >&2; exit 1; }
  for dll in $imports; do
    case "$dll" in KERNEL32.dll|msvcrt.dll) ;; *) echo "unexpected import $dll" >&2; exit 1 ;; esac
  done
}
check_dll x86_64-w64-mingw32 build-win64/Tarnvale.dll
check_dll i686-w64-mingw32 build-win32/Tarnvale.dll
m32="$(nm -D --defined-only build-m32/tarnvale.so | awk '{print $3}' | sort | tr '\n' ' ')"
echo "build-m32/tarnvale.so: exports [ $m32]"
[ "$m32" = "VSTPluginMain main " ] || { echo "unexpected exports" >&2; exit 1; }

echo "== a wrong interface layout fails the 32-bit builds"
mutations=(
  's/    VstInt32 numOutputs;/    VstInt16 numOutputs;/'
  's/    VstInt32 uniqueID;\n    VstInt32 version;/    VstInt32 version;\n    VstInt32 uniqueID;/'
  's/    char future\[56\];/    char future[52];/'
  's/    VstInt32 deltaFrames;  \/\/ frame offset within the block/    VstInt16 deltaFrames;/'
  's/    VstInt32 numEvents;\n    VstIntPtr reserved;/    VstIntPtr reserved;\n    VstInt32 numEvents;/'
  's/    char label\[kVstMaxLabelLen\];/    char label[60];/'
  's/    VstInt32 type;\n    char future\[28\];/    VstInt16 type;\n    char future[28];/'
)
for m in "${mutations[@]}"; do
  perl -0pe "$m" plugin/vst_interface.h > "$scratch/vst_interface.h"
  if cmp -s plugin/vst_interface.h "$scratch/vst_interface.h"; then echo "mutation did not apply: $m" >&2; exit 1; fi
  echo '#include "vst_interface.h"' > "$scratch/probe.cpp"
  for compile in "i686-w64-mingw32-g++-posix" "g++ -m32"; do
    if $compile -std=c++17 -fsyntax-only -I"$scratch" "$scratch/probe.cpp" 2>/dev/null; then
      echo "a wrong layout built with $compile: $m" >&2; exit 1
    fi
  done
done
echo "${#mutations[@]} wrong layouts, each refused by both 32-bit builds"

# A new Wine prefix would offer to install its .NET and HTML engines; the
# tests need neither, so they are switched off and nothing waits for a dialog.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
echo "== Windows x64 tests under Wine"
ctest --test-dir build-win64 --output-on-failure --timeout 600

if [ "$runs32" = yes ]; then
  echo "== Linux x86 (32-bit) tests"
  ctest --test-dir build-m32 --output-on-failure -j"$jobs"
  if [ "$wine32" = yes ]; then
    echo "== Windows x86 tests under 32-bit Wine"
    ctest --test-dir build-win32 --output-on-failure --timeout 600
  else
    echo "Windows x86: skipped running its tests (built, not run): wine32:i386 could not be installed from Debian's archive (apt's message above)"
  fi
else
  echo "32-bit x86: skipped running the -m32 and Windows x86 tests (built, not run): this machine's kernel does not execute 32-bit x86 programs"
fi
