#!/usr/bin/env bash
# The whole check, as CI runs it on a fresh machine:
#   1. install the dependencies (apt-get, skipped when present);
#   2. build and run the suite in Release, and the tree tests once more with
#      the tree build's SIMD lanes off (scripts/build.sh nosimd);
#   3. build and run the suite under AddressSanitizer + UndefinedBehaviorSanitizer;
#   4. build the batch engine and its tests under ThreadSanitizer and run them;
#   5. install the Release build into a scratch prefix and build the example
#      consumer against it with find_package(tvx) and with pkg-config, then run it,
#      and import the installed Python package;
#   6. run the demo of the README's quick start.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
start=$(date +%s)

scripts/install-deps.sh

echo "== Release build and tests"
scripts/build.sh release
ctest --test-dir build/release --output-on-failure -j2 -LE long

echo "== Tree build without SIMD lanes: the tree tests"
scripts/build.sh nosimd
ctest --test-dir build/nosimd --output-on-failure -j2 -L bvtree -LE long

echo "== Sanitizer build and tests"
scripts/build.sh sanitize
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/sanitize --output-on-failure -j2 -LE long

echo "== Batch engine under ThreadSanitizer"
scripts/build.sh tsan
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan --output-on-failure -j2 -L batch

echo "== Installed package: examples/consumer"
prefix="$root/build/install"
rm -rf "$prefix" build/consumer
cmake --install build/release --prefix "$prefix" >/dev/null
cmake -S examples/consumer -B build/consumer -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release
cmake --build build/consumer -j2
LD_LIBRARY_PATH="$prefix/lib:$prefix/lib/x86_64-linux-gnu${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" build/consumer/consumer
# The same program through pkg-config, as a non-CMake host would build it.
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig:$prefix/lib/x86_64-linux-gnu/pkgconfig"
echo "pkg-config: tvx $(pkg-config --modversion tvx)"
# shellcheck disable=SC2046
g++ -std=c++17 examples/consumer/main.cpp $(pkg-config --cflags --libs tvx) -o build/consumer/consumer-pc
LD_LIBRARY_PATH="$(pkg-config --variable=libdir tvx)" build/consumer/consumer-pc
# The Python package from the prefix alone: its run path finds the libraries.
pydir="$prefix/$(sed -n 's/^TVX_PYTHON_INSTALL_DIR:STRING=//p' build/release/CMakeCache.txt)"
(cd /tmp && PYTHONPATH="$pydir" /usr/bin/python3 -c "
import numpy as np, tvx
assert tvx.__file__.startswith('$pydir'), tvx.__file__
m = tvx.Mesh(np.eye(3), np.array([[0, 1, 2]]))
r = tvx.batch(m, m, np.array([[0.0] * 6, [0, 0, 1, 0, 0, 0]]), type='exact')
assert r.contact.tolist() == [True, False] and abs(r.clearance[1] - 3 ** -0.5) < 1e-6, r  # planes x+y+z = 1 and 2
print('python: tvx imported from', tvx.__file__)")

echo "== The README's demo command (smoke run)"
scripts/demo.sh > build/demo.log
tail -n 3 build/demo.log

echo "== All checks passed in $(( $(date +%s) - start )) s"
