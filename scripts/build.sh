#!/usr/bin/env bash
# Configures and builds one flavour into build/<flavour>: release, asan (AddressSanitizer with
# UndefinedBehaviorSanitizer), tsan (ThreadSanitizer) or fuzz (clang: the libFuzzer programs of
# tests/fuzz under AddressSanitizer with UndefinedBehaviorSanitizer, and what they need only).
set -euo pipefail
flavour=${1:-release}
targets=()
root=$(cd "$(dirname "$0")/.." && pwd)
case "$flavour" in
  release) extra=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan) extra=(-DCMAKE_BUILD_TYPE=Debug -DXEL_SANITIZE=address,undefined -DXEL_BUILD_BENCH=OFF) ;;
  tsan) extra=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DXEL_SANITIZE=thread -DXEL_BUILD_BENCH=OFF) ;;
  fuzz)
    export CXX=clang++
    extra=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DXEL_SANITIZE=address,undefined -DXEL_BUILD_FUZZ=ON
      -DXEL_BUILD_BENCH=OFF)
    # The fuzz targets, and the peer program whose sweep the replay tests' clean-up runs.
    targets=(--target xel_fuzz_targets xel_test_peer)
    ;;
  *) echo "unknown flavour $flavour" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$root/build/$flavour" "${extra[@]}" >/dev/null
cmake --build "$root/build/$flavour" -j "$(nproc)" "${targets[@]}"
