# Shared by the scripts that drive the real program on a virtual X display.
# Source it after setting WORK (a scratch folder), PIDS (an array of the
# process ids to end) and defining fail <message>.

# wait_until <seconds> <command...>: tries the command every 0.2 s.
wait_until() {
    local limit=$(($1 * 5)) i
    shift
    for ((i = 0; i < limit; i++)); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.2
    done
    return 1
}

# alive <pid>: a process of ours runs (a child that ended lingers as a zombie).
alive() {
    local state
    state=$(ps -o stat= -p "$1" 2>/dev/null)
    [ -n "$state" ] && [ "${state:0:1}" != Z ]
}

# A display, a window manager when there is one, and a tray host at the top
# right; sets DISPLAY and PANEL (the tray host's window).
start_display_and_tray() {
    # -noreset: by default the server resets when its last client leaves (the
    # readiness probe below), and a tray host connecting just then is refused.
    Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp -noreset 5>"$WORK/display" 2>"$WORK/xvfb.log" &
    PIDS+=($!)
    wait_until 15 test -s "$WORK/display" || fail "Xvfb did not start: $(cat "$WORK/xvfb.log")"
    export DISPLAY=":$(head -n1 "$WORK/display")"
    wait_until 15 xwininfo -root || fail "the display $DISPLAY takes no connection"
    if command -v openbox >/dev/null 2>&1; then
        openbox >"$WORK/openbox.log" 2>&1 &
        PIDS+=($!)
    fi
    # A tray host that could not connect under load is started once more.
    local attempt tray
    PANEL=""
    for attempt in 1 2; do
        trayer --edge top --align right --widthtype pixel --width 120 \
               --heighttype pixel --height 32 --SetDockType true \
               --transparent false --tint 0x808080 >"$WORK/trayer.log" 2>&1 &
        tray=$!
        PIDS+=("$tray")
        tray_up() { PANEL=$(xdotool search --name '^panel$' 2>/dev/null | head -n1) && [ -n "$PANEL" ] || ! alive "$tray"; }
        wait_until 15 tray_up
        [ -n "$PANEL" ] && return 0
    done
    fail "the tray host did not come up: $(cat "$WORK/trayer.log")"
}

# visible_windows <xdotool search arguments...>: the ids of the visible
# windows that match, one a line. A window that vanishes during the search
# (the splash closing, a box just answered) makes xdotool die of an X
# BadWindow error with nothing printed: such a search is tried again, a
# bounded number of times, and fails rather than answer "none".
visible_windows() {
    local out i
    for ((i = 0; i < 25; i++)); do
        out=$(xdotool search --onlyvisible "$@" 2>"$WORK/xdotool.err")
        if ! grep -q 'X Error\|BadWindow\|failed' "$WORK/xdotool.err"; then
            [ -n "$out" ] && printf '%s\n' "$out"
            return 0
        fi
        sleep 0.2
    done
    return 1
}

# window_type <window>: the first (preferred) entry of its
# _NET_WM_WINDOW_TYPE without the prefix (NORMAL, DIALOG, POPUP_MENU, ...);
# empty when the window is gone or has none.
window_type() {
    xprop -id "$1" _NET_WM_WINDOW_TYPE 2>/dev/null |
        sed -n 's/^_NET_WM_WINDOW_TYPE(ATOM) = _NET_WM_WINDOW_TYPE_\([A-Z_]*\).*/\1/p'
}

# windows_of_type <type> <title regex>: the visible windows with exactly that
# title and that type; fails when the search cannot be made.
windows_of_type() {
    local type=$1 found w
    found=$(visible_windows --name "$2") || return 1
    for w in $found; do
        [ "$(window_type "$w")" = "$type" ] && echo "$w"
    done
    return 0
}

# window_viewable <window>: the window exists and is mapped on the screen.
window_viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }
window_gone() { ! window_viewable "$1"; }
# Pop-up menus and the tray icon bypass the window manager. The tray menu is
# typed NORMAL and titled "Quellmail" like the main window: only this tells
# them apart.
override_redirect() { xwininfo -id "$1" 2>/dev/null | grep -q 'Override Redirect State: yes'; }

# find_box <variable> <title regex>: sets the variable to the one visible
# dialog with that title; fails when there is none or more than one.
find_box() {
    local boxes
    boxes=$(windows_of_type DIALOG "$2") || return 1
    [ -n "$boxes" ] && [ "$(printf '%s\n' "$boxes" | wc -l)" -eq 1 ] || return 1
    printf -v "$1" '%s' "$boxes"
}

# press_in_box <window> <key...>: brings the box forward and presses the keys
# only when it is then the focused window and still a dialog; never into
# another window. Fails when that cannot be had within a few tries.
press_in_box() {
    local box=$1 i
    shift
    for ((i = 0; i < 10; i++)); do
        window_viewable "$box" || return 1
        timeout 10 xdotool windowactivate --sync "$box" >/dev/null 2>&1 ||
            timeout 10 xdotool windowfocus --sync "$box" >/dev/null 2>&1
        if [ "$(xdotool getwindowfocus 2>/dev/null)" = "$box" ] && [ "$(window_type "$box")" = DIALOG ]; then
            timeout 10 xdotool key "$@"
            return 0
        fi
        sleep 0.3
    done
    return 1
}

# Sets MAIN to the program's main window: the one visible normal window
# titled "Quellmail" that the window manager manages (its message boxes carry
# the same title as dialogs, its open tray menu as an unmanaged window).
find_main_window() {
    local found w mains=()
    found=$(windows_of_type NORMAL '^Quellmail$') || return 1
    for w in $found; do
        override_redirect "$w" || mains+=("$w")
    done
    [ "${#mains[@]}" -eq 1 ] || return 1
    MAIN=${mains[0]}
}
main_window_shown() { find_main_window; }

# Sets MENU to the program's open tray menu: its unmanaged window other than
# the tray icon. (A search by its name misses it.)
find_menu() {
    local found w
    MENU=""
    found=$(visible_windows --classname '^quellmail$') || return 1
    for w in $found; do
        [ "$w" != "$MAIN" ] && override_redirect "$w" &&
            [ "$(xdotool getwindowname "$w" 2>/dev/null)" != "Quellmail tray icon" ] && { MENU=$w; return 0; }
    done
    return 1
}

# Sets ICON to the program's icon window inside the tray host.
find_icon() {
    ICON=$(xwininfo -tree -id "$PANEL" 2>/dev/null | awk '/"Quellmail tray icon"/ {print $1; exit}')
    [ -n "$ICON" ]
}
