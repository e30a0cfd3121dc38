#!/usr/bin/env bash
# Checks the files the Wi-Fi module makes from the board's templates with Debian's own hostapd and wpa_supplicant (unpacked, not
# installed, by scripts/fetch-wifi-parsers.sh). Needs the dev build
# (cmake --preset dev && cmake --build --preset dev).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/fetch-wifi-parsers.sh
ZQ_WIFI_PARSERS=$PWD/build/wifi-parsers/root \
  ctest --preset dev -R WifiMadeFilesTest --output-on-failure
