#!/usr/bin/env bash
# The icon generator makes exactly the committed files in res/.
set -euo pipefail
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$1" "$2/tools/make_icons.py" "$out"
cd "$out"
find . -type f | while read -r f; do cmp "$f" "$2/res/$f"; done
