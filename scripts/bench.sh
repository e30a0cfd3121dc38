#!/usr/bin/env bash
# Runs every benchmark of the release build.
set -euo pipefail
cd "$(dirname "$0")/.."
for b in build/release/bench/*_bench; do
  echo "== $(basename "$b")"
  "$b" --benchmark_min_time=0.2
done
