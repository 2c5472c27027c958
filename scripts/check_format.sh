#!/usr/bin/env bash
# Fails when a C++ source file differs from what clang-format makes of it (.clang-format).
# Usage: scripts/check_format.sh [--fix]   (--fix formats the files in place)
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find . -name '*.cpp' -o -name '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
report=$(mktemp "${TMPDIR:-/tmp}/kj-format.XXXXXX")
trap 'rm -f "$report"' EXIT
if ! clang-format --dry-run -Werror "${files[@]}" 2>"$report"; then
  head -n 40 "$report"
  echo "format: $(grep -c 'error:' "$report") place(s) differ from .clang-format; run scripts/check_format.sh --fix"
  exit 1
fi
echo "format: every file as .clang-format has it"
