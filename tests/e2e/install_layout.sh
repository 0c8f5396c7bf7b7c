#!/bin/bash
# The install target lays out a program folder that runs on its own: the
# program, its two libraries (found by path, not through the build tree),
# the help page, the spam archive folder and the icon, plus a menu entry
# that points at that folder; the autostart entry only when asked for; a
# second install keeps the user's data files.
#
#   install_layout.sh <cmake> <build folder>
set -u
CMAKE=${1:?usage: install_layout.sh <cmake> <build folder>}
BUILD=${2:?usage: install_layout.sh <cmake> <build folder>}

WORK=$(mktemp -d /tmp/qminst.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A folder name with a blank, as users' folders sometimes have.
PREFIX="$WORK/My Programs/quellmail"
install_into() {
    env -u XDG_DATA_HOME -u XDG_CONFIG_HOME HOME="$WORK/home" "$@" \
        "$CMAKE" --install "$BUILD" --prefix "$PREFIX" >"$WORK/install.log" 2>&1 || {
        cat "$WORK/install.log"
        echo "FAIL: cmake --install failed"
        exit 1
    }
}
install_into

# --- the program folder
[ -x "$PREFIX/quellmail" ] || fail "no executable program in the folder"
[ -f "$PREFIX/index.html" ] || fail "no help page"
[ -d "$PREFIX/SpamDeleted" ] || fail "no SpamDeleted folder"
[ -w "$PREFIX/SpamDeleted" ] || fail "SpamDeleted is not writable by the installing user"
mode=$(stat -c %a "$PREFIX/SpamDeleted")
[ "$mode" = 700 ] || fail "SpamDeleted has mode $mode, not 700 (it holds the user's mail)"
[ -f "$PREFIX/libkwab.so" ] || fail "no address-book library"
# The program opens libtarnpostctl.so by that name from its own folder.
[ -e "$PREFIX/libtarnpostctl.so" ] || fail "no libtarnpostctl.so"
real=$(readlink -f "$PREFIX/libtarnpostctl.so")
case "$real" in
    "$PREFIX"/*) ;;
    *) fail "libtarnpostctl.so resolves outside the folder: $real" ;;
esac
if [ -f "$PREFIX/quellmail.png" ]; then
    magic=$(head -c 8 "$PREFIX/quellmail.png" | od -An -tx1 | tr -d ' \n')
    [ "$magic" = 89504e470d0a1a0a ] || fail "quellmail.png is not a PNG file"
else
    fail "no icon quellmail.png"
fi
for f in accounts.dat whitelist.dat blacklist.dat keywords.dat stats.dat; do
    [ -e "$PREFIX/$f" ] && fail "the install brought a data file of its own: $f"
done

# Nothing may be found through the build tree.
for f in quellmail libtarnpostctl.so libkwab.so; do
    if readelf -d "$PREFIX/$f" 2>/dev/null | grep -E 'R(UN)?PATH' | grep -qF "$BUILD"; then
        fail "$f still searches the build folder for libraries"
    fi
    if ldd "$PREFIX/$f" 2>/dev/null | grep -q 'not found'; then
        fail "$f has unresolved libraries: $(ldd "$PREFIX/$f" | grep 'not found' | tr '\n' ' ')"
    fi
done

# --- the menu entry
entry="$WORK/home/.local/share/applications/quellmail.desktop"
if [ -f "$entry" ]; then
    value() { sed -n "s/^$1=//p" "$entry" | head -n1; }
    exec_line=$(value Exec)
    exec_line=${exec_line#\"}
    exec_line=${exec_line%\"}
    [ "$exec_line" = "$PREFIX/quellmail" ] || fail "Exec names '$exec_line', not the installed program"
    [ "$(value Path)" = "$PREFIX" ] || fail "Path names '$(value Path)'"
    [ -f "$(value Icon)" ] || fail "Icon names a missing file: $(value Icon)"
    [ "$(value Type)" = Application ] || fail "Type is '$(value Type)'"
    [ "$(head -n1 "$entry")" = "[Desktop Entry]" ] || fail "the entry does not start with [Desktop Entry]"
    grep -q '@' "$entry" && fail "unreplaced placeholders in the entry: $(grep '@' "$entry")"
    # Blanks in the path must be quoted in Exec, or the desktop splits it.
    grep -q '^Exec=".* .*"$' "$entry" || fail "Exec with a blank in the path is not quoted: $(grep '^Exec' "$entry")"
    if command -v desktop-file-validate >/dev/null 2>&1; then
        desktop-file-validate "$entry" || fail "desktop-file-validate rejects the entry"
    fi
else
    fail "no menu entry at $entry"
fi
[ -e "$WORK/home/.config/autostart/quellmail.desktop" ] && fail "autostart entry installed without being asked for"

# --- autostart on request, into XDG_CONFIG_HOME; a second install keeps user data
printf 'pop3://127.0.0.1:1100,me,secret\r\n' >"$PREFIX/accounts.dat"
echo "kept" >"$PREFIX/SpamDeleted/Old spam.html"
env -u XDG_DATA_HOME XDG_CONFIG_HOME="$WORK/config" QUELLMAIL_AUTOSTART=1 HOME="$WORK/home" \
    "$CMAKE" --install "$BUILD" --prefix "$PREFIX" >"$WORK/install2.log" 2>&1 || {
    cat "$WORK/install2.log"
    fail "the second install failed"
}
auto="$WORK/config/autostart/quellmail.desktop"
if [ -f "$auto" ]; then
    cmp -s "$auto" "$entry" || fail "the autostart entry differs from the menu entry"
else
    fail "no autostart entry at $auto with QUELLMAIL_AUTOSTART=1"
fi
[ "$(cat "$PREFIX/accounts.dat" 2>/dev/null)" = "$(printf 'pop3://127.0.0.1:1100,me,secret\r')" ] ||
    fail "a second install changed accounts.dat"
[ "$(cat "$PREFIX/SpamDeleted/Old spam.html" 2>/dev/null)" = kept ] || fail "a second install emptied SpamDeleted"

if [ "$failures" -ne 0 ]; then
    echo "--- install log"
    cat "$WORK/install.log"
    exit 1
fi
echo "PASS"
