#!/usr/bin/env bash
# Checks the arm64 Debian package without touching this machine's own
# system: lintian reports nothing, it holds the same files as the amd64
# package, dpkg installs it into an empty arm64 root (a temporary folder
# with a dpkg database of its own) with the plug-ins in /usr/lib/vst and
# /usr/lib/lv2, every installed binary is built for aarch64 with the
# modules' single exports, lv2info finds the installed LV2 bundle, the
# installed tarnvale-host finds and loads the installed plug-in by itself
# under qemu-aarch64 (where this machine runs it), and dpkg removes the
# package again, leaving nothing. Run after scripts/release.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
if ! ls dist/tarnvale_*_arm64.deb >/dev/null 2>&1 || ! ensure_arm64_packages lintian lilv-utils; then
  echo "arm64 package: skipped its checks: there is no arm64 package, or Debian's arm64 packages could not be installed (apt's message above)"
  exit 0
fi
deb="$(ls dist/tarnvale_*_arm64.deb)"
amd64="$(ls dist/tarnvale_*_amd64.deb)"
sysroot=/usr/aarch64-linux-gnu

echo "== lintian $deb"
lintian --fail-on error,warning "$deb"
echo "no errors, no warnings"

echo "== the same files as $amd64"
files() { dpkg-deb -c "$1" | awk '{print $1, $6}'; }
diff <(files "$amd64") <(files "$deb")
echo "$(files "$deb" | grep -vc '/$') files, as in the amd64 package"

echo "== install into an empty arm64 root"
root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg --root="$root" --add-architecture arm64
# The root holds no C library or other package to depend on (dpkg lists
# them and installs all the same), and no shell to run the (empty)
# maintainer scripts in.
dpkg --root="$root" --log=/dev/null --force-depends --force-script-chrootless -i "$deb" >/dev/null
dpkg --root="$root" -s tarnvale | grep -qx 'Status: install ok installed'
dpkg --root="$root" -s tarnvale | grep -qx 'Architecture: arm64'
for f in usr/lib/vst/tarnvale.so usr/lib/lv2/tarnvale.lv2/manifest.ttl usr/lib/lv2/tarnvale.lv2/tarnvale.ttl \
  usr/lib/lv2/tarnvale.lv2/tarnvale_lv2.so usr/bin/tarnvale-host usr/share/man/man1/tarnvale-host.1.gz; do
  [ -f "$root/$f" ] || { echo "not installed: /$f" >&2; exit 1; }
done
echo "installed: /usr/lib/vst/tarnvale.so, /usr/lib/lv2/tarnvale.lv2/, /usr/bin/tarnvale-host and its manual page"
bash scripts/check-elf.sh AArch64 "$root/usr/lib/vst/tarnvale.so" "$root/usr/lib/lv2/tarnvale.lv2/tarnvale_lv2.so" \
  "$root/usr/bin/tarnvale-host"
# lv2info reads the bundle's Turtle only, so the build machine's finds it.
uri="$(sed -n 's/^<\(.*\)>.*/\1/p' "$root/usr/lib/lv2/tarnvale.lv2/manifest.ttl" | head -1)"
LV2_PATH="$root/usr/lib/lv2" lv2info "$uri" | grep "Binary: *file://$root/usr/lib/lv2/tarnvale.lv2/tarnvale_lv2.so" >/dev/null
echo "lv2info lists $(LV2_PATH="$root/usr/lib/lv2" lv2info "$uri" | grep -c '^	Port ') ports of the installed LV2 edition"

qemu="$(command -v qemu-aarch64-static || true)"
if [ -n "$qemu" ] && "$qemu" -L "$sysroot" -E LD_LIBRARY_PATH="$sysroot/lib" "$root/usr/bin/tarnvale-host" --version >/dev/null 2>&1; then
  # From an empty home with no VST_PATH: only the installation itself can be found.
  home="$root/home"
  mkdir -p "$home"
  module="$(cd "$home" && env -u VST_PATH HOME="$home" "$qemu" -L "$sysroot" -E LD_LIBRARY_PATH="$sysroot/lib" \
    "$root/usr/bin/tarnvale-host" info | sed -n 's/^Module *//p')"
  echo "the installed tarnvale-host (under qemu-aarch64) loaded $module"
  [ "$module" = "$root/usr/lib/vst/tarnvale.so" ]
  rm -rf "$home"
else
  echo "arm64: skipped running the installed tarnvale-host: this machine cannot run aarch64 programs under qemu-aarch64-static"
fi

echo "== remove"
dpkg --root="$root" --log=/dev/null --force-script-chrootless --purge tarnvale >/dev/null
left="$(find "$root" -path "$root/var" -prune -o ! -type d -print)"
[ -z "$left" ] || { echo "left behind: $left" >&2; exit 1; }
echo "removed, nothing left"
