#!/usr/bin/env bash
# Checks that the files the README quotes are quoted as they are: each line
#   <!-- quoted from PATH -->
# in README.md must be followed by a fenced code block whose lines are those
# of PATH, all of them and nothing else. Exit status 1 names the first
# difference.
set -euo pipefail
cd "$(dirname "$0")/.."

status=0
quotes=0
while IFS= read -r path; do
  quotes=$((quotes + 1))
  if [ ! -f "$path" ]; then
    echo "README quotes $path, which does not exist" >&2
    status=1
    continue
  fi
  # The block after the marker, without its fences.
  quoted="$(awk -v marker="<!-- quoted from $path -->" '
    $0 == marker { found = 1; next }
    found && !open && /^```/ { open = 1; next }
    open && /^```/ { exit }
    open { print }
  ' README.md)"
  if ! diff -u --label "$path" --label "README.md (quoted $path)" "$path" <(printf '%s\n' "$quoted") >&2; then
    echo "README.md quotes $path differently: paste the file into the README again" >&2
    status=1
  fi
done < <(sed -n 's/^<!-- quoted from \(.*\) -->$/\1/p' README.md)

if [ "$quotes" -eq 0 ]; then
  echo "README.md quotes no file: the markers are missing" >&2
  exit 1
fi
[ $status -ne 0 ] || echo "README.md quotes $quotes file(s) as they are"
exit $status
