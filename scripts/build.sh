#!/usr/bin/env bash
# Configures and builds one flavour into build/<flavour>: release, asan (AddressSanitizer with
# UndefinedBehaviorSanitizer) or tsan (ThreadSanitizer).
set -euo pipefail
flavour=${1:-release}
root=$(cd "$(dirname "$0")/.." && pwd)
case "$flavour" in
  release) extra=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan) extra=(-DCMAKE_BUILD_TYPE=Debug -DXEL_SANITIZE=address,undefined -DXEL_BUILD_BENCH=OFF) ;;
  tsan) extra=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DXEL_SANITIZE=thread -DXEL_BUILD_BENCH=OFF) ;;
  *) echo "unknown flavour $flavour" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$root/build/$flavour" "${extra[@]}" >/dev/null
cmake --build "$root/build/$flavour" -j "$(nproc)"
