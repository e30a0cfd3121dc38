#!/usr/bin/env bash
# Checks the Wi-Fi tool directory with Debian's own tools (unpacked, not
# installed, by scripts/fetch-wifi-parsers.sh): the files the Wi-Fi module
# makes from its templates with hostapd's and wpa_supplicant's readers, and
# its scripts with wpa_supplicant, wpa_cli and busybox's DHCP server and
# client in network namespaces of their own. Needs the dev build
# (cmake --preset dev && cmake --build --preset dev) and root.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/fetch-wifi-parsers.sh
ZQ_WIFI_PARSERS=$PWD/build/wifi-parsers/root \
  ctest --preset dev -R 'WifiMadeFilesTest|WifiRealToolsTest' --output-on-failure
