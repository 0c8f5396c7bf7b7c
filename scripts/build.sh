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
# A compiler cache, where one is installed, lets several checkouts share objects.
if command -v ccache >/dev/null 2>&1; then
  extra+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
fi
cmake -S "$root" -B "$dir" -G Ninja -DQUELLMAIL_WERROR=ON "${extra[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
