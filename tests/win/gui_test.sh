#!/usr/bin/env bash
# The real Norvane.exe under Wine, driven through X as a person would, its
# boxes read with peek.exe (WM_GETTEXT). Runs inside in-xvfb.sh.
#   gui_test.sh NORVANE_EXE PEEK_EXE OUI_IEEE [SCREENSHOT.xwd]
set -uo pipefail
exe=$1 peek_exe=$2 table=$3 screenshot=${4:-}
run=$(dirname "$0")/wine-run.sh
source "$(dirname "$0")/../common/x11.sh"
caption="        Norvane v1.0" box_title="ERROR: Can't Find File"
Image1=100 txtIP=104 cmdRetreive=105 txtMAC=107 txtVendor=109 # 100 + place in the layout
error="Error: Gagal memanggil SendARP()" prompt="Sila masukkan IP!"
work=$(mktemp -d /tmp/norvane-gui.XXXXXX) pid='' failures=0 last_click=''
trap '[ -z "$pid" ] || kill $pid 2>/dev/null; rm -rf "$work"' EXIT

check() { # what expected actual
  [ "$2" == "$3" ] || { echo "FAIL $1: expected [$2], got [$3]"; failures=$((failures + 1)); }
}
die() { echo "FAIL $*"; exit 1; }
peek() { "$run" "$peek_exe" "${1:-$caption}" >"$work/peek" 2>/dev/null; }
field() { # the last peek's focus, client (WxH) or text of a control id
  awk -F'\t' -v k="$1" '$1 == k { print $2 ($3 == "" ? "" : "x" $3) } $1 == "child" && $2 == k { print $9 }' "$work/peek"
}
start() { # exe caption: starts the program, waits for its window
  # Wine's trace of the accessibility layer's calls goes to $work/trace.
  WINEDEBUG=-all,fixme+oleacc "$run" "$1" 2>"$work/trace" &
  pid=$!
  window=$(wait_window 60 --onlyvisible --name "^$2\$")
  [ -n "$window" ] || die "no window [$2] among: $(xdotool search --name . getwindowname %@ 2>&1 | tr "\n" ,)"
}
expect() { # what field expected: polls, as input is handled asynchronously
  # (up to 30 s: a busy machine is slow, never wrong)
  for _ in $(seq 150); do peek && [ "$(field "$2")" == "$3" ] && break || sleep 0.2; done
  check "$1" "$3" "$(field "$2")"
}
ended() { # what status: waits for the program to end with status
  timeout 20 tail --pid="$pid" -f /dev/null || die "$1: still running"
  wait "$pid"; check "$1" "$2" $?; pid=
}
click() { # the middle of control $1; twice on one spot would be a double click
  [ "$1" != "$last_click" ] || sleep 0.6
  last_click=$1
  peek
  read -r x y < <(awk -F'\t' -v id="$1" '$1 == "child" && $2 == id { print int(($5 + $7) / 2), int(($6 + $8) / 2) }' "$work/peek")
  xdotool mousemove "$x" "$y" click 1
}
type_ip() { # types $1 over the text of txtIP
  click $txtIP
  xdotool key --delay 20 End shift+Home BackSpace
  [ -z "$1" ] || xdotool type --delay 20 -- "$1"
  expect "txtIP takes [$1]" $txtIP "$1"
}
query() { type_ip "$1"; xdotool key Tab space; } # from txtIP to cmdRetreive

# No table: its box and no window; OK ends the program with status 2.
mkdir "$work/bare" "$work/app" && cp "$exe" "$work/bare/Norvane.exe"
cp "$exe" "$work/app/Norvane.exe" && cp "$table" "$work/app/oui.ieee"
start "$work/bare/Norvane.exe" "$box_title"
check "no main window behind the box" "" "$(find_windows --name "Norvane v1.0")"
peek "$box_title"
check "the box" "Static:icon Button:OK Static:Critical Error! oui.ieee not found! " \
  "$(awk -F'\t' '$1 == "child" { printf "%s:%s ", $3, ($4 ~ /03$/ ? "icon" : $9) }' "$work/peek")"
focus_window "$window" && xdotool key Return
ended "OK ends the program" 2

# The window, with the focus in txtIP; Tab goes round its four boxes.
start "$work/app/Norvane.exe" "$caption"
focus_window "$window" || die "no focus"
peek
check "client area, focus, txtIP, txtMAC" "271x197 $txtIP 192.168.0.1 " \
  "$(field client) $(field focus) $(field $txtIP) $(field $txtMAC)"

# What screen readers are told: each box named by its label, the logo
# described. Wine's accessibility layer takes no such annotation (a stub),
# but its trace shows what the window asked of it, control by control.
name={608d3df8-8128-4aa7-a428-f55e49267291} description={4d48dfe4-bd3f-491f-a648-492d6f20c588}
if grep -q SetHwndPropStr "$work/trace"; then
  for want in "$txtIP $name IP Address:" "$txtMAC $name MAC Address:" \
    "$txtVendor $name Vendor:" "$Image1 $description Velmora Networks logo"; do
    read -r id property text <<<"$want"
    hwnd=$(awk -F'\t' -v id="$id" '$1 == "child" && $2 == id { print $10 }' "$work/peek")
    check "$id tells screen readers [$text]" yes \
      "$(grep -qF "SetHwndPropStr ($hwnd 4294967292 0 $property L\"$text\")" "$work/trace" && echo yes)"
  done
fi
for next in $cmdRetreive $txtMAC $txtVendor $txtIP; do
  xdotool key Tab
  expect "Tab to $next" focus $next
done

# Wine's SendARP always fails: the error text and no vendor, by click too.
type_ip 198.51.100.7
click $cmdRetreive
expect "a failed query" $txtMAC "$error"
expect "its vendor" $txtVendor ""
[ -z "$screenshot" ] || xwd -root -silent >"$screenshot"

# Read-only boxes refuse typing but keep their text, which can be copied.
for id in $txtMAC $txtVendor; do
  text=$(field $id)
  click $id
  xdotool key --delay 20 x BackSpace Delete ctrl+x ctrl+v
  expect "$id has the focus" focus $id
  expect "$id refuses typing" $id "$text"
done
click $txtMAC
xdotool key --delay 20 End shift+Home ctrl+c
sleep 0.5
check "txtMAC's text copied" "$error" "$(timeout 5 xclip -o -selection clipboard)"

# The click's cases are tested without a window (form_test); here, that the
# button writes the boxes: blanks are queried, no address gets the prompt.
for text in "   " ""; do
  query "$text"
  want=$([ -z "$text" ] || [ "$text" == "$prompt" ] || echo "$error")
  expect "[$text] gives [$want]" $txtMAC "$want"
  [ -n "$want" ] || expect "[$text] gets the prompt" $txtIP "$prompt"
done

# Enter and Esc press nothing, wherever the focus is.
type_ip 198.51.100.9
for id in $txtIP $txtMAC $txtVendor; do click $id && xdotool key Return Escape; done
sleep 0.5
expect "Enter and Esc make no query" $txtMAC ""
[ -n "$(find_windows --name "^$caption\$")" ] || die "Enter or Esc closed the window"
focus_window "$window" && xdotool key alt+F4
ended "closing the window ends the program" 0

[ "$failures" -eq 0 ] || die "$failures check(s)"
