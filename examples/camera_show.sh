#!/bin/sh
# Shows a picture or a video of yours through the camera pipeline of a
# virtual board, and keeps what the panel made of it:
#   examples/camera_show.sh BOARD [FILE [SECONDS]]
# FILE, a PNG picture or a YUV4MPEG2 video (.y4m, 8-bit 4:2:0), stands
# before input channel 0's sensor (the colour bars without it); camera_demo
# captures it and shows it on the panel with its clock overlay and cover.
# Then BOARD/display.png is the panel as it is, and BOARD/display.y4m
# SECONDS board seconds of it (2 by default), for ffplay or mpv.
# ZQ_BUILD names the build folder (build/release by default).
set -eu
[ $# -ge 1 ] && [ $# -le 3 ] || { echo "usage: $0 BOARD [FILE [SECONDS]]" >&2; exit 2; }
board=$1 file=${2:-bars} seconds=${3:-2}
build=${ZQ_BUILD:-build/release}
"$build/sim/vboard" vi "$board" source 0 "$file"
ZQ_VBOARD="$board" "$build/examples/camera_demo"
"$build/sim/vboard" vo "$board" snapshot "$board/display.png"
"$build/sim/vboard" vo "$board" record "$board/display.y4m" --seconds "$seconds"
