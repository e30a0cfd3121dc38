#!/usr/bin/env bash
# Every path of the tree that the docs name must exist: README.md and docs/
# are read for words that start with one of the tree's folders (braces as
# in "wifi_scan.{h,cpp}" are expanded, globs must match something). Paths
# under build/ and out/ are made by builds and runs, and are not checked.
# Bare file names must name a file of the tree.
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
# A file named without its folder ("port_linux.cpp") must be somewhere in the
# tree under that name; the names below are a user's or a build's files.
known=$(git ls-files | sed 's|.*/||'; printf '%s\n' app.c run-zqprovision.sh)
known=$(sort -u <<<"$known")
while IFS=: read -r doc name; do
  if ! grep -qxF "$name" <<<"$known"; then
    echo "$doc names $name, which no file of the tree is called"
    missing=1
  fi
done < <(grep -oHE "(^|[^A-Za-z0-9_./*-])[A-Za-z0-9_-]+\.(h|cpp|c|cmake|sh|json|md)\b" README.md docs/*.md |
  sed -E 's/:[^A-Za-z0-9_-]?/:/' | sort -u)
exit "$missing"
