#!/usr/bin/env bash
# Checks the formatting, then runs the whole test suite: the normal build,
# then the sanitizer build.
# scripts/test.sh [normal|asan|all]   (default: all)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"

echo "== Checking the formatting"
"$root/scripts/format.sh" --check

runtime=$(mktemp -d /tmp/quellmail-rt.XXXXXX)
chmod 700 "$runtime"
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR="$runtime"
# Qt must not find a session bus (it would switch the tray to D-Bus).
unset DBUS_SESSION_BUS_ADDRESS

run() {
  local kind=$1 dir=$2
  echo "== Building ($kind)"
  "$root/scripts/build.sh" "$kind"
  if [ "$kind" = normal ]; then
    echo "== clang-tidy"
    "$root/scripts/tidy.sh"
  fi
  echo "== Testing ($kind)"
  (cd "$dir" && ctest --output-on-failure --timeout 600 -j2)
}

case "${1:-all}" in
  normal) run normal "$root/build" ;;
  asan)   run asan "$root/build-asan" ;;
  all)    run normal "$root/build"; run asan "$root/build-asan" ;;
  *) echo "usage: $0 [normal|asan|all]" >&2; exit 2 ;;
esac
