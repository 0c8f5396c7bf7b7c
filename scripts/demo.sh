#!/usr/bin/env bash
# Starts the program on a demo: a throw-away local Dovecot holding sample mail
# (clean messages and spam for each rule) and a program folder in build/demo
# with one account on it, the sample lists and the schedule on. The first
# scan runs about a minute after start; "Scan now" starts one at once.
# Closing the program (Exit, or the tray menu's Exit) stops the demo server.
#
#   scripts/demo.sh [build folder]      (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
bin="$build/bin"
server="$build/demo/quellmail_demo_server"
folder="$build/demo/program"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "Quellmail is a desktop program and no desktop session was found" >&2
  echo "(neither DISPLAY nor WAYLAND_DISPLAY is set). Run this command in a" >&2
  echo "terminal of your desktop session." >&2
  exit 1
fi
for f in "$bin/quellmail" "$bin/libtarnpostctl.so" "$server"; do
  if [ ! -e "$f" ]; then
    echo "Missing $f: build first (scripts/build.sh)." >&2
    exit 1
  fi
done

# A fresh copy of the program folder every time, so the demo starts from the
# same sample lists and the same mailbox.
rm -rf "$folder"
mkdir -p "$folder"
mkdir -m 700 "$folder/SpamDeleted"
cp "$bin/quellmail" "$folder/"
cp -P "$bin"/libtarnpostctl.so* "$folder/"
for f in libkwab.so index.html; do
  [ -e "$bin/$f" ] && cp "$bin/$f" "$folder/"
done

work=$(mktemp -d /tmp/quellmail-demo.XXXXXX)
server_pid=""
server_in=""
cleanup() {
  # Closing its input stops the server; SIGTERM if it does not go.
  if [ -n "$server_in" ]; then exec {server_in}>&-; fi
  if [ -n "$server_pid" ]; then
    for _ in $(seq 50); do
      kill -0 "$server_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

mkfifo "$work/in"
"$server" --program-folder "$folder" <"$work/in" >"$work/out" 2>"$work/err" &
server_pid=$!
exec {server_in}>"$work/in"

for _ in $(seq 300); do
  grep -q '^ready$' "$work/out" 2>/dev/null && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q '^ready$' "$work/out" 2>/dev/null; then
  echo "The demo mail server did not start:" >&2
  cat "$work/err" >&2
  exit 1
fi
port=$(awk '$1 == "port" {print $2}' "$work/out")

cat <<MSG
Demo mail server: pop3://127.0.0.1:$port (user demo, password demo), 6 messages.
Program folder:   $folder
The first scan starts about a minute after the window opens (or press
"Scan now"). Each spam message is announced in a "Spam from" box: press OK.
Afterwards 3 clean messages stay on the server and the spam is archived in
$folder/SpamDeleted.
MSG

status=0
# The program gets no copy of the server's input, so only this script holds it.
"$folder/quellmail" {server_in}>&- || status=$?
exit "$status"
