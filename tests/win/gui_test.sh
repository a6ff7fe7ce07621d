#!/usr/bin/env bash
# The real Norvane.exe under Wine, driven through X with the keyboard and the
# mouse as a person would, its boxes read back with peek.exe (WM_GETTEXT).
# Runs inside in-xvfb.sh: a private network namespace with its own Xvfb.
#
#   gui_test.sh NORVANE_EXE PEEK_EXE OUI_IEEE [SCREENSHOT.xwd]
set -uo pipefail

exe=$1 peek_exe=$2 table=$3 screenshot=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
caption="        Norvane v1.0"
box_title="ERROR: Can't Find File"
# Control ids: 100 + the control's place in the layout table.
txtIP=104 cmdRetreive=105 txtMAC=107 txtVendor=109
error_text="Error: Gagal memanggil SendARP()"
prompt_text="Sila masukkan IP!"

work=$(mktemp -d /tmp/norvane-gui.XXXXXX)
pid=
finish() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  rm -rf "$work"
}
trap finish EXIT

failures=0
check() {  # what expected actual
  if [ "$2" == "$3" ]; then
    echo "ok   $1"
  else
    echo "FAIL $1: expected [$2], got [$3]"
    failures=$((failures + 1))
  fi
}

wine_run() { "$here/wine-run.sh" "$@"; }
peek() { wine_run "$peek_exe" "$1" >"$work/peek" 2>/dev/null; }
field() {  # the last peek's TEXT of control id $1, or "focus" / "client"
  case $1 in
    focus) awk -F'\t' '$1 == "focus" { print $2 }' "$work/peek" ;;
    client) awk -F'\t' '$1 == "client" { print $2 "x" $3 }' "$work/peek" ;;
    *) awk -F'\t' -v id="$1" '$1 == "child" && $2 == id { print $9 }' "$work/peek" ;;
  esac
}
# Polls until field $1 of the main window reads $2 (input is handled
# asynchronously), then checks it.
expect() {  # what field expected
  local got=
  for _ in $(seq 1 20); do
    peek "$caption" && got=$(field "$2") && [ "$got" == "$3" ] && break
    sleep 0.2
  done
  check "$1" "$3" "$got"
}
last_click=0
click() {  # the middle of control id $1, with the mouse
  peek "$caption"
  read -r x y < <(awk -F'\t' -v id="$1" \
    '$1 == "child" && $2 == id { print int(($5 + $7) / 2), int(($6 + $8) / 2) }' "$work/peek")
  # Two clicks on one spot within the double-click time make a double click,
  # which selects a word but does not move the focus: pause as a person would.
  local wait_ms=$(((last_click + 600000000 - $(date +%s%N)) / 1000000))
  [ "$wait_ms" -gt 0 ] && sleep "0.$(printf %03d "$wait_ms")"
  xdotool mousemove "$x" "$y" click 1
  last_click=$(date +%s%N)
}
replace_ip() {  # types $1 over whatever txtIP holds
  click $txtIP
  xdotool key --delay 20 End shift+Home BackSpace
  [ -n "$1" ] && xdotool type --delay 20 -- "$1"
  expect "txtIP takes the typing" $txtIP "$1"
}
press_button() {  # from txtIP with Tab, or where the focus is, with Space
  peek "$caption"
  [ "$(field focus)" == $txtIP ] && xdotool key Tab
  expect "the focus is on cmdRetreive" focus $cmdRetreive
  xdotool key space
}

# --- no table: its box, no window, a non-zero status after OK --------------
mkdir "$work/bare"
cp "$exe" "$work/bare/Norvane.exe"
wine_run "$work/bare/Norvane.exe" &
pid=$!
box=$(timeout 30 xdotool search --sync --name "^$box_title\$" | head -n 1)
check "the missing-table box appears" yes "$([ -n "$box" ] && echo yes)"
check "no main window behind it" "" "$(xdotool search --name "Norvane v1.0" 2>/dev/null)"
peek "$box_title"
check "its text" yes "$(grep -q $'\tCritical Error! oui.ieee not found!$' "$work/peek" && echo yes)"
check "its one button is OK" "1 OK" "$(awk -F'\t' '$3 == "Button" { print $2, $9 }' "$work/peek")"
icon=
while IFS=$'\t' read -r kind _ class style _; do
  [ "$kind" == child ] && [ "$class" == Static ] && (((0x$style & 0x1f) == 3)) && icon=yes  # SS_ICON
