#!/usr/bin/env bash
# man_pages_test.sh PAGE...: each manual page formats without a warning and
# has a NAME line that lexgrog (and so whatis and apropos) can read. 77 means
# skipped.
set -euo pipefail
for tool in man lexgrog; do
  command -v $tool >/dev/null || { echo "SKIP: no $tool"; exit 77; }
done
status=0
for page; do
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
    man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    echo "FAIL: $page: $warnings"
    status=1
  fi
  lexgrog "$page" || { echo "FAIL: $page: no NAME line"; status=1; }
done
exit $status
