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
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --preset asan -j "$test_jobs"

cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$test_jobs"
