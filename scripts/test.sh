#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test, then runs the engine
# and index tests again in an AddressSanitizer + UBSan build, and runs each fuzz target
# (clang, libFuzzer) for a few seconds over its corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"

cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --preset asan -j "$jobs"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
bash fuzz/run.sh 5
