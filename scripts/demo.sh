#!/usr/bin/env bash
# Sets everything up, builds, and runs the main job: the host driver, which loads the plug-in as
# the host does, lets it start the render window, exports its built-in model to it, compares the
# two sides' scene digests and prints what crossed. Arguments go to the driver
# (orvanta_host_driver --help; --edits adds an edit session).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" release
"$root/build/release/tools/orvanta_host_driver" "$@"
