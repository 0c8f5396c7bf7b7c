#!/bin/bash
# The real program, installed into a folder of its own, on a virtual X
# display with a window manager and a real tray host, against a real
# Dovecot holding the demo mailbox. Its settings make it scan on schedule a
# minute after start; each "Spam from" box is answered with Return as a user
# would; afterwards the server's mailbox holds only the clean messages,
# SpamDeleted holds the spam and stats.dat holds the new totals. The program
# is ended through the tray menu's "Exit" and OK.
#
#   scan_e2e.sh <cmake> <build folder> <demo server> <artefact folder>
#
# Screenshots of the main window, a "Spam from" box and the tray menu stay
# in the artefact folder. Exits 77 (skipped) when Xvfb, the tray host, the X
# tools or Dovecot are missing. Every wait is bounded; every process this
# script starts is ended by its process id.

set -u
CMAKE=${1:?usage: scan_e2e.sh <cmake> <build folder> <demo server> <artefact folder>}
BUILD=${2:?}
SERVER=${3:?}
OUT=${4:?}

missing=""
for tool in Xvfb trayer xdotool xwininfo xprop import compare timeout; do
    command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
done
command -v dovecot >/dev/null 2>&1 || [ -x /usr/sbin/dovecot ] || missing="$missing dovecot"
if [ -n "$missing" ]; then
    echo "SKIP: missing:$missing"
    echo "      (apt-get install xvfb xauth xdotool imagemagick x11-utils trayer openbox dovecot-pop3d)"
    exit 77
fi
[ -x "$SERVER" ] || { echo "FAIL: no demo server at $SERVER"; exit 1; }

# With a session bus and a tray watcher Qt would use D-Bus tray icons, which
# have no X window to click.
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb

rm -rf "$OUT"
mkdir -p "$OUT"
WORK=$(mktemp -d /tmp/qme2e.XXXXXX)
export XDG_RUNTIME_DIR="$WORK/runtime"
mkdir -p "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

