#!/usr/bin/env bash
# Checks the board's Wi-Fi templates with Debian's own hostapd and
# wpa_supplicant: the packages are fetched with apt-get download and
# unpacked with dpkg -x into build/wifi-parsers (nothing is installed), then
# the test WifiTemplatesTest feeds them the files the Wi-Fi module makes.
# Needs the dev build (cmake --preset dev && cmake --build --preset dev).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$PWD/build/wifi-parsers
packages=(hostapd wpasupplicant libnl-3-200 libnl-genl-3-200 libnl-route-3-200 libpcsclite1)
if [[ ! -x $dir/root/usr/sbin/hostapd || ! -x $dir/root/sbin/wpa_supplicant ]]; then
  mkdir -p "$dir/debs"
  (cd "$dir/debs" && apt-get download "${packages[@]}")
  for deb in "$dir"/debs/*.deb; do dpkg -x "$deb" "$dir/root"; done
fi
ZQ_WIFI_PARSERS=$dir/root ctest --preset dev -R WifiTemplatesTest --output-on-failure
