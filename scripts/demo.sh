#!/usr/bin/env bash
# Sets everything up, builds, and runs the main job: the host driver, which loads the plug-in as
# the host does, lets it start the render window, exports its built-in model to it, compares the
# two sides' scene digests and sums up what crossed. Arguments go to the driver
# (orvanta_host_driver --help): --edits adds an edit session, --hold keeps the render window up
# (--edit-pause MS paces the edits), --verbose shows every detail and the render window's message
# log, which the driver's log file always holds. The set-up and the build show one line each, their
# output in build/demo-setup.log and build/demo-build.log (shown as it comes with --verbose, and
# its end after a failure).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
verbose=0
for argument in "$@"; do
  if [ "$argument" = --verbose ]; then
    verbose=1
  fi
done
mkdir -p "$root/build"

# Runs the command after $1 (what it does) and $2 (its log file) as one line of output.
run_step() {
  local what=$1 log=$2
  shift 2
  if [ "$verbose" = 1 ]; then
    "$@" 2>&1 | tee "$log"
    return
  fi
  printf '%s (log: %s) ... ' "$what" "$log"
  if "$@" >"$log" 2>&1; then
    echo done
  else
    echo FAILED
    tail -n 30 "$log" >&2
    exit 1
  fi
}

run_step "setting up" "$root/build/demo-setup.log" bash "$root/scripts/setup.sh"
run_step "building the release flavour" "$root/build/demo-build.log" \
  bash "$root/scripts/build.sh" release
"$root/build/release/tools/orvanta_host_driver" "$@"
