#!/usr/bin/env bash
# Fetches Debian's hostapd, wpa_supplicant (with wpa_cli) and busybox with
# apt-get download and unpacks them with dpkg -x into build/wifi-parsers/root:
# nothing is installed and no daemon is set up. The Wi-Fi tests feed them
# the files the Wi-Fi module makes, and run the tool directory's scripts with
# them in a network namespace of their own. Without a network a developer's
# run only warns (those tests then skip); in CI (CI=true) it fails, so that
# CI never passes without them.
set -uo pipefail
cd "$(dirname "$0")/.."
dir=$PWD/build/wifi-parsers
[[ -x $dir/root/usr/sbin/hostapd && -x $dir/root/sbin/wpa_supplicant && -x $dir/root/bin/busybox ]] &&
  exit 0
packages=(hostapd wpasupplicant busybox-static libnl-3-200 libnl-genl-3-200 libnl-route-3-200
  libpcsclite1)
mkdir -p "$dir/debs"
if ! (cd "$dir/debs" && apt-get download -qq "${packages[@]}" >/dev/null 2>&1); then
  echo "fetch-wifi-parsers: Debian's hostapd, wpa_supplicant and busybox cannot be fetched;" \
    "the Wi-Fi tests will skip checking the made files and scripts with them" >&2
  [[ ${CI:-} == true ]] && exit 1
  exit 0
fi
for deb in "$dir"/debs/*.deb; do dpkg -x "$deb" "$dir/root"; done
