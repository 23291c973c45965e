#!/usr/bin/env bash
# Installs what the benchmarks need, builds the release flavour and runs every benchmark program in
# build/release/bench, then draws their figures beside their peers and bounds as one chart.
# Arguments go to channel_bench, for example --benchmark_filter=Bulk; MESH_BENCH_ARGS (split on
# spaces) goes to mesh_export_bench, for example MESH_BENCH_ARGS=--benchmark_filter=/100000$.
# The results go to build/bench-results (ORVANTA_BENCH_RESULTS to move them): each program's
# output (<program>.txt), Google Benchmark's JSON (<program>.json), channel_bench's summary as JSON
# (channel_summary.json) and the chart, benchmarks.png. Exit code 1 if any program failed (after
# all of them ran, and the chart drawn from what they left).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"  # Boost's message queue, the benchmarks' peer, comes with it
# The chart's plotting library, from Debian.
if ! dpkg-query -W -f='${Status}' python3-matplotlib 2>/dev/null | grep -q 'install ok installed'; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends python3-matplotlib
fi
bash "$root/scripts/build.sh" release
results=${ORVANTA_BENCH_RESULTS:-$root/build/bench-results}
mkdir -p "$results"
results=$(cd "$results" && pwd)
read -r -a mesh_args <<< "${MESH_BENCH_ARGS:-}"
status=0
# The host driver, which mesh_export_bench runs, writes its log file to the current folder.
cd "$results"
for program in "$root"/build/release/bench/*; do
  if [ ! -f "$program" ] || [ ! -x "$program" ]; then
    continue
  fi
  name=$(basename "$program")
  echo "== $name"
  out=(--benchmark_out="$results/$name.json" --benchmark_out_format=json)
  if [ "$name" = channel_bench ]; then
    "$program" "${out[@]}" --summary_json="$results/channel_summary.json" "$@" \
      | tee "$results/$name.txt" || status=1
  else
    "$program" "${out[@]}" "${mesh_args[@]}" | tee "$results/$name.txt" || status=1
  fi
done
/usr/bin/python3 "$root/scripts/bench_chart.py" "$results" "$results/benchmarks.png" || status=1
exit "$status"
