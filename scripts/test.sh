#!/usr/bin/env bash
# Sets everything up and runs the whole test suite: plain, then under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the channel, threading and end-to-end tests under
# ThreadSanitizer (the end-to-end tests run the plug-in, the render window and the host driver built
# with it, each in its own process), then the fuzz step: the libFuzzer targets replay their seed and
# regression inputs, and each fuzzes for 15 s; last the Windows build, cross-built with mingw-w64,
# and its tests under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tests/tsan.supp"
jobs=$(nproc)
# Each stage's heading, with the minutes and seconds since the start.
stage() { printf '=== %s (at %dm%02ds)\n' "$1" $((SECONDS / 60)) $((SECONDS % 60)); }

for flavour in release asan tsan; do
  stage "$flavour: build"
  "$root/scripts/build.sh" "$flavour"
  stage "$flavour: test"
  label=()
  [ "$flavour" = tsan ] && label=(-L "channel|threading|e2e")
  (cd "$root/build/$flavour" && ctest -j "$jobs" --output-on-failure "${label[@]}")
  if [ "$flavour" = release ]; then
    stage "release: install, and build an outside program against the installed package"
    rm -rf "$root/build/install" "$root/build/consumer"
    cmake --install "$root/build/release" --prefix "$root/build/install" >/dev/null
    cmake -S "$root/tests/package_consumer" -B "$root/build/consumer" \
      -DCMAKE_PREFIX_PATH="$root/build/install" >/dev/null
    cmake --build "$root/build/consumer"
    LD_LIBRARY_PATH="$root/build/install/lib" "$root/build/consumer/tiny_render_window"
  fi
done
stage "fuzz: build"
"$root/scripts/build.sh" fuzz
stage "fuzz: replay the seed and regression inputs"
(cd "$root/build/fuzz" && ctest -j "$jobs" --output-on-failure -L fuzz)
stage "fuzz: fuzz each target"
"$root/scripts/fuzz.sh" 15
stage "windows: cross-build, then the tests under Wine"
"$root/scripts/build-windows.sh"
"$root/scripts/test-windows.sh"
stage "all test runs passed"
