#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the demo and the
# benchmarks need. Idempotent and non-interactive.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  dovecot-core dovecot-pop3d openssl
  xvfb xauth xdotool x11-utils imagemagick trayer openbox
  python3 curl
  chromium
  clang libclang-rt-14-dev clang-format clang-tidy
  libgmime-3.0-dev libqt6sql6-sqlite bogofilter
  qtkeychain-qt6-dev libsecret-1-0 gnome-keyring dbus-daemon qt6-networkauth-dev
)
# QtKeychain loads libsecret only at run time, so it is named here; the
# keyring tests start gnome-keyring-daemon on a dbus-daemon of their own.
# npm installs the benchmark's corpus. A Node.js that bundles its own npm
# conflicts with Debian's npm package, so it is only asked for when missing.
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "These Debian packages are missing: ${missing[*]}" >&2
    echo "Install them as root (apt-get install ${missing[*]}) or install sudo, then run this again." >&2
    exit 1
  fi
  SUDO="sudo"
  echo "Installing with sudo: ${missing[*]}"
fi
export DEBIAN_FRONTEND=noninteractive
# The dpkg lock can be held briefly by another apt run: wait, then retry.
for attempt in 1 2 3 4 5 6; do
  if $SUDO apt-get update -qq && \
     $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"; then
    # Only the dovecot binary is needed (tests and the demo start their own
    # server on loopback): the system-wide mail service the package starts
    # is switched off again when this script installed it.
    if [[ " ${missing[*]} " == *" dovecot-core "* ]] && [ -d /run/systemd/system ]; then
      $SUDO systemctl disable --now dovecot.service dovecot.socket >/dev/null 2>&1 || true
    fi
    exit 0
  fi
  echo "apt-get failed (attempt $attempt), retrying in 10 s..." >&2
  sleep 10
done
exit 1
