#!/usr/bin/env python3
"""Prepares a start-up folder for kjsager when it has no path-setup file yet.

The folder gets ZORBO397.ASD (the system folder is the start-up folder itself, the data
folder its SagsData/, or the one given with --data) and a user-data file (ZORBO195.ASD) with
a sample firm name and address. Used by scripts/run.sh and by the real-input tests.

Usage: prepare_startup.py <folder> [--data <data folder>]
"""
import os
import sys

KEYS = ["MorvaneSti", "MorvSti", "Zorbo1Sti", "IGSSti", "RådataSti", "KodetabelSti",
        "MakroSti", "IndexSti", "DataBaseSti", "RammefilSti", "Fællesfil", "SagsDataSti",
        "UndoRedoSti"]
FIRM = "Landinspektørfirmaet Øst & Ærø ApS"
ADDRESS = "Åboulevarden 12, 8000 Aarhus C"


def _slash(path):
    return path if path.endswith("/") else path + "/"


def _hexline(text):
    return text.encode("cp850").ljust(60, b" ")[:60].hex().upper()


def prepare(folder, data_dir=None):
    """Writes the two files into folder unless a path-setup file is there already.
    Returns the folder with a trailing slash."""
    d = _slash(os.path.abspath(folder))
    os.makedirs(d, exist_ok=True)
    if os.path.exists(d + "ZORBO397.ASD") or os.path.exists(d + "ZORBO3.ASD"):
        return d
    data = _slash(os.path.abspath(data_dir)) if data_dir else d + "SagsData/"
    values = {"MorvaneSti": d, "MorvSti": d, "Zorbo1Sti": d, "Fællesfil": d + "ZorboF.asd",
              "SagsDataSti": data, "UndoRedoSti": d + "Undo/"}
    lines = ["[Morvane Stier]"] + [k + "=" + values.get(k, "") for k in KEYS]
    with open(d + "ZORBO397.ASD", "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode("cp1252"))
    user = ["; Tegnesystemets indstillinger", "1", "0,0,0", "[FIRMA]", _hexline(FIRM),
            _hexline(ADDRESS)]
    with open(d + "ZORBO195.ASD", "wb") as f:
        f.write(("\r\n".join(user) + "\r\n").encode("cp1252"))
    return d


def main(argv):
    if len(argv) not in (2, 4) or (len(argv) == 4 and argv[2] != "--data"):
        sys.stderr.write(__doc__)
        return 2
    folder = argv[1]
    if not os.path.exists(os.path.join(folder, "ZORBO397.ASD")) and \
            not os.path.exists(os.path.join(folder, "ZORBO3.ASD")):
        print("Preparing the start-up folder " + _slash(folder))
    prepare(folder, argv[3] if len(argv) == 4 else None)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
