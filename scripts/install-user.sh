#!/usr/bin/env bash
# Installs Tarnvale for the current user only: the VST 2.4 plug-in into
# ~/.vst and the LV2 bundle into ~/.lv2, where hosts look for a user's own
# plug-ins. Builds first if needed; needs no root.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -f build/tarnvale.so ] || [ ! -f build/bundles/tarnvale.lv2/tarnvale_lv2.so ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build -j"$(nproc)" --target tarnvale tarnvale_lv2
fi
mkdir -p "$HOME/.vst" "$HOME/.lv2"
install -m 0644 build/tarnvale.so "$HOME/.vst/tarnvale.so"
rm -rf "$HOME/.lv2/tarnvale.lv2"
cp -r build/bundles/tarnvale.lv2 "$HOME/.lv2/tarnvale.lv2"
echo "installed $HOME/.vst/tarnvale.so and $HOME/.lv2/tarnvale.lv2"
