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
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
# The dpkg lock can be held briefly by another apt run: wait, then retry.
for attempt in 1 2 3 4 5 6; do
  if $SUDO apt-get update -qq && \
     $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"; then
    exit 0
  fi
  echo "apt-get failed (attempt $attempt), retrying in 10 s..." >&2
  sleep 10
done
exit 1
