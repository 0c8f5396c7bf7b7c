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

# A display, a window manager when there is one, and a tray host at the top
# right; sets DISPLAY and PANEL (the tray host's window).
start_display_and_tray() {
    Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$WORK/display" 2>"$WORK/xvfb.log" &
    PIDS+=($!)
    wait_until 15 test -s "$WORK/display" || fail "Xvfb did not start: $(cat "$WORK/xvfb.log")"
    export DISPLAY=":$(head -n1 "$WORK/display")"
    if command -v openbox >/dev/null 2>&1; then
        openbox >"$WORK/openbox.log" 2>&1 &
        PIDS+=($!)
    fi
    trayer --edge top --align right --widthtype pixel --width 120 \
           --heighttype pixel --height 32 --SetDockType true \
           --transparent false --tint 0x808080 >"$WORK/trayer.log" 2>&1 &
    PIDS+=($!)
    wait_until 15 xdotool search --name '^panel$' || fail "the tray host did not come up"
    PANEL=$(xdotool search --name '^panel$' | head -n1)
}

main_window_shown() { xdotool search --onlyvisible --name '^Quellmail$'; }

# Sets ICON to the program's icon window inside the tray host.
find_icon() {
    ICON=$(xwininfo -tree -id "$PANEL" 2>/dev/null | awk '/"Quellmail tray icon"/ {print $1; exit}')
    [ -n "$ICON" ]
}
