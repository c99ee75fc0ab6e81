#!/usr/bin/env bash
# Runs Tarnvale's LV2 edition in jalv as a live sixteen-channel JACK mixer.
# The JACK client is named "tarnvale" (TARNVALE_JACK_NAME to change it);
# further arguments go to jalv (-l DIR to load a saved state, -c SYM=VAL to
# set a control, -p to print value changes). Type jalv's commands at its
# prompt ("ch01_volume = 50", "monitors"); quit with Ctrl-D or Ctrl-C.
#
# JACK 1.9.21 (Debian 12) deadlocks, server included, when a client with
# many ports that still carry JACK metadata closes; jalv gives each port a
# pretty name and an order. This script removes that metadata from the
# client's ports once they appear (port names stay), and says when
# quitting is safe.
set -euo pipefail
name="${TARNVALE_JACK_NAME:-tarnvale}"
# The plug-in's URI, from the first tarnvale.lv2 bundle where hosts look.
uri=""
IFS=: read -r -a folders <<<"${LV2_PATH:-$HOME/.lv2:/usr/local/lib/lv2:/usr/lib/lv2}"
for folder in "${folders[@]}"; do
  manifest="$folder/tarnvale.lv2/manifest.ttl"
  [ -f "$manifest" ] && uri="$(sed -n 's/^<\(.*\)>$/\1/p' "$manifest" | head -n 1)" && break
done
[ -n "$uri" ] || { echo "jalv-mixer: no tarnvale.lv2 bundle in ${folders[*]}" >&2; exit 2; }
for tool in jalv jack_lsp jack_property; do
  command -v "$tool" >/dev/null || { echo "jalv-mixer: $tool is not installed (apt install jalv jackd2)" >&2; exit 2; }
done
(
  # The ports appear once jalv has connected; then their metadata goes.
  for _ in $(seq 200); do [ "$(jack_lsp "$name:" 2>/dev/null | wc -l)" -ge 71 ] && break; sleep 0.1; done
  jack_lsp "$name:" 2>/dev/null | while read -r port; do jack_property -d --port "$port" >/dev/null 2>&1 || true; done
  echo "jalv-mixer: $name is ready; quitting is safe" >&2
) &
exec jalv -x -n "$name" "$@" "$uri"
