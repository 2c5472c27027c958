#!/usr/bin/env python3
"""Fails when a function body is longer than LIMIT lines without a reason written above it.

A function is a brace block that opens at the top level of a source file (or inside a
namespace, or inside a class for an inline member) after a ")" -- a constructor's
initialiser list, "const", "noexcept", "override" or a trailing return type may stand
between. Its length counts the lines from the one holding the opening brace to the one
holding the closing brace. A function may be longer when the comment block just above it
(or the line above it) says why, with the words "Long because".
Usage: check_function_length.py [root]   (exit 1 and one line per offender)
"""
import os
import re
import sys

LIMIT = 150
FOLDERS = ["storage", "expr", "index", "data", "ui", "app", "reports"]
SOURCE = (".h", ".hpp", ".cpp", ".cc")
REASON = "Long because"
SCOPE = re.compile(r"\b(namespace|class|struct|union|enum)\b[^;()]*$")
AFTER_PARAMS = re.compile(
    r"\)\s*(const|noexcept|override|final|mutable|volatile|&|&&|->\s*[\w:<>,\s*&]+|\s)*$")
INIT_LIST = re.compile(r"\)\s*:\s*[\w:]+\s*[({]", re.S)


def blank_out(text):
    """The text with comments, string and character literals replaced by spaces (newlines
    are kept, so line numbers stay)."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c == "R" and text.startswith('R"', i) and (i == 0 or not text[i - 1].isalnum()):
            m = re.match(r'R"([^(\s]*)\(', text[i:])
            end = text.find(")" + (m.group(1) if m else "") + '"', i)
            j = n if end < 0 or not m else end + len(m.group(1)) + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c in "\"'" and not (c == "'" and 0 < i < n - 1 and text[i - 1].isdigit()
                                  and text[i + 1].isalnum()):  # not a digit separator
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(" " * (j - i))
            i = j
        else:
            out.append(c)
            i += 1
    return "".join(out)


def is_function_head(head):
    """True when the text before an opening brace ends like a function's signature."""
    head = head.rstrip()
    if not head or head.endswith(("=", ",", "(", "[", "return")):
        return False
    if SCOPE.search(head.split(";")[-1].split("}")[-1]):
        return False
    if AFTER_PARAMS.search(head):
        return True
    return bool(INIT_LIST.search(head[-2000:])) and head.endswith((")", "}"))


def has_reason(lines, first):
    """True when the comment block (or line) just above line index first gives a reason."""
    k = first - 1
    while k >= 0:
        line = lines[k].strip()
        if REASON in line:
            return True
        if not (line.startswith("//") or line.startswith("*") or line.startswith("/*")
                or line.startswith("template") or line.startswith("[[")):
            return False
        k -= 1
    return False


def functions(text):
    """(first line, last line) of every function, counted from 1."""
    clean = blank_out(text)
    stack = []  # per open brace: True when it is a scope that may hold functions
    inits = []  # per open brace: True when it is a brace initialiser (w_{2}) in a head
    head_start = 0
    found = []
    for i, c in enumerate(clean):
        if c == "{":
            head = clean[head_start:i]
            in_scope = all(stack)
            is_fn = in_scope and is_function_head(head)
            if is_fn:
                found.append([clean.count("\n", 0, i) + 1, None, len(stack)])
            is_scope = bool(SCOPE.search(head.split(";")[-1].split("}")[-1]))
            stack.append(in_scope and not is_fn and is_scope)
            inits.append(in_scope and not is_fn and not is_scope
                         and bool(re.search(r"[\w>]\s*$", head)))
            if not inits[-1]:
                head_start = i + 1
        elif c == "}":
            init = inits.pop() if inits else False
            if stack:
                stack.pop()
            for entry in found:
                if entry[1] is None and entry[2] == len(stack):
                    entry[1] = clean.count("\n", 0, i) + 1
            if not init:
                head_start = i + 1
        elif c == ";" and all(stack):
            head_start = i + 1
    return [(first, last) for first, last, _ in found if last is not None]


def head_line(lines, brace_line):
    """Index of the first line of the signature that ends on brace_line (counted from 1)."""
    k = brace_line - 1
    while k > 0:
        above = lines[k - 1].strip()
        if (not above or above.endswith((";", "}", "{")) or above.startswith(("//", "#", "*"))
                or above.endswith("*/") or re.match(r"^(public|private|protected):$", above)):
            break
        k -= 1
    return k


def offenders(root, rel):
    with open(os.path.join(root, rel), encoding="latin-1") as f:
        text = f.read()
    lines = text.split("\n")
    for first, last in functions(text):
        length = last - first + 1
        if length <= LIMIT:
            continue
        start = head_line(lines, first)
        if has_reason(lines, start):
            continue
        name = lines[start].strip()[:80]
        yield f"{rel}:{start + 1}: {length} lines: {name}"


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    root = os.path.abspath(root)
    found = []
    for top in FOLDERS:
        for folder, dirs, files in os.walk(os.path.join(root, top)):
            dirs.sort()
            for name in sorted(files):
                if name.endswith(SOURCE):
                    rel = os.path.relpath(os.path.join(folder, name), root)
                    found.extend(offenders(root, rel))
    for line in found:
        print(line)
    if found:
        print(f"{len(found)} function(s) over {LIMIT} lines without a 'Long because' note above",
              file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
