#!/usr/bin/env bash
# Fetches the three.js drawing library that `tvx ... --view` embeds into the
# pages it writes, from the npm registry, at the version pinned here and
# checked against the registry's published sha512. Only what the pages use is
# unpacked: the minified core module, the orbit controls and the licence, into
# third_party/three/ (ignored by git; CMake embeds it when it is there).
# Idempotent: nothing is fetched when the pinned version is already in place.
set -euo pipefail
cd "$(dirname "$0")/.."

version=0.160.1
# The registry's "integrity" of three-0.160.1.tgz, in hex.
sha512=060976c0f272a43399d6cb40c707d601c2745907fb433969b6cc648d889444fcfe9f99384410cbb2afba7fd63be536319fa6872dc5b3f89366c133975ab41305
url="https://registry.npmjs.org/three/-/three-$version.tgz"
dest=third_party/three
files=(LICENSE build/three.module.min.js examples/jsm/controls/OrbitControls.js)

present=1
[ "$(cat "$dest/VERSION" 2>/dev/null)" = "$version" ] || present=0
for f in "${files[@]}"; do [ -s "$dest/$(basename "$f")" ] || present=0; done
if [ "$present" = 1 ]; then
  echo "fetch-three: three.js $version is in $dest"
  exit 0
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
echo "fetch-three: fetching three.js $version"
curl -sSfL --retry 3 -o "$work/three.tgz" "$url"
if ! echo "$sha512  $work/three.tgz" | sha512sum --check --status; then
  echo "fetch-three: $url does not have the pinned sha512; nothing installed" >&2
  exit 1
fi
tar -xzf "$work/three.tgz" -C "$work" "${files[@]/#/package/}"
rm -rf "$dest"
mkdir -p "$dest"
for f in "${files[@]}"; do cp "$work/package/$f" "$dest/"; done
echo "$version" > "$dest/VERSION"
echo "fetch-three: three.js $version unpacked into $dest"
