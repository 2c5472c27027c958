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
if [ ! -e "${dir}ZORBO397.ASD" ] && [ ! -e "${dir}ZORBO3.ASD" ]; then
  echo "Preparing the start-up folder $dir"
  python3 - "$dir" <<'PY'
import sys
d = sys.argv[1]
keys = ["MorvaneSti", "MorvSti", "Zorbo1Sti", "IGSSti", "RådataSti", "KodetabelSti",
        "MakroSti", "IndexSti", "DataBaseSti", "RammefilSti", "Fællesfil", "SagsDataSti",
        "UndoRedoSti"]
values = {"MorvaneSti": d, "MorvSti": d, "Zorbo1Sti": d, "Fællesfil": d + "ZorboF.asd",
          "SagsDataSti": d + "SagsData/", "UndoRedoSti": d + "Undo/"}
lines = ["[Morvane Stier]"] + [k + "=" + values.get(k, "") for k in keys]
open(d + "ZORBO397.ASD", "wb").write(("\r\n".join(lines) + "\r\n").encode("cp1252"))
def hexline(text):
    return text.encode("cp850").ljust(60, b" ")[:60].hex().upper()
user = ["; Tegnesystemets indstillinger", "1", "0,0,0", "[FIRMA]",
        hexline("Landinspektørfirmaet Øst & Ærø ApS"), hexline("Åboulevarden 12, 8000 Aarhus C")]
open(d + "ZORBO195.ASD", "wb").write(("\r\n".join(user) + "\r\n").encode("cp1252"))
PY
fi
exec build/program/kjsager "T3=$dir"