PIDS=()
SERVER_PID=""
SERVER_IN=""
cleanup() {
    local i
    if [ -n "$SERVER_IN" ]; then exec {SERVER_IN}>&-; fi
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do
        kill "${PIDS[i]}" 2>/dev/null
    done
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do
        wait "${PIDS[i]}" 2>/dev/null
    done
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'echo "FAIL: stopped by a signal or the overall time limit"; exit 1' INT TERM HUP
# The waits below are bounded one by one; this bounds their sum, so the
# script cleans up itself before CTest's TIMEOUT would cut it short.
(
    trap 'kill "$nap" 2>/dev/null; exit 0' TERM
    sleep 270 &
    nap=$!
    wait "$nap" && kill -TERM $$
) 2>/dev/null &
PIDS+=($!)

fail() {
    echo "FAIL: $*"
    import -window root "$OUT/failure.png" 2>/dev/null
    for log in program.log server.err; do
        [ -s "$WORK/$log" ] && { echo "--- $log"; tail -n 40 "$WORK/$log"; }
    done
    exit 1
}

source "$(dirname "$0")/../support/xtray.sh"

# --- the program folder, as the install target lays it out
PROG="$WORK/program"
HOME="$WORK/home" "$CMAKE" --install "$BUILD" --prefix "$PROG" >"$WORK/install.log" 2>&1 ||
    { cat "$WORK/install.log"; fail "cmake --install failed"; }

# --- the mail server, which also writes the account, lists and settings
mkfifo "$WORK/server.in"
"$SERVER" --program-folder "$PROG" <"$WORK/server.in" >"$WORK/server.out" 2>"$WORK/server.err" &
SERVER_PID=$!
PIDS+=("$SERVER_PID")
exec {SERVER_IN}>"$WORK/server.in"
server_ready() { grep -q '^ready$' "$WORK/server.out" || ! kill -0 "$SERVER_PID"; }
wait_until 30 server_ready
if ! grep -q '^ready$' "$WORK/server.out"; then
    wait "$SERVER_PID"
    status=$?
    [ "$status" -eq 77 ] && { echo "SKIP: $(cat "$WORK/server.err")"; exit 77; }
    fail "the mail server did not start"
fi
MAILDIR=$(awk '$1 == "maildir" {print $2}' "$WORK/server.out")
[ -d "$MAILDIR" ] || fail "no mailbox folder"
[ "$(ls "$MAILDIR/new" | wc -l)" -eq 6 ] || fail "the demo mailbox does not hold 6 messages"
echo "server: $(head -n1 "$WORK/server.out")"

# --- display, window manager, tray host
start_display_and_tray

# --- the program
# It replaces stats.dat whole (a new file) at the end of a scan.
stats_file() { stat -c %i "$PROG/stats.dat" 2>/dev/null; }
STATS_BEFORE=$(stats_file)
"$PROG/quellmail" >"$WORK/program.log" 2>&1 {SERVER_IN}>&- &
APP=$!
PIDS+=("$APP")

wait_until 60 main_window_shown || fail "the main window did not appear"
wait_until 30 find_icon || fail "no program icon in the tray host"
echo "main window $MAIN, tray icon $ICON"

# --- the scheduled scan: answer every "Spam from" box until stats.dat holds
# the scan's totals. A box carries the program's title too: it is told from
# the main window by its type (a dialog), and a key goes only to a box that
# holds the focus.
answered=0
deadline=$((SECONDS + 180))
while [ "$(stats_file)" = "$STATS_BEFORE" ]; do
    [ "$SECONDS" -lt "$deadline" ] || fail "no scan finished within 180 s ($answered boxes answered)"
    alive "$APP" || fail "the program ended during the scan"
    if find_box box '^Quellmail$'; then
        [ "$answered" -eq 0 ] && import -window root "$OUT/spam-from-box.png"
        press_in_box "$box" Return || fail "a \"Spam from\" box ($box) could not be given the focus"
        wait_until 15 window_gone "$box" || fail "a \"Spam from\" box did not close on Return"
        answered=$((answered + 1))
        echo "answered \"Spam from\" box $answered"
    else
        sleep 0.5
    fi
done
echo "scan finished after $SECONDS s: stats.dat rewritten"
# The status line settles once the scan has returned.
sleep 1
import -window "$MAIN" "$OUT/main-window.png"

# --- the tray menu: a left click on the icon
eval "$(xdotool getwindowgeometry --shell "$ICON")"
ICON_X=$((X + WIDTH / 2))
ICON_Y=$((Y + HEIGHT / 2))
corner() { import -window root -crop 420x240+604+0 +repage "$1"; }
xdotool mousemove 300 600
sleep 0.3
corner "$WORK/before.png"
xdotool mousemove "$ICON_X" "$ICON_Y" click 1
menu_drawn() {
    corner "$WORK/after.png"
    local changed
    changed=$(compare -metric AE "$WORK/before.png" "$WORK/after.png" null: 2>&1)
    [ "${changed%% *}" -gt 2000 ] 2>/dev/null
}
wait_until 10 menu_drawn || fail "a left click on the tray icon opened no menu"
sleep 0.3
import -window root "$OUT/tray-menu.png"

# "Exit" is the third item (the menu shows Hide or Show, not both); its
# question is answered with OK (the default).
wait_until 10 find_menu || fail "the tray menu is not open"
timeout 10 xdotool key Down Down Down Return
wait_until 15 find_box QUESTION '^Exit application\?$' || fail "the tray menu's Exit asked no question"
press_in_box "$QUESTION" Return || fail "the Exit question ($QUESTION) could not be given the focus"
program_ended() {
    local state
    state=$(ps -o stat= -p "$APP" 2>/dev/null)
    [ -z "$state" ] || [ "${state:0:1}" = Z ]
}
if ! wait_until 30 program_ended; then
    kill "$APP" 2>/dev/null
    fail "the program did not end after Exit and OK"
fi
wait "$APP"
status=$?
[ "$status" -eq 0 ] || fail "the program ended with status $status"

# --- what the scan left behind
failures=0
check() { echo "FAIL: $*"; failures=$((failures + 1)); }

[ "$answered" -eq 3 ] || check "expected 3 \"Spam from\" boxes, answered $answered"

# Deletions are final at QUIT: only the clean messages (and the friend's,
# which the whitelist keeps despite its keyword) stay on the server.
left=$(cat "$MAILDIR"/new/* "$MAILDIR"/cur/* 2>/dev/null | sed -n 's/^Subject: //p' | sort)
expected_left=$(printf '%s\n' "Build 42 passed" "Guess who won the lottery" "Lunch on Friday?" | sort)
[ "$left" = "$expected_left" ] || check "the mailbox holds: [$left], expected: [$expected_left]"

# One archive file per spam message, named after its subject, holding it.
archive=$(ls "$PROG/SpamDeleted" | sort)
expected_archive=$(printf '%s\n' "Important notice for you.html" "You are our LOTTERY WINNER.html" \
                                 "Your weekly deals.html" | sort)
[ "$archive" = "$expected_archive" ] || check "SpamDeleted holds: [$archive], expected: [$expected_archive]"
archived_from() { grep -q "^From: $2" "$PROG/SpamDeleted/$1" 2>/dev/null || check "$1 does not hold the message from $2"; }
archived_from "Your weekly deals.html" "Deals Daily <offers@bulk-deals.example>"
archived_from "You are our LOTTERY WINNER.html" "Prize Office <claims@prize-center.example>"
archived_from "Important notice for you.html" "Health Store <sales@pharma-shop.example>"
# Each begins with the inert prefix (a browser shows it as text) and is the owner's only.
prefix='<!DOCTYPE html><meta charset="utf-8"><meta http-equiv="Content-Security-Policy" content="default-src '"'none'"'"><plaintext>'
for f in "$PROG"/SpamDeleted/*; do
    [ "$(head -c ${#prefix} "$f")" = "$prefix" ] || check "$(basename "$f") does not begin with the inert prefix"
    mode=$(stat -c %a "$f")
    [ "$mode" = 600 ] || check "$(basename "$f") has mode $mode, not 600"
done

# stats.dat: list sizes, spam blocked 3, total scanned 6, settings as set up.
stats=$(od -An -c "$PROG/stats.dat" | tr -s ' \n' ' ')
expected_stats=$(printf '1\r\n1\r\n1\r\n3\r\n3\r\n6\r\n 1 \r\n1\r\n 1 \r\n 1 \r\n 1 \r\n 1 \r\n' | od -An -c | tr -s ' \n' ' ')
[ "$stats" = "$expected_stats" ] || check "stats.dat reads:$stats expected:$expected_stats"
mode=$(stat -c %a "$PROG/stats.dat")
[ "$mode" = 600 ] || check "stats.dat has mode $mode, not 600 (it sits beside the passwords)"

[ "$failures" -eq 0 ] || fail "$failures check(s) failed"
echo "screenshots in $OUT"
echo "PASS"
exit 0
