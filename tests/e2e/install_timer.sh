#!/bin/bash
# scripts/install-timer.sh writes a service and a timer that run the
# command-line scan on the program folder, into the user's systemd folder
# (XDG_CONFIG_HOME when set), and refuses what it cannot use. HOME is a
# temporary folder: the real one is never touched, and nothing is enabled.
#
#   install_timer.sh <source folder>
set -u
SOURCE=${1:?usage: install_timer.sh <source folder>}
SCRIPT="$SOURCE/scripts/install-timer.sh"

WORK=$(mktemp -d /tmp/qmtimer.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

folder="$WORK/My Programs/quell%mail"
mkdir -p "$folder" "$WORK/home"
printf '#!/bin/sh\n' >"$folder/quellmail"
chmod +x "$folder/quellmail"
run() { env -u XDG_CONFIG_HOME HOME="$WORK/home" "$@" >"$WORK/out" 2>&1; }

# case: name | environment | arguments | exit status | units folder | interval
while IFS='|' read -r name extra args status units every; do
    rm -rf "$WORK/home/.config" "$WORK/config"
    extra=${extra//WORK/$WORK}
    # shellcheck disable=SC2086
    run $extra "$SCRIPT" --folder "$folder" $args
    got=$?
    [ "$got" = "$status" ] || { fail "$name: exit $got, not $status: $(cat "$WORK/out")"; continue; }
    if [ -z "$units" ]; then
        [ -z "$(find "$WORK/home" "$WORK/config" -type f 2>/dev/null)" ] || fail "$name: wrote files all the same"
        continue
    fi
    service="$WORK/$units/quellmail-scan.service"
    timer="$WORK/$units/quellmail-scan.timer"
    [ -f "$service" ] && [ -f "$timer" ] || { fail "$name: no units in $WORK/$units"; continue; }
    expected="ExecStart=\"$WORK/My Programs/quell%%mail/quellmail\" --scan --folder \"$WORK/My Programs/quell%%mail\""
    grep -qxF "$expected" "$service" || fail "$name: $(grep ^ExecStart "$service")"
    grep -qx 'SuccessExitStatus=75' "$service" || fail "$name: a busy folder would mark the run failed"
    grep -qx 'Type=oneshot' "$service" || fail "$name: not a oneshot service"
    grep -qx "OnUnitActiveSec=$every" "$timer" || fail "$name: $(grep ^OnUnitActiveSec "$timer")"
    grep -qx 'WantedBy=timers.target' "$timer" || fail "$name: the timer cannot be enabled"
    # systemd's own reading of the units, where a manager can be set up here.
    if command -v systemd-analyze >/dev/null 2>&1; then
        verdict=$(cd "$WORK/$units" && systemd-analyze verify ./quellmail-scan.service ./quellmail-scan.timer 2>&1)
        case "$verdict" in
            ''|*"Failed to initialize manager"*) ;;
            *) fail "$name: systemd-analyze: $verdict" ;;
        esac
    fi
done <<'CASES'
defaults|||0|home/.config/systemd/user|15min
XDG_CONFIG_HOME and interval|XDG_CONFIG_HOME=WORK/config|--every 5|0|config/systemd/user|5min
no interval||--every 0|1||
unknown argument||--now|1||
CASES

run "$SCRIPT" --folder "$WORK/missing"
[ $? = 1 ] || fail "a missing folder was accepted"
[ -z "$(find "$WORK/home" -type f)" ] || fail "a missing folder still wrote files"

if [ "$failures" -ne 0 ]; then
    exit 1
fi
echo "PASS"
