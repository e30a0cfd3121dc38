#!/usr/bin/env bash
# Fetches Debian's hostapd and wpa_supplicant with apt-get download and
# unpacks them with dpkg -x into build/wifi-parsers/root: nothing is
# installed and no daemon is set up. The Wi-Fi tests feed them the files the
# Wi-Fi module makes, and skip that check when they are not there; so this
# script only warns when the packages cannot be fetched (no network, say).
set -uo pipefail
cd "$(dirname "$0")/.."
dir=$PWD/build/wifi-parsers
[[ -x $dir/root/usr/sbin/hostapd && -x $dir/root/sbin/wpa_supplicant ]] && exit 0
packages=(hostapd wpasupplicant libnl-3-200 libnl-genl-3-200 libnl-route-3-200 libpcsclite1)
mkdir -p "$dir/debs"
if ! (cd "$dir/debs" && apt-get download -qq "${packages[@]}" >/dev/null 2>&1); then
  echo "fetch-wifi-parsers: Debian's hostapd and wpa_supplicant cannot be fetched;" \
    "the Wi-Fi tests will skip checking the made files with them" >&2
  exit 0
fi
for deb in "$dir"/debs/*.deb; do dpkg -x "$deb" "$dir/root"; done
