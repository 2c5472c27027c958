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
if ! clang-format --dry-run -Werror "${files[@]}" 2>/tmp/kj-format.$$; then
  head -n 40 /tmp/kj-format.$$
  echo "format: $(grep -c 'error:' /tmp/kj-format.$$) place(s) differ from .clang-format; run scripts/check_format.sh --fix"
  rm -f /tmp/kj-format.$$
  exit 1
fi
rm -f /tmp/kj-format.$$
echo "format: every file as .clang-format has it"
