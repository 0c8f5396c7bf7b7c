#!/usr/bin/env bash
# Builds the benchmarks (optimised, in a build tree of their own) and runs the
# driver, which starts its own Dovecot on 127.0.0.1 and prints the table. The
# table is also written to bench/results.md. Then bench/learned.sh adds its
# section (the learned filter against bogofilter on a labelled corpus).
#
#   bench/run.sh [--runs N] [--quick] [--cases 1,2,3,4,5,6,7,8,9,10]
#
# QUELLMAIL_BENCH_BUILD picks another build tree.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${QUELLMAIL_BENCH_BUILD:-$root/build-bench}

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$dir" -j"$(nproc)" --target \
  tarnpostctl bench_quellmail bench_scan bench_retrieve bench_stream_memory bench_idle_cpu

export QT_QPA_PLATFORM=offscreen
export QT_LOGGING_RULES="qt.core.qobject.connect.warning=false"
if [ -z "${XDG_RUNTIME_DIR:-}" ] || [ ! -d "${XDG_RUNTIME_DIR}" ]; then
  XDG_RUNTIME_DIR=$(mktemp -d)
  chmod 700 "$XDG_RUNTIME_DIR"
  export XDG_RUNTIME_DIR
fi
"$dir/bench/bench_quellmail" --output "$root/bench/results.md" "$@"
# The driver rewrote the file; the learned filter's section goes back in.
QUELLMAIL_BENCH_BUILD=$dir "$root/bench/learned.sh"
