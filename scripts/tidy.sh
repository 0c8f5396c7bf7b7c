#!/usr/bin/env bash
# Runs clang-tidy (the checks in .clang-tidy) over the product's sources, or
# with --changed REV over those changed since REV. Needs the normal build
# tree for its compile commands: scripts/build.sh first.
#   scripts/tidy.sh [--changed REV]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [ ! -f build/compile_commands.json ]; then
  echo "scripts/tidy.sh: no build/compile_commands.json; run scripts/build.sh first" >&2
  exit 2
fi
case "${1:-}" in
  --changed) files=$(git diff --name-only --diff-filter=d "${2:?--changed needs a revision}" -- '*.cpp') ;;
  "") files=$(git ls-files '*.cpp') ;;
  *) echo "usage: $0 [--changed REV]" >&2; exit 2 ;;
esac
# Tests and benchmarks are left to the compiler's warnings.
files=$(printf '%s\n' $files | grep -vE '^(tests|bench)/' || true)
[ -n "$files" ] || { echo "clang-tidy: nothing to check"; exit 0; }
printf '%s\n' $files | xargs -P "$(nproc)" -n 4 clang-tidy -p build --quiet 2>/dev/null
echo "clang-tidy: $(printf '%s\n' $files | wc -l) files clean"
