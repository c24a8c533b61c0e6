#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang's libFuzzer under
# AddressSanitizer + UndefinedBehaviorSanitizer (-> build/fuzz) and runs each
# for a bounded time:
#
#   scripts/fuzz.sh [SECONDS_EACH] [scene|import ...]    (default: 60 s, both)
#
# Corpora grow in build/fuzz/corpus/<target> from one run to the next; seeds
# are written afresh into build/fuzz/seeds/<target> by tvx_fuzz_seeds (our
# test meshes, plus the reader library's sample models when installed, read
# where they lie). Findings land in build/fuzz/findings/<target>/.
#
# The scene target fails the run on any finding. The import target reads
# files in-process with the reader library, which crashes, loops and leaks on
# some damaged files (the tool reads in a child process for that reason); it
# runs in libFuzzer's fork mode, which goes on after such a finding, and each
# finding is then replayed and sorted: a crash or hang whose stack lies in
# the reader library while it reads is counted as the reader's, anything
# else (our own code, a broken promise of the importer, a leak of ours)
# fails the run. Exit status: 0 clean, 1 a finding of ours, 2 bad usage.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

seconds="${1:-60}"
shift || true
case "$seconds" in
  ''|*[!0-9]*) echo "usage: scripts/fuzz.sh [SECONDS_EACH] [scene|import ...]" >&2; exit 2 ;;
esac
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(scene import)

build="$root/build/fuzz"
generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
if command -v ccache >/dev/null 2>&1; then generator+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
CC=clang CXX=clang++ cmake -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTVX_SANITIZE=ON -DTVX_FUZZ=ON -DTVX_WERROR=ON -DTVX_BUILD_TESTS=OFF -DTVX_BUILD_BENCH=OFF -DTVX_BUILD_PYTHON=OFF >/dev/null
cmake --build "$build" -j2 --target tvx_fuzz_scene tvx_fuzz_import tvx_fuzz_seeds

models=()
for d in OBJ STL PLY OFF invalid; do
  [ -d "/usr/share/assimp/models/$d" ] && models+=("/usr/share/assimp/models/$d")
done
rm -rf "$build/seeds"
"$build/tests/fuzz/tvx_fuzz_seeds" "$build/seeds/import" "$build/seeds/scene" "${models[@]}"

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$root/tests/fuzz/import.lsan.supp:print_suppressions=0"
status=0

# One finding replayed: "ours", "reader", "oom" or "gone" (it did not happen
# again: a slow input, say) on standard output.
classify() {
  local bin="$1" input="$2" log
  case "$(basename "$input")" in slow-unit-*) echo gone; return ;; esac
  log="$(timeout 60 "$bin" -timeout=10 -rss_limit_mb=2048 "$input" 2>&1 || true)"
  printf '%s\n' "$log" >"$input.replay"
  if grep -q "ERROR: libFuzzer: out-of-memory" <<<"$log"; then
    echo oom
    return
  fi
  if ! grep -qE "ERROR|runtime error|import fuzz:" <<<"$log"; then
    echo gone
    return
  fi
  # Whose code was running is told by the frames above the reader's entry
  # point (its ReadFile, or the triangulation the importer asks of it once the
  # faces are checked): a finding is the reader's when that entry point is on
  # the stack and no frame above it is ours. A hang is caught wherever the
  # alarm finds it (allocating, comparing, in the maths or C library the
  # reader calls), so the top frame alone misfiles one now and then; one
  # malformed ASCII PLY held the triangulation for over 90 s (the tool's
  # isolated reader stops it at its time limit). The allocator hook of
  # CappedAllocation.cpp only counts bytes for whoever asked.
  local frames above
  frames="$(grep -E '^ +#[0-9]+ 0x' <<<"$log" || true)"
  above="$(awk '/Assimp::Importer::(ReadFile|ApplyPostProcessing)/ { exit } { print }' <<<"$frames")"
  if [ "$above" != "$frames" ] && ! grep -q 'LeakSanitizer' <<<"$log" \
     && ! grep -v 'CappedAllocation\.cpp' <<<"$above" \
          | grep -qE ' in (tvxio::|tvx::|Ctvx|LLVMFuzzerTestOneInput)|/(tools|tvx|tests|batch|qar|wdn)/[^ ]*\.(cpp|h):[0-9]'; then
    echo "reader $(grep -m1 -oE 'libassimp\.so[^ )]*\+0x[0-9a-f]+' <<<"$above" || echo libassimp)"
  else
    echo ours
  fi
}

for target in "${targets[@]}"; do
  bin="$build/tests/fuzz/tvx_fuzz_$target"
  corpus="$build/corpus/$target"
  findings="$build/findings/$target"
  mkdir -p "$corpus" "$findings"
  log="$build/fuzz-$target.log"
  echo "== fuzz $target for $seconds s (corpus $corpus)"
  case "$target" in
    scene)
      if ! nice "$bin" -max_total_time="$seconds" -timeout=10 -max_len=4096 -print_final_stats=1 \
          -artifact_prefix="$findings/" "$corpus" "$build/seeds/scene" >"$log" 2>&1; then
        status=1
        grep -E "ERROR|SUMMARY|scene fuzz:|runtime error" "$log" | head -n 20 >&2 || true
        echo "fuzz scene: a finding, see $log and $findings" >&2
      fi
      ;;
    import)
      nice "$bin" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 -max_total_time="$seconds" \
        -timeout=10 -max_len=65536 -artifact_prefix="$findings/" \
        "$corpus" "$build/seeds/import" >"$log" 2>&1 || true
      # Fork mode prints its progress, not the final statistics.
      grep -E '^#[0-9]+: cov' "$log" | tail -n 1 | sed "s/^/  import last progress: /" || true
      mkdir -p "$findings/reader" "$findings/oom" "$findings/ours" "$findings/gone"
      reader=0 oom=0 ours=0 gone=0 sites=()
      for f in "$findings"/*; do
        [ -f "$f" ] || continue
        read -r kind site < <(classify "$bin" "$f")
        mv "$f" "$f.replay" "$findings/$kind/" 2>/dev/null || mv "$f" "$findings/$kind/"
        case "$kind" in
          reader) reader=$((reader + 1)); sites+=("$site") ;;
          oom) oom=$((oom + 1)) ;;
          gone) gone=$((gone + 1)) ;;
          ours) ours=$((ours + 1)); echo "fuzz import: a finding of ours: $findings/ours/$(basename "$f")" >&2 ;;
        esac
      done
      distinct=0
      [ ${#sites[@]} -eq 0 ] || distinct="$(printf '%s\n' "${sites[@]}" | sort -u | wc -l)"
      echo "  import findings: $reader in the reader library ($distinct places in it), $oom out of memory," \
           "$gone not again, $ours of ours"
      [ "$ours" -eq 0 ] || status=1
      ;;
    *) echo "scripts/fuzz.sh: unknown target $target" >&2; exit 2 ;;
  esac
  grep -E "^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)" "$log" \
    | sed "s/^/  $target /" || true
  echo "  $target corpus: $(ls "$corpus" | wc -l) inputs"
done
exit $status
