#!/usr/bin/env bash
# Checks that the committed seeds are what kj_fuzz_seeds writes, then runs each fuzz target
# of build-fuzz/ for a few seconds over a copy of its corpus (the tree is not changed), after
# replaying its saved regressions. A drifted seed, a crash, a leak or a time-out fails.
# Usage: fuzz/run.sh [seconds per target] [targets...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-5}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(table memo index expr fields)
work=$(mktemp -d "${TMPDIR:-/tmp}/kjfuzz-run-XXXXXX")
# The targets' own files (in memory where there is a tmpfs), also after a crash.
shm=/dev/shm; [ -w "$shm" ] || shm=$work
export KJFUZZ_TMP=$(mktemp -d "$shm/kjfuzz-files-XXXXXX")
trap 'rm -rf "$work" "$KJFUZZ_TMP"' EXIT
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
if [ -s fuzz/known-leaks.supp ]; then
  export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/fuzz/known-leaks.supp:print_suppressions=0}
fi
# The committed seeds are what kj_fuzz_seeds writes, on any day: a seed that differs or is
# missing fails, whether written today or with the clock moved a month back, a day on and
# more than a year on (write them again with build-fuzz/fuzz/kj_fuzz_seeds fuzz/corpus).
# Inputs kept from fuzzing beside them are left alone.
drift=0
for days in 0 -30 1 400; do
  out=$work/seeds$days
  bash scripts/with_clock_shift.sh "$days" build-fuzz/fuzz/kj_fuzz_seeds "$out" \
      >"$work/seeds.log" 2>&1 ||
    { tail -n 20 "$work/seeds.log"; echo "kj_fuzz_seeds failed (clock moved $days days)"; exit 1; }
  while IFS= read -r -d '' f; do
    rel=${f#"$out/"}
    cmp -s "$f" "fuzz/corpus/$rel" ||
      { echo "fuzz seed differs from kj_fuzz_seeds (clock moved $days days): fuzz/corpus/$rel";
        drift=1; }
  done < <(find "$out" -type f -print0)
done
[ "$drift" -eq 0 ] || { echo "fuzz seeds drifted; run build-fuzz/fuzz/kj_fuzz_seeds fuzz/corpus"; exit 1; }
for t in "${targets[@]}"; do
  bin=build-fuzz/fuzz/fuzz_$t
  mkdir -p "$work/$t"
  cp fuzz/corpus/$t/* "$work/$t/"
  replay=()
  for f in fuzz/regressions/$t/*; do
    [ -f "$f" ] || continue
    grep -qxF "${f#fuzz/regressions/}" fuzz/regressions/known.txt 2>/dev/null || replay+=("$f")
  done
  if [ ${#replay[@]} -gt 0 ]; then
    echo "fuzz_$t: replaying ${#replay[@]} saved regressions"
    "$bin" -rss_limit_mb=2048 -timeout=20 "${replay[@]}" >"$work/$t.replay.log" 2>&1 ||
      { tail -n 60 "$work/$t.replay.log"; echo "fuzz_$t: a saved regression fails"; exit 1; }
  fi
  echo "fuzz_$t: ${seconds}s"
  "$bin" "$work/$t" -max_total_time="$seconds" -seed=1 -rss_limit_mb=2048 -timeout=20 \
      -max_len=131072 -print_final_stats=1 -artifact_prefix="$work/$t-" >"$work/$t.log" 2>&1 ||
    { tail -n 60 "$work/$t.log"; echo "fuzz_$t failed; input kept in a copy:";
      for f in "$work/$t"-*; do cp "$f" "${TMPDIR:-/tmp}/" && echo "  ${TMPDIR:-/tmp}/$(basename "$f")"; done; exit 1; }
  grep -E "stat::number_of_executed_units" "$work/$t.log" | sed "s/^/fuzz_$t: /"
done
