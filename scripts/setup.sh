#!/usr/bin/env bash
# Installs what building and testing need on Debian 12. Safe to run again.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
packages=(build-essential cmake qtbase5-dev libgtest-dev libgmock-dev libbenchmark-dev libboost-dev
  libxxhash-dev libassimp-dev assimp-testmodels qt5-image-formats-plugins clang libclang-rt-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
