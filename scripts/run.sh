#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it on a start-up folder.
# Usage: bash scripts/run.sh [T3=<folder>]   (default folder: ~/QELN/)
# A start-up folder without a path-setup file gets one (ZORBO397.ASD: the system folder is
# the start-up folder itself, the data folder its SagsData/) and a user-data file
# (ZORBO195.ASD) with a sample firm name and address.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target kjsager

arg="${1:-}"
dir="${arg#T3=}"
[ -n "$dir" ] || dir="$HOME/QELN/"
case "$dir" in */) ;; *) dir="$dir/" ;; esac
mkdir -p "$dir"
/usr/bin/python3 scripts/prepare_startup.py "$dir"
exec build/program/kjsager "T3=$dir"
