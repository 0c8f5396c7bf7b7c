#!/usr/bin/env bash
# Puts a systemd user timer in place that runs "quellmail --scan" on a
# program folder every few minutes, without a window:
#
#   scripts/install-timer.sh [--folder DIR] [--every MINUTES] [--enable]
#
# DIR is the program folder (default ~/.local/share/quellmail, where
# "cmake --install build" puts it); MINUTES defaults to 15. The two units go
# to ${XDG_CONFIG_HOME:-~/.config}/systemd/user. With --enable the timer is
# also started (systemctl --user); without it the commands are printed.
set -euo pipefail

folder="${HOME:?}/.local/share/quellmail"
every=15
enable=0
while [ $# -gt 0 ]; do
    case "$1" in
        --folder) folder=${2:?--folder needs a folder}; shift 2 ;;
        --folder=*) folder=${1#--folder=}; shift ;;
        --every) every=${2:?--every needs a number of minutes}; shift 2 ;;
        --every=*) every=${1#--every=}; shift ;;
        --enable) enable=1; shift ;;
        -h|--help) sed -n '2,11s/^# \{0,1\}//p' "$0"; exit 0 ;;
        *) echo "unknown argument: $1 (try --help)" >&2; exit 1 ;;
    esac
done
case "$every" in
    ''|*[!0-9]*|0) echo "--every takes a whole number of minutes, 1 or more" >&2; exit 1 ;;
esac
folder=$(cd "$folder" 2>/dev/null && pwd) || { echo "no program folder at $folder" >&2; exit 1; }
[ -x "$folder/quellmail" ] || { echo "no program in $folder (install it first: cmake --install build)" >&2; exit 1; }

units="${XDG_CONFIG_HOME:-$HOME/.config}/systemd/user"
mkdir -p "$units"

# In unit files a path is quoted for blanks, and "%" is a specifier.
quoted=\"${folder//%/%%}\"
program=\"${folder//%/%%}/quellmail\"

cat >"$units/quellmail-scan.service" <<UNIT
[Unit]
Description=Quellmail: scan the POP3 accounts of $quoted once

[Service]
Type=oneshot
ExecStart=$program --scan --folder $quoted
# 75: the window is scanning the same folder; the next run catches up. Once
# the folder has been busy for more than an hour the scan ends with 4
# instead, and the run counts as failed.
SuccessExitStatus=75
UNIT

cat >"$units/quellmail-scan.timer" <<UNIT
[Unit]
Description=Quellmail: scan every $every minutes

[Timer]
OnBootSec=2min
OnUnitActiveSec=${every}min

[Install]
WantedBy=timers.target
UNIT

echo "Installed $units/quellmail-scan.service and quellmail-scan.timer"
if [ "$enable" = 1 ]; then
    systemctl --user daemon-reload
    systemctl --user enable --now quellmail-scan.timer
else
    echo "Start it with:"
    echo "  systemctl --user daemon-reload"
    echo "  systemctl --user enable --now quellmail-scan.timer"
fi
