#!/usr/bin/env bash
# Runs a command as on another day: its processes (and theirs) see the wall clock moved by
# DAYS days (negative moves back), through a small preloaded library built here on first use.
# Usage: scripts/with_clock_shift.sh DAYS command [args...]
#   e.g. scripts/with_clock_shift.sh 400 ctest --preset default -j16
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
days=$1
shift
lib=${KJ_CLOCK_SHIFT_LIB:-$root/build-clock/clock_shift.so}
if [ ! -f "$lib" ] || [ "$root/tests/support/clock_shift.c" -nt "$lib" ]; then
  mkdir -p "$(dirname "$lib")"
  cc -shared -fPIC -O2 -o "$lib" "$root/tests/support/clock_shift.c" -ldl
fi
# A sanitizer build wants its runtime first among the libraries; the shim comes before it.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
export KJ_CLOCK_SHIFT_DAYS=$days
export LD_PRELOAD="$lib${LD_PRELOAD:+:$LD_PRELOAD}"
exec "$@"
