#!/usr/bin/env bash
# Formats the tracked C++ sources with the root .clang-format.
# scripts/format.sh          rewrites the files in place
# scripts/format.sh --check  changes nothing; fails when a file would change
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tool=${CLANG_FORMAT:-clang-format}
if ! command -v "$tool" >/dev/null 2>&1; then
  echo "$tool not found (Debian package clang-format; scripts/install-deps.sh installs it)" >&2
  exit 2
fi

# Fuzz corpora are inputs, not sources, whatever their names.
mapfile -d '' files < <(git ls-files -z -- '*.cpp' '*.h' ':!:tests/fuzz/corpus/**')
[ ${#files[@]} -eq 0 ] && exit 0

case "${1:-}" in
  "")      printf '%s\0' "${files[@]}" | xargs -0 -n 50 "$tool" -i --style=file ;;
  --check)
    printf '%s\0' "${files[@]}" | xargs -0 -n 50 "$tool" --dry-run --Werror --style=file \
      || { echo "Formatting differs; scripts/format.sh rewrites the files." >&2; exit 1; } ;;
  *) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac
