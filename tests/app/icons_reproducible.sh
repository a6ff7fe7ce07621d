#!/usr/bin/env bash
# Runs the icon generator into a scratch folder and compares every file it
# writes with the committed one in res/.
set -euo pipefail
python=$1 source=$2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$python" "$source/tools/make_icons.py" "$out"
status=0
while IFS= read -r -d '' file; do
  name=${file#"$out"/}
  if ! cmp -s "$file" "$source/res/$name"; then
    echo "res/$name differs from what tools/make_icons.py makes" >&2
    status=1
  fi
done < <(find "$out" -type f -print0)
exit $status
