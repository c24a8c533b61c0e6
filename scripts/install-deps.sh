#!/usr/bin/env bash
# Installs what building and testing need on a Debian machine, with apt-get,
# then the pinned three.js that `tvx --view` pages embed (scripts/fetch-three.sh).
# Idempotent: packages already present are skipped, and apt is not touched
# at all when nothing is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libboost-dev
  libgtest-dev libgmock-dev
  libbenchmark-dev
  libassimp-dev zlib1g-dev assimp-testmodels
  libcli11-dev nlohmann-json3-dev
  libompl-dev libeigen3-dev
  libfcl-dev
  pybind11-dev python3-dev python3-numpy python3-pytest python3-dask python3-distributed
  clang libclang-rt-14-dev
  libgmp-dev
  curl ca-certificates chromium
)
# Extra packages can be asked for by the caller (e.g. the demo).
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: everything is present"
else
  echo "install-deps: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

"$(dirname "$0")/fetch-three.sh"
