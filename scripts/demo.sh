#!/usr/bin/env bash
# Sets everything up, builds, and runs the main job on its built-in default.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" release
"$root/build/release/xel_channel_demo" "$@"
