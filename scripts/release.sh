#!/usr/bin/env bash
# Builds the release modules for Linux x86-64, Windows x64 and Windows x86
# and lays them out in dist/, one folder per platform, each with the
# installation notes from the README.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages g++-mingw-w64-x86-64 g++-mingw-w64-i686
jobs="$(nproc)"
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DTARNVALE_BUILD_TESTS=OFF -DTARNVALE_BUILD_TOOLS=OFF >/dev/null
cmake --build build-release -j"$jobs"
for arch in x86_64 i686; do
  cmake -S . -B "build-release-$arch" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/mingw-w64-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTARNVALE_BUILD_TESTS=OFF >/dev/null
  cmake --build "build-release-$arch" -j"$jobs"
done

rm -rf dist
mkdir -p dist/linux-x86_64 dist/windows-x64 dist/windows-x86
strip --strip-unneeded -o dist/linux-x86_64/tarnvale.so build-release/tarnvale.so
x86_64-w64-mingw32-strip --strip-unneeded -o dist/windows-x64/Tarnvale.dll build-release-x86_64/Tarnvale.dll
i686-w64-mingw32-strip --strip-unneeded -o dist/windows-x86/Tarnvale.dll build-release-i686/Tarnvale.dll
# The README's installation section, from its heading to the next one.
notes="$(awk '/^## Installing/{on=1} /^## / && !/^## Installing/{on=0} on' README.md)"
for d in dist/*/; do
  printf '# Tarnvale %s\n\n%s\n' "$(basename "$d")" "$notes" > "$d/INSTALL.md"
done
ls -l dist/*
