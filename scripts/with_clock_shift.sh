#!/usr/bin/env bash
# Runs a command as on another day or at another hour: its processes (and theirs) see the
# wall clock moved, through a small preloaded library built here on first use.
# Usage: scripts/with_clock_shift.sh DAYS command [args...]
#          moves the clock by DAYS days (negative moves back);
#        scripts/with_clock_shift.sh --at HH:MM:SS command [args...]
#          sets the local time to HH:MM:SS when the command starts; the clock goes on from
#          there, the same for every process the command starts (23:59:45 crosses midnight
#          15 seconds later).
#   e.g. scripts/with_clock_shift.sh 400 ctest --preset default -j16
#        scripts/with_clock_shift.sh --at 23:59:00 ctest --preset default -j16
# Nested, the shifts add up (--at sets the time of the day the outer shift gives).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
lib=${KJ_CLOCK_SHIFT_LIB:-$root/build-clock/clock_shift.so}
if [ ! -f "$lib" ] || [ "$root/tests/support/clock_shift.c" -nt "$lib" ]; then
  mkdir -p "$(dirname "$lib")"
  # Built apart and renamed, so that runs starting at once never load a half-written file.
  cc -shared -fPIC -O2 -o "$lib.$$" "$root/tests/support/clock_shift.c" -ldl
  mv -f "$lib.$$" "$lib"
fi
seconds=$(( ${KJ_CLOCK_SHIFT_SECONDS:-0} + ${KJ_CLOCK_SHIFT_DAYS:-0} * 86400 ))
unset KJ_CLOCK_SHIFT_DAYS
if [ "$1" = "--at" ]; then
  # The seconds from the local time of day now (on the day the outer shift gives) to HH:MM:SS.
  IFS=: read -r h m s <<<"$2"
  now=$(LD_PRELOAD= date +%s)  # the real clock, also inside another shift
  IFS=: read -r nh nm ns <<<"$(LD_PRELOAD= date -d "@$((now + seconds))" +%H:%M:%S)"
  seconds=$(( seconds + (10#$h * 3600 + 10#$m * 60 + 10#$s) - (10#$nh * 3600 + 10#$nm * 60 + 10#$ns) ))
  shift 2
else
  seconds=$(( seconds + $1 * 86400 ))
  shift
fi
export KJ_CLOCK_SHIFT_SECONDS=$seconds
# A sanitizer build wants its runtime first among the libraries; the shim comes before it.
case ":${ASAN_OPTIONS:-}:" in
  *:verify_asan_link_order=0:*) ;;
  *) export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" ;;
esac
case ":${LD_PRELOAD:-}:" in
  *":$lib:"*) ;;
  *) export LD_PRELOAD="$lib${LD_PRELOAD:+:$LD_PRELOAD}" ;;
esac
exec "$@"
