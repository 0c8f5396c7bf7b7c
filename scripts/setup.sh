#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine, builds, and starts the program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" normal
program="$root/build/bin/quellmail"
if [ ! -x "$program" ]; then
  echo "Built the control library; the program itself is not part of this build yet."
  exit 0
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "Quellmail is a desktop program: run this command inside a desktop session." >&2
  exit 1
fi
exec "$program"
