#!/bin/bash
# The real program on a virtual X display with a real tray host: its icon
# appears in the tray, a left click on it opens the tray menu, "Hide
# Application" and "Show Application" hide and show the main window, a
# double click shows it, and
# "Exit" answered with OK removes the icon and ends the program.
#
#   tray_xvfb.sh <quellmail executable> <artefact folder>
#
# Screenshots stay in the artefact folder. Exits 77 (skipped) when Xvfb or
# the tray host is not installed. Every wait is bounded; every process this
# script starts is ended by its process id.

set -u

PROGRAM=${1:?usage: tray_xvfb.sh <quellmail executable> <artefact folder>}
OUT=${2:?usage: tray_xvfb.sh <quellmail executable> <artefact folder>}

missing=""
for tool in Xvfb trayer xdotool xwininfo xprop import compare timeout; do
    command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
done
if [ -n "$missing" ]; then
    echo "SKIP: needs Xvfb, a tray host and X tools; missing:$missing"
    echo "      (apt-get install xvfb xdotool imagemagick x11-utils trayer openbox)"
    exit 77
fi
if [ ! -x "$PROGRAM" ]; then
    echo "FAIL: no program at $PROGRAM (build the quellmail target first)"
    exit 1
fi
if [ ! -f "$(dirname "$PROGRAM")/index.html" ]; then
    echo "FAIL: the build put no help page beside the program"
    exit 1
fi

# With a session bus and a tray watcher Qt would use D-Bus tray icons, which
# have no X window to click.
unset DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM
export QT_QPA_PLATFORM=xcb

rm -rf "$OUT"
mkdir -p "$OUT"
WORK=$(mktemp -d /tmp/qmtray.XXXXXX)
export XDG_RUNTIME_DIR="$WORK/runtime"
mkdir -p "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

PIDS=()
cleanup() {
    local pid
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do
        pid=${PIDS[i]}
        kill "$pid" 2>/dev/null
    done
    for pid in "${PIDS[@]}"; do
        wait "$pid" 2>/dev/null
    done
    rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    [ -f "$WORK/program.log" ] && { echo "--- program output"; cat "$WORK/program.log"; }
    import -window root "$OUT/failure.png" 2>/dev/null
    exit 1
}

source "$(dirname "$0")/../support/xtray.sh"

# --- display, window manager, tray host
start_display_and_tray
echo "display $DISPLAY"

# --- the program, in a folder of its own with one saved account, so the
# first-account dialog stays shut. Copied, not linked: the program finds
# its files beside its real path.
PROG="$WORK/program"
mkdir -p "$PROG/SpamDeleted"
BIN=$(dirname "$PROGRAM")
cp "$PROGRAM" "$PROG/quellmail"
for f in "$BIN"/libtarnpostctl.so* "$BIN"/libkwab.so "$BIN"/index.html; do
    [ -e "$f" ] && cp -P "$f" "$PROG/"
done
printf 'mail.example.invalid,alice,secret\r\n' >"$PROG/accounts.dat"
printf 'friend@example.org\r\n' >"$PROG/whitelist.dat"
printf 'casino\r\nlottery winner\r\n' >"$PROG/keywords.dat"

"$PROG/quellmail" >"$WORK/program.log" 2>&1 &
APP=$!
PIDS+=($APP)

wait_until 30 main_window_shown || fail "the main window did not appear"
wait_until 20 find_icon || fail "no icon named \"Quellmail tray icon\" in the tray host"
echo "main window $MAIN, icon window $ICON"

eval "$(xdotool getwindowgeometry --shell "$ICON")"
ICON_X=$((X + WIDTH / 2))
ICON_Y=$((Y + HEIGHT / 2))
echo "icon at $ICON_X,$ICON_Y (${WIDTH}x${HEIGHT})"

# The corner of the screen that holds the tray and its menu.
corner() { import -window root -crop 420x240+604+0 +repage "$1"; }

menu_closed() { window_gone "$MENU"; }
open_menu() {
    xdotool mousemove "$ICON_X" "$ICON_Y" click 1
    wait_until 10 find_menu || fail "a left click on the icon opened no menu"
}
menu_drawn() {
    corner "$OUT/tray-menu.png"
    changed=$(compare -metric AE "$WORK/before.png" "$OUT/tray-menu.png" null: 2>&1)
    [ "${changed%% *}" -gt 2000 ] 2>/dev/null
}
# choose <n>: clicks the n-th of the menu's three items (from 1): it shows
# Hide or Show, whichever applies.
choose() {
    eval "$(xdotool getwindowgeometry --shell "$MENU")"
    local y=$((Y + 4 + (2 * $1 - 1) * (HEIGHT - 8) / 6))
    xdotool mousemove $((X + WIDTH / 2)) "$y"
    sleep 0.2
    xdotool click 1
    wait_until 10 menu_closed || fail "the tray menu stayed open after a click on item $1"
}
main_hidden() { window_gone "$MAIN"; }
main_shown() { window_viewable "$MAIN"; }

# --- a left click opens the tray menu
xdotool mousemove 700 500
sleep 0.3
corner "$WORK/before.png"
open_menu
wait_until 10 menu_drawn || fail "the tray menu was not drawn (changed pixels: $changed)"
import -window root "$OUT/desktop-with-tray-menu.png"

choose 2 # Hide Application
wait_until 10 main_hidden || fail "Hide Application did not hide the main window"
echo "hidden from the tray menu"

# --- a double click on the icon opens the window, and no menu
xdotool mousemove "$ICON_X" "$ICON_Y" click --repeat 2 --delay 80 1
wait_until 10 main_shown || fail "a double click on the icon did not show the main window"
sleep 1 # longer than the double-click interval: a menu held back would be open by now
if find_menu; then
    fail "a double click also opened the tray menu"
fi
echo "shown by a double click"
open_menu
choose 2 # Hide Application
wait_until 10 main_hidden || fail "Hide Application did not hide the main window"

open_menu
choose 2 # Show Application
wait_until 10 main_shown || fail "Show Application did not show the main window"
echo "shown from the tray menu"

# --- the Help tab: the mouse wheel over the tab bar walks to the last tab.
# (Relative to the window itself: the geometry xdotool reports for a framed
# window is off by the frame.)
xdotool mousemove --window "$MAIN" 40 20
xdotool click --repeat 6 --delay 80 5
sleep 0.5
import -window "$MAIN" "$OUT/help-tab.png"

# --- "Exit" answered with OK removes the icon and ends the program.
open_menu
choose 3 # Exit
wait_until 10 find_box QUESTION '^Exit application\?$' || fail "Exit asked no question"
import -window root "$OUT/exit-question.png"
press_in_box "$QUESTION" Return || fail "the Exit question ($QUESTION) could not be given the focus" # OK is the default
# Our own child lingers as a zombie until waited for.
program_ended() {
    local state
    state=$(ps -o stat= -p "$APP" 2>/dev/null)
    [ -z "$state" ] || [ "${state:0:1}" = Z ]
}
wait_until 15 program_ended || fail "the program did not end after OK"
wait "$APP"
status=$?
[ "$status" -eq 0 ] || fail "the program ended with status $status"
if find_icon; then
    fail "the icon stayed in the tray after the program ended"
fi
echo "ended with status 0, icon removed"
echo "screenshots in $OUT"
echo "PASS"
exit 0
