#!/usr/bin/env bash
# Configures and builds one flavour of the project.
#   scripts/build.sh release    -> build/release   (optimised, warnings are errors)
#   scripts/build.sh sanitize   -> build/sanitize  (ASan + UBSan, debug info)
#   scripts/build.sh nosimd     -> build/nosimd    (optimised, the tree build's
#                                  lanes as plain arrays; only the tree tests)
#   scripts/build.sh tsan       -> build/tsan      (ThreadSanitizer; the batch engine's tests only)
# Extra arguments are passed on to cmake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."

flavour="${1:-release}"
shift || true
targets=()
case "$flavour" in
  release)  opts=(-DCMAKE_BUILD_TYPE=Release) ;;
  sanitize) opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTVX_SANITIZE=ON -DTVX_BUILD_BENCH=OFF) ;;
  nosimd)   opts=(-DCMAKE_BUILD_TYPE=Release -DTVX_SIMD=OFF -DTVX_BUILD_BENCH=OFF -DTVX_BUILD_TOOLS=OFF)
            targets=(--target tvx_test_bvtree) ;;
  tsan)     opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTVX_SANITIZE_THREAD=ON -DTVX_BUILD_BENCH=OFF
                  -DTVX_BUILD_TOOLS=OFF -DTVX_BUILD_PYTHON=OFF)
            targets=(--target tvx_test_batch) ;;
  *) echo "usage: scripts/build.sh release|sanitize|nosimd|tsan [cmake options]" >&2; exit 2 ;;
esac

generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
# A compiler cache, where the machine has one, shares objects between
# builds of several checkouts; CI machines have none and build plainly.
if command -v ccache >/dev/null 2>&1; then generator+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi

cmake -S . -B "build/$flavour" "${generator[@]}" -DTVX_WERROR=ON "${opts[@]}" "$@"
cmake --build "build/$flavour" -j2 "${targets[@]}"
