#!/usr/bin/env bash
# Builds Tarnvale's release files into dist/:
#   tarnvale_<version>_amd64.deb             the Debian package (lintian-clean)
#   tarnvale-<version>-linux-x86_64.tar.gz   the same layout (bin, lib/vst, lib/lv2, share) with README and LICENSE
#   tarnvale_<version>_arm64.deb             the package for 64-bit ARM (Raspberry Pi OS, Debian 12 arm64)
#   tarnvale-<version>-linux-aarch64.tar.gz  its archive, laid out as the x86-64 one
#   tarnvale-<version>-windows-x64.zip       Tarnvale.dll for 64-bit hosts, a Windows README.txt and LICENSE.txt
#   tarnvale-<version>-windows-x86.zip       Tarnvale.dll for 32-bit hosts, a Windows README.txt and LICENSE.txt
#   SHA256SUMS
# Works from an exported source tree as well as from a checkout.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages g++-mingw-w64-x86-64 g++-mingw-w64-i686
arm64=yes
if ! ensure_arm64_packages; then
  arm64=no
  echo "aarch64: skipped its package and archive: Debian's arm64 packages could not be installed (apt's message above)"
fi
version="$(sed -n 's/^project(Tarnvale VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
[ -n "$version" ] || { echo "release.sh: no version in CMakeLists.txt" >&2; exit 1; }
jobs="$(nproc)"

echo "== Linux x86-64: the package and the archive"
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DTARNVALE_BUILD_TESTS=OFF >/dev/null
cmake --build build-release -j"$jobs"
(cd build-release && cpack -G DEB >/dev/null)

if [ "$arm64" = yes ]; then
  echo "== Linux aarch64: the package and the archive"
  cmake -S . -B build-release-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake \
    -DCMAKE_BUILD_TYPE=Release -DTARNVALE_BUILD_TESTS=OFF >/dev/null
  cmake --build build-release-aarch64 -j"$jobs"
  (cd build-release-aarch64 && cpack -G DEB >/dev/null)
fi

for arch in x86_64 i686; do
  echo "== Windows $arch: Tarnvale.dll"
  cmake -S . -B "build-release-$arch" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/mingw-w64-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTARNVALE_BUILD_TESTS=OFF >/dev/null
  cmake --build "build-release-$arch" -j"$jobs"
done

rm -rf dist
mkdir -p dist
staging="$(mktemp -d)"
trap 'rm -rf "$staging"' EXIT
cp "build-release/tarnvale_${version}_amd64.deb" dist/

linux="tarnvale-${version}-linux-x86_64"
cmake --install build-release --prefix "$staging/$linux" --strip >/dev/null
cp README.md LICENSE "$staging/$linux/"
(cd "$staging" && tar --owner=0 --group=0 -czf "$OLDPWD/dist/$linux.tar.gz" "$linux")

# 64-bit ARM: the same two files from the cross build (stripped with the
# cross toolchain's strip).
if [ "$arm64" = yes ]; then
  cp "build-release-aarch64/tarnvale_${version}_arm64.deb" dist/
  linux="tarnvale-${version}-linux-aarch64"
  cmake --install build-release-aarch64 --prefix "$staging/$linux" --strip >/dev/null
  cp README.md LICENSE "$staging/$linux/"
  (cd "$staging" && tar --owner=0 --group=0 -czf "$OLDPWD/dist/$linux.tar.gz" "$linux")
fi

for pair in x64:x86_64 x86:i686; do
  name="${pair%%:*}" arch="${pair##*:}"
  folder="tarnvale-${version}-windows-${name}"
  mkdir -p "$staging/$folder"
  "${arch}-w64-mingw32-strip" --strip-unneeded -o "$staging/$folder/Tarnvale.dll" "build-release-$arch/Tarnvale.dll"
  # A short readme for Windows users, and both texts with Windows line ends.
  sed 's/$/\r/' build-release/packaging/README-windows.txt > "$staging/$folder/README.txt"
  sed 's/$/\r/' LICENSE > "$staging/$folder/LICENSE.txt"
  (cd "$staging" && cmake -E tar cf "$OLDPWD/dist/$folder.zip" --format=zip "$folder")
done

(cd dist && sha256sum -- * > SHA256SUMS)
ls -l dist