done <"$work/peek"
check "its icon is shown" yes "$icon"
xdotool windowfocus --sync "$box" && xdotool key Return
status=0
timeout 20 tail --pid="$pid" -f /dev/null
wait "$pid" || status=$?
pid=
check "OK ends the program with status 2" 2 "$status"

# --- the window -----------------------------------------------------------
mkdir "$work/app"
cp "$exe" "$work/app/Norvane.exe"
cp "$table" "$work/app/oui.ieee"
wine_run "$work/app/Norvane.exe" &
pid=$!
window=$(timeout 30 xdotool search --sync --name "^$caption\$" | head -n 1)
check "the window appears by its caption" yes "$([ -n "$window" ] && echo yes)"
xdotool windowfocus --sync "$window"
peek "$caption"
check "client area" 271x197 "$(field client)"
check "txtIP starts with an address" 192.168.0.1 "$(field $txtIP)"
check "txtMAC starts empty" "" "$(field $txtMAC)"
check "the focus starts in txtIP" $txtIP "$(field focus)"

# Tab order: the four controls that take the focus, round and back.
for next in $cmdRetreive $txtMAC $txtVendor $txtIP; do
  xdotool key Tab
  expect "Tab reaches $next" focus $next
done
xdotool key shift+Tab
expect "Shift+Tab goes back to txtVendor" focus $txtVendor

# A query: Wine's SendARP always fails, so the error text and no vendor.
replace_ip 198.51.100.7
click $cmdRetreive
expect "a failed query shows the error text" $txtMAC "$error_text"
expect "and no vendor" $txtVendor ""
expect "txtIP keeps the address" $txtIP 198.51.100.7

# Read-only boxes refuse typing but keep the focus and their text.
for box_id in $txtMAC $txtVendor; do
  before=$( peek "$caption"; field $box_id)
  click $box_id
  xdotool key --delay 20 x y z BackSpace Delete ctrl+x ctrl+v
  expect "read-only box $box_id takes the focus" focus $box_id
  expect "read-only box $box_id refuses typing" $box_id "$before"
done

# ... and their text can still be selected and copied.
click $txtMAC
xdotool key --delay 20 End shift+Home ctrl+c
sleep 0.5
check "txtMAC's text can be copied" "$error_text" \
  "$(timeout 5 xclip -o -selection clipboard 2>/dev/null)"

# Missing input: the prompt in txtIP, empty results, and again unedited.
replace_ip ""
press_button
expect "an empty address gets the prompt" $txtIP "$prompt_text"
expect "txtMAC emptied" $txtMAC ""
expect "txtVendor emptied" $txtVendor ""
press_button
expect "the prompt is not sent to the query" $txtMAC ""
expect "the prompt stays" $txtIP "$prompt_text"

# Only the exact prompt counts: other case, and blanks, are queried.
for text in "sila masukkan ip!" "   "; do
  replace_ip "$text"
  press_button
  expect "[$text] is sent to the query" $txtMAC "$error_text"
  replace_ip ""
  press_button
  expect "prompt again" $txtMAC ""
done

# Enter and Esc press nothing, in txtIP or anywhere else.
replace_ip 198.51.100.9
xdotool key Return Escape
click $txtMAC
xdotool key Return Escape
click $txtVendor
xdotool key Return Escape
sleep 0.5
expect "Enter and Esc make no query" $txtMAC ""
check "and leave the window open" yes "$(xdotool search --name "^$caption\$" >/dev/null && echo yes)"

if [ -n "$screenshot" ]; then
  replace_ip 198.51.100.7
  click $cmdRetreive
  expect "screenshot state" $txtMAC "$error_text"
  xwd -root -silent >"$screenshot" && echo "screenshot: $screenshot"
fi

# Closing the window ends the program normally.
xdotool windowfocus --sync "$window" && xdotool key alt+F4
status=0
timeout 20 tail --pid="$pid" -f /dev/null
wait "$pid" || status=$?
pid=
check "closing the window ends the program with status 0" 0 "$status"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
