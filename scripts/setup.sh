#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine, builds, and starts the
# program on the demo (a local mail server with sample mail).
#
#   scripts/setup.sh            install, build, start the demo
#   scripts/setup.sh --no-demo  install and build only
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
demo=1
case "${1:-}" in
  "") ;;
  --no-demo) demo=0 ;;
  *) echo "usage: $0 [--no-demo]" >&2; exit 2 ;;
esac

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" normal
echo "Built: $root/build/bin/quellmail"
[ "$demo" -eq 1 ] || exit 0
exec "$root/scripts/demo.sh" "$root/build"
