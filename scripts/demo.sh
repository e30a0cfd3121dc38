#!/usr/bin/env bash
# The demo: build, make a fresh virtual board, provision it with the factory
# tool, show what the board saw, then run the tool again on the provisioned
# board.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release >/dev/null

board=out/demo-board
rm -rf "$board"
mkdir -p out
vboard=build/release/sim/vboard
tool=build/release/app/zqprovision
provisioning=/mnt/factory/provision.txt

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

# Runs the tool on the board until its voice prompt has played (it then
# idles for ever, as on the board) or until it ends by itself.
run_tool() {
  local before
  before=$(grep -c ' /dev/ao close' "$board/journal" || true)
  ZQ_VBOARD="$board" "$tool" "$provisioning" &
  local pid=$! waited=0
  while kill -0 "$pid" 2>/dev/null; do
    if [ "$(grep -c ' /dev/ao close' "$board/journal" || true)" -gt "$before" ]; then
      sleep 0.1
      kill "$pid" 2>/dev/null || true
      echo "(the tool played its prompt and idles now; the demo stops it)"
      break
    fi
    sleep 0.05
    waited=$((waited + 1))
    if [ "$waited" -gt 600 ]; then kill "$pid"; echo "demo: the tool did not finish in 30 s" >&2; exit 1; fi
  done
  wait "$pid" 2>/dev/null || true
}

step "A fresh virtual board: vboard create $board"
"$vboard" create "$board"
( cd "$board" && find . -mindepth 1 -not -path './proc/*' -not -path './sys/*' | sort | sed 's|^\./|  |' )

step "What its flash holds before provisioning"
"$vboard" id "$board" show
"$vboard" env "$board" print

step "The factory's provisioning file: $board$provisioning"
printf 'APP_ID=demo-camera-01\r\nUUID=ignored-the-board-keeps-its-own\r\nKEY=ignored-too\r\n' > "$board$provisioning"
cat "$board$provisioning"

step "Provisioning: ZQ_VBOARD=$board zqprovision $provisioning"
run_tool

step "The identity record read back from flash: vboard id $board show"
"$vboard" id "$board" show

step "The marker beside the provisioning file, and what the speaker played"
echo "$board/mnt/factory/sucess: $(cat "$board/mnt/factory/sucess")"
printf 'Listen to %s (16-bit mono 8 kHz WAV): the rising chime means success.\n' "$board/speaker.wav"
grep -E 'gpio 52|/dev/ao|acodec|shell' "$board/journal" | sed 's/^/  journal: /' | head -n 12

step "Running the tool again on the provisioned board (zqauto=1 starts the main application)"
run_tool

step "The camera: examples/camera_show.sh $board demo_scene.png (a picture drawn by the build)"
examples/camera_show.sh "$board" build/release/examples/demo_scene.png 2
echo "Look at $board/display.png: the capture (the picture) at 80,60 of the 800x480 panel,"
echo "the clock overlay at its top left and the orange cover at its bottom right;"
echo "play $board/display.y4m (ffplay or mpv) for two seconds of the panel."

step "Wi-Fi: two networks in the board's radio, then ZQ_VBOARD=$board wifi_join Garden 'green leaves'"
"$vboard" wifi "$board" add Garden --passphrase 'green leaves' --signal -48 --channel 11
"$vboard" wifi "$board" add 'Cafe Corner' --signal -71 --channel 1
"$vboard" wifi "$board" list
ZQ_VBOARD="$board" build/release/examples/wifi_join Garden 'green leaves' 2>/dev/null
grep -E ' (wpa_supplicant|wpa_cli|udhcpc) ' "$board/journal" | sed 's/^/  journal: /' | head -n 10
# A listing run starts the module afresh, which ends the station's tools.
ZQ_VBOARD="$board" build/release/examples/wifi_join >/dev/null 2>&1

printf '\nThe board stays in %s; vboard --help tells what else you can do with it.\n' "$board"
