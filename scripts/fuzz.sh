#!/usr/bin/env bash
# Fuzzes each target of the fuzz flavour (scripts/build.sh fuzz) for a bounded time:
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]     (15 s, every target, by default)
# Each starts from a scratch copy of its seed corpus, tests/fuzz/corpus/<target>/, plus its
# regression inputs, tests/fuzz/regressions/<target>/. A crash, a failed property, a hang of 10 s
# or an allocation past the limits fails the script; the input is kept in
# build/fuzz/fuzz_findings/<target>/ and, once fixed, belongs in the regressions folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/fuzz"
seconds=${1:-15}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(catalogue_decoder channel_drain receiver_dispatch sender_dispatch)

status=0
for target in "${targets[@]}"; do
  program="$build/tests/fuzz/fuzz_$target"
  scratch="$build/fuzz_scratch/$target"
  findings="$build/fuzz_findings/$target"
  log="$build/fuzz_$target.log"
  rm -rf "$scratch" "$findings"
  mkdir -p "$scratch" "$findings"
  cp "$root/tests/fuzz/corpus/$target/"* "$scratch/"
  if [ -d "$root/tests/fuzz/regressions/$target" ]; then
    cp "$root/tests/fuzz/regressions/$target/"* "$scratch/"
  fi
  echo "--- $target: ${seconds} s"
  if "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=128 \
      -print_final_stats=1 -artifact_prefix="$findings/" "$scratch" >"$log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^Done' "$log" || true
  else
    tail -n 60 "$log"
    echo "$target failed; its input is in $findings (whole log: $log)"
    status=1
  fi
  # The channel objects of a target that ended without its clean-up.
  "$build/tests/xel_test_peer" sweep >/dev/null
done
exit $status
