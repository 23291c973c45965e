#!/usr/bin/env bash
# Installs what the benchmarks need, builds the release flavour and runs every benchmark program in
# build/release/bench. Arguments go to channel_bench, for example --benchmark_filter=Bulk or
# --summary_json=PATH. Exit code 1 if any program failed (after all of them ran).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"  # Boost's message queue, the benchmarks' peer, comes with it
bash "$root/scripts/build.sh" release
status=0
for program in "$root"/build/release/bench/*; do
  if [ ! -f "$program" ] || [ ! -x "$program" ]; then
    continue
  fi
  echo "== $(basename "$program")"
  if [ "$(basename "$program")" = channel_bench ]; then
    "$program" "$@" || status=1
  else
    "$program" || status=1
  fi
done
exit "$status"
