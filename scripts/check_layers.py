#!/usr/bin/env python3
"""Fails when a source file includes a header of a higher layer, or Qt below the Qt layer.

Layers, lowest first: storage, expr, index, data, ui, app, reports, program (main). A file in a layer's
folder (or in tests/<layer>, bench/<layer>) may include headers of its own layer and of the
layers below it; tests may also use tests/support and the test helpers of lower layers.
Usage: check_layers.py [root]   (exit 1 and one line per offence when the rule is broken)
"""
import os
import re
import sys

LAYERS = ["storage", "expr", "index", "data", "ui", "app", "reports", "program"]
RANK = {name: i for i, name in enumerate(LAYERS)}
QT_LAYER = RANK["ui"]
SOURCE = (".h", ".hpp", ".cpp", ".cc")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
QT_HEADER = re.compile(r"^(Q[A-Z]\w*|Qt\w*/\w+|qt\w*\.h)$")


def layer_of(rel):
    """Rank of the layer a file belongs to, or None for files outside the layers."""
    parts = rel.split("/")
    if parts[0] in ("tests", "bench", "fuzz") and len(parts) > 2:
        parts = parts[1:]
    return RANK.get(parts[0])


def offences(root, rel):
    own = layer_of(rel)
    if own is None:
        return
    with open(os.path.join(root, rel), encoding="latin-1") as f:
        for number, line in enumerate(f, 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            bracket, target = m.groups()
            if bracket == "<" and own < QT_LAYER and QT_HEADER.match(target):
                yield f"{rel}:{number}: Qt header <{target}> below the Qt layer"
                continue
            parts = target.split("/")
            if parts[0] in ("tests", "bench") and len(parts) > 2:
                parts = parts[1:]
            rank = RANK.get(parts[0])
            if bracket == '"' and rank is not None and rank > own:
                yield f'{rel}:{number}: "{target}" is a higher layer than {LAYERS[own]}/'


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    root = os.path.abspath(root)
    found = []
    for top in LAYERS + ["tests", "bench", "fuzz"]:
        for folder, _, files in os.walk(os.path.join(root, top)):
            for name in sorted(files):
                if name.endswith(SOURCE):
                    rel = os.path.relpath(os.path.join(folder, name), root)
                    found.extend(offences(root, rel))
    for line in found:
        print(line)
    if found:
        print(f"layering: {len(found)} include(s) against the layer order " + " <- ".join(LAYERS))
        return 1
    print("layering: every include points down the layer order")
    return 0


if __name__ == "__main__":
    sys.exit(main())
