#!/usr/bin/env python3
"""Fails when engine code reports a failure with a bare number instead of a named code
(storage/tz_errors.h), or writes the error word other than through the error unit.

Flags, in code (not comments or string literals) of the engine and program folders:
  - a number as the code of SetError, SetErrorWord, Error, Fail, ReportError or
    FailOpen(area, code, ...) (0 is allowed: it reports nothing)
  - an assignment to ErrorWord (read it with ErrorWord(), write it with ClearErrorWord,
    SetError or SetErrorWord)
Usage: check_codes.py [root]   (exit 1 and one line per offence)
"""
import os
import re
import sys

FOLDERS = ["storage", "expr", "index", "data", "ui", "app", "reports"]
SOURCE = (".h", ".hpp", ".cpp", ".cc")
CODE_CALL = re.compile(
    r"\b(?:SetError|SetErrorWord|Error|Fail|ReportError)\(\s*([1-9]\d*)\b|\bFailOpen\(\s*\w+,\s*([1-9]\d*)\b")
WORD_WRITE = re.compile(r"\bErrorWord\s*=(?!=)")
LITERAL = re.compile(r'"(?:\\.|[^"\\])*"|\'(?:\\.|[^\'\\])\'')


def code_part(line):
    """The line without string and character literals and without its // comment."""
    line = LITERAL.sub('""', line)
    cut = line.find("//")
    return line if cut < 0 else line[:cut]


def offences(root, rel):
    with open(os.path.join(root, rel), encoding="latin-1") as f:
        in_block = False
        for number, raw in enumerate(f, 1):
            line = raw
            if in_block:
                end = line.find("*/")
                if end < 0:
                    continue
                line, in_block = line[end + 2:], False
            start = line.find("/*")
            if start >= 0 and line.find("*/", start) < 0:
                line, in_block = line[:start], True
            code = code_part(line)
            m = CODE_CALL.search(code)
            if m:
                yield f"{rel}:{number}: bare error code {m.group(1) or m.group(2)}: use its TzErr:: name"
            if WORD_WRITE.search(code):
                yield f"{rel}:{number}: direct write of the error word: use ClearErrorWord, SetError or SetErrorWord"


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    root = os.path.abspath(root)
    found = []
    for top in FOLDERS:
        for folder, _, files in os.walk(os.path.join(root, top)):
            for name in sorted(files):
                if name.endswith(SOURCE):
                    rel = os.path.relpath(os.path.join(folder, name), root)
                    found.extend(offences(root, rel))
    for line in found:
        print(line)
    if found:
        print(f"error codes: {len(found)} bare code(s) or direct error-word write(s)")
        return 1
    print("error codes: every report names its code")
    return 0


if __name__ == "__main__":
    sys.exit(main())
