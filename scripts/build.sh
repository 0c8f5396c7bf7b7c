#!/usr/bin/env bash
# Configures and builds one build tree: scripts/build.sh [normal|asan]
# Warnings are errors here, so a warning cannot slip through CI.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-normal}
case "$kind" in
  normal) dir="$root/build"; extra=() ;;
  asan)   dir="$root/build-asan"; extra=(-DQUELLMAIL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  *) echo "usage: $0 [normal|asan]" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$dir" -G Ninja -DQUELLMAIL_WERROR=ON "${extra[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
