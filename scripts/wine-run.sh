#!/usr/bin/env bash
# Runs one Windows program of the Windows build under Wine: the test suite's emulator (CTest runs
# every cross-built test program through it). scripts/test-windows.sh prepares the Wine prefix and
# its persistent server first.
#
# Wine tells of a program it could not start (a DLL that did not load) only by the exit status.
# Every program run here writes to its standard output before anything else, so a failure with
# nothing written is Wine's, not the program's: Wine's loader errors are shown, the program is
# started once more, and the restart is listed in $cache/wine-restarts.log, which
# scripts/test-windows.sh prints at its end. A program that fails again fails the test.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cache=${ORVANTA_WINDOWS_CACHE:-$HOME/.cache/orvanta-windows}
source "$here/scripts/wine-env.sh"
export WINEDEBUG=-all,err+module
written=$(mktemp)
trap 'rm -f "$written"' EXIT
for attempt in 1 2; do
  wine "$@" | tee "$written"
  status=${PIPESTATUS[0]}
  if [ "$status" -eq 0 ] || [ -s "$written" ] || [ "$attempt" -eq 2 ]; then
    exit "$status"
  fi
  echo "wine-run: $(basename "$1") $(printf '%q ' "${@:2}")ended with exit status $status" \
    "before writing anything; started once more" | tee -a "$cache/wine-restarts.log" >&2
done
