#!/usr/bin/env bash
# Checks the Debian package as a user meets it: lintian reports no error,
# warning or note, it installs with dpkg, the installed tarnvale-host finds
# and loads the installed VST 2.4 plug-in by itself, lv2info lists the
# installed LV2 edition, bash completes tarnvale-host, and a plain remove
# leaves nothing behind (no "rc" state). Run after scripts/release.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages lintian lilv-utils man-db
deb="$(ls dist/tarnvale_*_amd64.deb)"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

echo "== lintian $deb"
lintian --fail-on error,warning,info -I "$deb"
echo "no errors, warnings or notes"

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
[ -f /usr/share/bash-completion/completions/tarnvale-host ]
rm -rf "$home"

echo "== remove"
$sudo dpkg --remove tarnvale
trap - EXIT
[ ! -e /usr/lib/vst/tarnvale.so ] && [ ! -e /usr/lib/lv2/tarnvale.lv2 ] && [ ! -e /usr/bin/tarnvale-host ]
# Nothing left to purge: no maintainer script or configuration file keeps
# the package in state "rc".
state="$(dpkg-query -W -f='${db:Status-Abbrev}' tarnvale 2>/dev/null || true)"
[ -z "$state" ] || [ "$state" = "un " ] || { echo "after remove the package is in state '$state'" >&2; exit 1; }
echo "removed, nothing left behind"
