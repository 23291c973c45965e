#!/usr/bin/env bash
# Sets everything up and runs the whole test suite: plain, then under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the channel and threading tests under ThreadSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tests/tsan.supp"
jobs=$(nproc)

for flavour in release asan tsan; do
  echo "=== $flavour: build"
  "$root/scripts/build.sh" "$flavour"
  echo "=== $flavour: test"
  label=()
  [ "$flavour" = tsan ] && label=(-L channel)
  (cd "$root/build/$flavour" && ctest -j "$jobs" --output-on-failure "${label[@]}")
done
echo "=== all test runs passed"
