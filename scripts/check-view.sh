#!/usr/bin/env bash
# The --view pages end to end, in a real browser: writes the README demo's
# query page, its sweep page and the plan demo's page with the built tool,
# opens each in headless Chromium (WebGL drawn by its software renderer),
# and checks that
#   - the page says it drew its first frame, and the console holds nothing
#     else (no error, no warning of the drawing library);
#   - the screenshot shows each mesh in its colour, and the contact red;
#   - without WebGL the page says so instead of staying blank.
# Screenshots are left in build/view-check/. Run by scripts/test.sh.
#   scripts/check-view.sh [path/to/tvx]
set -euo pipefail
cd "$(dirname "$0")/.."

tvx="${1:-build/release/tools/tvx}"
out=build/view-check
models=/usr/share/assimp/models
a=$models/OFF/Wuson.off
b=$models/STL/sphereWithHole.stl
rm -rf "$out"
mkdir -p "$out/profile"
browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
  echo "check-view: no chromium (scripts/install-deps.sh installs it)" >&2
  exit 1
fi

"$tvx" query "$a" "$b" --pose-b "-1.5 -0.75 -1.5 0 0 0" --view "$out/query.html" >/dev/null
"$tvx" sweep "$a" "$b" --from "-6 -0.75 -1.5 0 0 0" --to "4 -0.75 -1.5 0 0 3.14" --steps 40 \
  --view "$out/sweep.html" >/dev/null
"$tvx" plan --demo --optimize --view "$out/plan.html" >/dev/null

# chromium PAGE OUT [flags]: a screenshot (or what --dump-dom prints) in OUT,
# the browser's log in OUT.log. The virtual time budget lets the page's
# asynchronous start (decoding the arrays, loading the modules) finish before
# the picture is taken.
run_browser() {
  local page="$1" shot="$2"
  shift 2
  timeout 120 "$browser" --headless --no-sandbox --use-angle=swiftshader --enable-unsafe-swiftshader \
    --user-data-dir="$out/profile" --window-size=1200,700 --hide-scrollbars --enable-logging=stderr \
    --virtual-time-budget=15000 "$@" "file://$(pwd)/$page" 2>"$shot.log"
}

# Every console line of the page is one of its own "tvx-view:" lines, and
# one of them is the expected one. The software renderer's performance note
# on a pixel read-back (the screenshot's, on a loaded machine) is the
# browser's, not the page's: it says nothing of what was drawn.
check_console() {
  local log="$1" expected="$2" console
  console=$(grep -E ':CONSOLE[:(]' "$log" | grep -v 'GPU stall due to ReadPixels' |
    sed -E 's/^.*:CONSOLE[^"]*"//' || true)
  if echo "$console" | grep -v '^tvx-view: ' | grep -q .; then
    echo "check-view: $log: console messages other than the page's own:" >&2
    echo "$console" | grep -v '^tvx-view: ' >&2
    return 1
  fi
  if ! echo "$console" | grep -q "^tvx-view: $expected"; then
    echo "check-view: $log: the page did not say 'tvx-view: $expected'; it said:" >&2
    echo "$console" >&2
    return 1
  fi
  echo "$console" | grep "^tvx-view: $expected" | sed 's/^/  /; s/", source.*$//'
}

# check PAGE REGION COLOUR...: the screenshot of the page, then its pixels
# inside REGION (x0,y0,x1,y1; the panel sits at the top left, a sweep's
# slider and plot at the bottom).
check() {
  local page="$1" region="$2"
  shift 2
  echo "check-view: $page"
  run_browser "$page" "${page%.html}.png" --screenshot="${page%.html}.png"
  check_console "${page%.html}.png.log" "drawn"
  scripts/view-pixels.py "${page%.html}.png" --region "$region" "$@"
}

check "$out/query.html" 380,0,1200,700 A=#3d7fd9:2000 B=#2fa35a:2000 contact=#ff0000:30
check "$out/sweep.html" 380,0,1200,540 A=#3d7fd9:2000 B=#2fa35a:2000 contact=#ff0000:30
check "$out/plan.html" 380,0,1200,700 obstacle=#3d7fd9:2000 robot=#2fa35a:1000 path=#e07b00:100

echo "check-view: $out/query.html without WebGL"
run_browser "$out/query.html" "$out/no-webgl.html" --disable-3d-apis --dump-dom >"$out/no-webgl.html"
check_console "$out/no-webgl.html.log" "no WebGL"
grep -q 'data-tvx-view="no-webgl"' "$out/no-webgl.html"
grep -q 'This page draws the scene in 3D with WebGL, which this browser does not offer here' "$out/no-webgl.html"
echo "check-view: the pages drew in the browser, and said so without WebGL"
