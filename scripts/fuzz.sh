#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer and runs each for the given
# number of seconds (default 60), merging new interesting inputs into the
# committed corpora (tests/fuzz/corpus/<target>).
#   scripts/fuzz.sh [seconds] [target ...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
dir=${QUELLMAIL_FUZZ_BUILD:-$root/build-fuzz}
all=(fuzz_streamframer fuzz_replypipeline fuzz_replyparsers fuzz_getotherheader fuzz_listloaders fuzz_statsfile fuzz_vcard
     fuzz_mimetext fuzz_tokenizer)
targets=("${@:-${all[@]}}")
[ $# -eq 0 ] && targets=("${all[@]}")

CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -G Ninja -DQUELLMAIL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j"$(nproc)" --target "${targets[@]}"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
runtime=$(mktemp -d /tmp/quellmail-fuzz.XXXXXX)
chmod 700 "$runtime"
export XDG_RUNTIME_DIR="$runtime"
trap 'rm -rf "$runtime"' EXIT

status=0
for t in "${targets[@]}"; do
  corpus="$root/tests/fuzz/corpus/$t"
  work=$(mktemp -d /tmp/quellmail-fuzz-$t.XXXXXX)
  # The log stays out of the folders that are merged into the corpus.
  log=$(mktemp /tmp/quellmail-fuzz-$t-log.XXXXXX)
  mkdir -p "$corpus" "$work/findings"
  echo "== $t: ${seconds}s"
  if ! (cd "$work/findings" && "$dir/fuzz/$t" -max_total_time="$seconds" -max_len=65536 -timeout=20 \
          -print_final_stats=1 "$work" "$corpus" 2>&1 | tee "$log" | grep -E "stat::number_of_executed_units|ERROR|property broken|SUMMARY|crash-|timeout-" ); then
    :
  fi
  if ls "$work/findings"/crash-* "$work/findings"/timeout-* "$work/findings"/oom-* >/dev/null 2>&1; then
    echo "!! $t found problems; inputs kept in $work/findings" >&2
    status=1
    continue
  fi
  # Keep only inputs that add coverage.
  "$dir/fuzz/$t" -merge=1 "$corpus" "$work" >/dev/null 2>&1 || true
  rm -rf "$work" "$log"
done
exit $status
