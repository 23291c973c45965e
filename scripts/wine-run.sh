#!/usr/bin/env bash
# Runs one Windows program of the Windows build under Wine: the test suite's emulator (CTest runs
# every cross-built test program through it). scripts/test-windows.sh prepares the Wine prefix and
# its persistent server first.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cache=${ORVANTA_WINDOWS_CACHE:-$HOME/.cache/orvanta-windows}
source "$here/scripts/wine-env.sh"
exec wine "$@"
