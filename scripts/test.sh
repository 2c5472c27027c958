#!/usr/bin/env bash
# Installs what is missing, checks the layering and function lengths, runs each fuzz target
# (clang, libFuzzer) for a few seconds over its corpus, runs the tests of the layers below
# Qt in an AddressSanitizer + UBSan build, then builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)
# The tests spend much of their time waiting for helper processes and locks: twice as many
# at once as there are cores keeps the cores busy.
test_jobs=$((2 * jobs))
export QT_QPA_PLATFORM=offscreen

/usr/bin/python3 scripts/check_layers.py
/usr/bin/python3 scripts/check_function_length.py
/usr/bin/python3 scripts/check_codes.py
bash scripts/check_format.sh

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
bash fuzz/run.sh 5

cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
# Added to what is set already (a clock shift around this script needs its own option).
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=1" \
  UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}print_stacktrace=1" \
  ctest --preset asan -j "$test_jobs"

cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$test_jobs"

# The one-process, window and file tests again as on the next day, and started just before
# local midnight, so that a test whose runs fall on two days, or that compares a run of
# today with one of tomorrow, fails here and not on the day it happens.
bash scripts/with_clock_shift.sh 1 ctest --preset default -j "$test_jobs" -L 'unit|gui|files'
bash scripts/with_clock_shift.sh --at 23:59:30 ctest --preset default -j "$test_jobs" \
  -L 'unit|gui|files'
