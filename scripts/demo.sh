#!/usr/bin/env bash
# Installs what is missing, builds in Release, and shows the tvx tool at work
# on two meshes of the assimp test models: the tree of one, a query with the
# two in contact and one with them apart, and a sweep of one past the other
# with its clearance plotted to build/demo-sweep.svg.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh release >/dev/null

tvx=build/release/tools/tvx
models=/usr/share/assimp/models
a=$models/OFF/Wuson.off
b=$models/STL/sphereWithHole.stl

# Shows each command as it could be typed, then runs it.
run() {
  local line="tvx" a
  for a in "$@"; do
    case "$a" in *" "*) line+=" \"$a\"" ;; *) line+=" $a" ;; esac
  done
  printf '\n$ %s\n' "$line"
  "$tvx" "$@"
}

# The sphere (3 units across, its corner at the origin) is centred on the
# figure (about 3 units tall) to collide, and moved aside to stand apart.
run info "$a"
run query "$a" "$b" --pose-b "-1.5 -0.75 -1.5 0 0 0"
run query "$a" "$b" --pose-b "1.2 -0.75 -1.5 0 0 0.3" --max-pairs 3
run sweep "$a" "$b" --from "-6 -0.75 -1.5 0 0 0" --to "4 -0.75 -1.5 0 0 3.14" --steps 40 \
  --plot build/demo-sweep.svg
