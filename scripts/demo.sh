#!/usr/bin/env bash
# The demo: build, make a fresh virtual board, run an SDK program on it, and
# show what the board saw.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release >/dev/null

board=out/demo-board
rm -rf "$board"
mkdir -p out
vboard=build/release/sim/vboard

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

step "A fresh virtual board"
"$vboard" create "$board"
( cd "$board" && find . -mindepth 1 | sort | sed 's|^\./|  |' )

step "Its hardware and fault knobs: $board/board.json"
cat "$board/board.json"

step "An SDK program on the board: ZQ_VBOARD=$board log_hello"
ZQ_VBOARD="$board" build/release/examples/log_hello

step "What the log driver received: $board/dev/log"
cat "$board/dev/log"

step "The board's journal: vboard journal $board"
"$vboard" journal "$board"

printf '\nThe board stays in %s; vboard --help tells what else you can do with it.\n' "$board"
