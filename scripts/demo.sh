#!/usr/bin/env bash
# Installs what is missing, builds in Release, and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh release >/dev/null
build/release/tools/tvx_demo
