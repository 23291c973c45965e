#!/usr/bin/env bash
# Sets everything up, builds, and runs the main job: the host driver, which loads the plug-in as
# the host does, lets it start the render window, drives a short session and prints what crossed.
# Arguments go to the driver (orvanta_host_driver --help).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" release
"$root/build/release/tools/orvanta_host_driver" "$@"
