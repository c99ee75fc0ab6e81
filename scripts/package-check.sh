#!/usr/bin/env bash
# Checks the Debian package as a user meets it: lintian reports no error, it
# installs with dpkg, the installed tarnvale-host finds and loads the
# installed VST 2.4 plug-in by itself, lv2info lists the installed LV2
# edition, and the package removes cleanly. Run after scripts/release.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages lintian lilv-utils man-db
deb="$(ls dist/tarnvale_*_amd64.deb)"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

echo "== lintian $deb"
lintian --fail-on error "$deb"
echo "no errors"

echo "== install"
$sudo dpkg -i "$deb"
trap '$sudo dpkg --purge tarnvale >/dev/null 2>&1 || true' EXIT
# From an empty folder, with no VST_PATH and an empty home: only the
# installation itself can be found.
home="$(mktemp -d)"
module="$(cd "$home" && env -u VST_PATH HOME="$home" tarnvale-host info | sed -n 's/^Module *//p')"
echo "tarnvale-host loaded $module"
[ "$module" = "/usr/lib/vst/tarnvale.so" ]
# The plug-in's URI, as the installed bundle's manifest gives it.
uri="$(sed -n 's/^<\(.*\)>$/\1/p' /usr/lib/lv2/tarnvale.lv2/manifest.ttl | head -n 1)"
lv2info "$uri" | grep "Bundle: *file:///usr/lib/lv2/tarnvale.lv2/" >/dev/null
echo "lv2info lists $(lv2info "$uri" | grep -c '^	Port ') ports of the installed LV2 edition $uri"
man -w tarnvale-host
rm -rf "$home"

echo "== remove"
$sudo dpkg --purge tarnvale
trap - EXIT
[ ! -e /usr/lib/vst/tarnvale.so ] && [ ! -e /usr/lib/lv2/tarnvale.lv2 ] && [ ! -e /usr/bin/tarnvale-host ]
echo "removed"
