#!/usr/bin/env bash
# Every path of the tree that the docs name must exist: README.md and docs/
# are read for words that start with one of the tree's folders (braces as
# in "wifi_scan.{h,cpp}" are expanded, globs must match something). Paths
# under build/ and out/ are made by builds and runs, and are not checked.
set -euo pipefail
cd "$(dirname "$0")/.."
folders='sdk|sim|app|tests|bench|fuzz|examples|scripts|cmake|include|docs|\.ci'
missing=0
while IFS=: read -r doc word; do
  word=${word%[.,:;)]}
  word=${word%[.,:;)]}
  [[ $word =~ ^($folders)/ ]] || continue
  for path in $(eval "echo $word"); do
    if ! compgen -G "$path" >/dev/null; then
      echo "$doc names $path, which the tree does not have"
      missing=1
    fi
  done
done < <(grep -oHE "[A-Za-z0-9_./{},*-]*/[A-Za-z0-9_./{},*-]*" README.md docs/*.md)
exit "$missing"
