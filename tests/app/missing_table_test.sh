#!/usr/bin/env bash
# Starts the installed program without its vendor table: the error box must
# appear by its title with no main window, and OK must end the program with
# status 2. No address is ever queried.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
build=$1

install_build "$build"
rm "$work/prefix/lib/norvane/oui.ieee"
start_xvfb

"$work/prefix/bin/norvane" >"$work/norvane.log" 2>&1 &
program=$!
pids+=("$program")

box=$(wait_window "ERROR: Can't Find File")
if xdotool search --onlyvisible --name "Norvane v1.0" >/dev/null; then
  fail "the main window appeared although the table is missing"
fi

xdotool windowfocus --sync "$box"
xdotool key Return
status=0
timeout 30 tail --pid="$program" -f /dev/null || fail "the program did not end after OK"
wait "$program" || status=$?
# The vendor table's exit status for a table that could not be loaded.
[ "$status" -eq 2 ] ||
  { cat "$work/norvane.log"; fail "the program ended with status $status, expected 2"; }
echo "error box shown, program ended with status $status after OK"
