#!/usr/bin/env bash
# The whole check, as CI runs it on a fresh machine:
#   1. install the dependencies (apt-get, skipped when present);
#   2. build and run the suite in Release, and the tree tests once more with
#      the tree build's SIMD lanes off (scripts/build.sh nosimd);
#   3. build and run the suite under AddressSanitizer + UndefinedBehaviorSanitizer;
#   4. build the batch engine and its tests under ThreadSanitizer and run them;
#   5. install the Release build into a scratch prefix and build the example
#      consumer against it with find_package(tvx) and with pkg-config, then run
#      it without LD_LIBRARY_PATH, also after moving the prefix, and import the
#      installed Python package; check that the README quotes the example as
#      it is;
#   6. build the fuzz targets with clang under the sanitizers and run each
#      for a short while;
#   7. run the demo of the README's quick start;
#   8. open the --view pages of the demo in headless Chromium and check what
#      they draw (scripts/check-view.sh).
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

# ---- installed package (begin) ----------------------------------------------
# Hosts built against the installed package must start without
# LD_LIBRARY_PATH, which is removed from the environment of every run below.
echo "== Installed package: examples/consumer, without LD_LIBRARY_PATH"
prefix="$root/build/install"
rm -rf "$prefix" "$prefix-moved" build/consumer
mkdir -p build/consumer
cmake --install build/release --prefix "$prefix" >/dev/null
# Headers under an internal/ folder are the library's own, never installed.
if [ -n "$(find "$prefix/include" -path '*/internal/*')" ]; then
  echo "internal headers installed:" >&2
  find "$prefix/include" -path '*/internal/*' >&2
  exit 1
fi
cmake -S examples/consumer -B build/consumer -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release
cmake --build build/consumer -j2
env -u LD_LIBRARY_PATH build/consumer/consumer
# The same program through pkg-config, as a non-CMake host builds it: with
# its own run path to the libraries it calls, and --as-needed, as several
# distributions link by default, so that libwdn is not the host's dependency
# but libtvx's, found through libtvx's own run path.
pc_path() { echo "$1/lib/pkgconfig:$1/lib/x86_64-linux-gnu/pkgconfig"; }
echo "pkg-config: tvx $(PKG_CONFIG_PATH="$(pc_path "$prefix")" pkg-config --modversion tvx)"
build_pc_consumer() {
  local pcp libdir
  pcp="$(pc_path "$1")"
  libdir="$(PKG_CONFIG_PATH="$pcp" pkg-config --variable=libdir tvx)"
  # shellcheck disable=SC2046
  g++ -std=c++17 -Wl,--as-needed examples/consumer/main.cpp $(PKG_CONFIG_PATH="$pcp" pkg-config --cflags --libs tvx) \
    -Wl,-rpath,"$libdir" -o "$2"
}
build_pc_consumer "$prefix" build/consumer/consumer-pc
env -u LD_LIBRARY_PATH build/consumer/consumer-pc
# The Python package from the prefix alone: its run path finds the libraries.
python_from() {
  local pydir
  pydir="$1/$(sed -n 's/^TVX_PYTHON_INSTALL_DIR:STRING=//p' build/release/CMakeCache.txt)"
  (cd /tmp && env -u LD_LIBRARY_PATH PYTHONPATH="$pydir" /usr/bin/python3 -c "
import numpy as np, tvx
assert tvx.__file__.startswith('$pydir'), tvx.__file__
m = tvx.Mesh(np.eye(3), np.array([[0, 1, 2]]))
r = tvx.batch(m, m, np.array([[0.0] * 6, [0, 0, 1, 0, 0, 0]]), type='exact')
assert r.contact.tolist() == [True, False] and abs(r.clearance[1] - 3 ** -0.5) < 1e-6, r  # planes x+y+z = 1 and 2
print('python: tvx imported from', tvx.__file__)")
}
python_from "$prefix"
# The installed tree moved as a whole: the libraries and the tool find one
# another where they now are, and the pkg-config file follows its folder.
mv "$prefix" "$prefix-moved"
moved_libdir="$(PKG_CONFIG_PATH="$(pc_path "$prefix-moved")" pkg-config --variable=libdir tvx)"
for lib in "$moved_libdir"/lib*.so "$prefix-moved"/bin/*; do
  if env -u LD_LIBRARY_PATH ldd "$lib" | grep "not found"; then
    echo "installed $lib does not find its libraries" >&2
    exit 1
  fi
done
build_pc_consumer "$prefix-moved" build/consumer/consumer-moved
env -u LD_LIBRARY_PATH build/consumer/consumer-moved >/dev/null
env -u LD_LIBRARY_PATH "$prefix-moved/bin/tvx" --help >/dev/null
python_from "$prefix-moved" >/dev/null
echo "installed tree moved: libraries, tool, Python package and host still start"
echo "== The README quotes examples/consumer/main.cpp as it is"
scripts/check-readme-quotes.sh
# ---- installed package (end) ------------------------------------------------

# ---- fuzzing (begin) ----------------------------------------------------------
# A short run of each fuzz target under the sanitizers (scripts/fuzz.sh):
# a finding of ours fails the check.
echo "== Fuzz targets, 30 s each"
scripts/fuzz.sh 30
# ---- fuzzing (end) ------------------------------------------------------------

echo "== The README's demo command (smoke run)"
scripts/demo.sh > build/demo.log
tail -n 3 build/demo.log

echo "== The --view pages in a browser"
scripts/check-view.sh

echo "== All checks passed in $(( $(date +%s) - start )) s"
