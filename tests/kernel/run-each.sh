#!/bin/sh
# Runs every test of a GoogleTest program in a process of its own, on the
# guest, and ends with a summary line and a failure status when one failed.
#   sh run-each.sh PROGRAM [ARGS...]
# ZQ_KERNEL_TESTS, an extended regular expression, picks tests by name.
program=./$1
shift
passed=0
failed=
tests=$("$program" --gtest_list_tests | awk '/^[^ ]/ {suite = $1} /^  / {print suite $1}' |
  grep -E "${ZQ_KERNEL_TESTS:-.}")
[ -n "$tests" ] || { echo "run-each: $program lists no tests"; exit 1; }
started=$(date +%s)
for test in $tests; do
  if "$program" --gtest_color=no --gtest_filter="$test" "$@"; then
    passed=$((passed + 1))
  else
    failed="$failed $test"
  fi
done
count=$(echo $failed | wc -w)
echo "run-each: $program: $passed passed, $count failed, $(($(date +%s) - started)) s"
for test in $failed; do echo "run-each: FAILED $test"; done
[ -z "$failed" ]
