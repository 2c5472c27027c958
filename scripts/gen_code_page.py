#!/usr/bin/env python3
"""Generates the OEM (code page 850) <-> ANSI (Windows-1252) tables in storage/code_page.cpp.

Bytes 0x00-0x7F map to themselves. A character present in both code pages maps exactly.
The remaining bytes of each page (box drawing and the like in 850; the bytes 1252 leaves
undefined, 0x81 0x8D 0x8F 0x90 0x9D, and its characters 850 lacks) are paired in ascending
byte order, so the two tables are inverse permutations and every byte survives a round trip.
Run it and paste the output over the two arrays.
"""


def char_of(byte, codec):
    try:
        return bytes([byte]).decode(codec)
    except UnicodeDecodeError:
        return None


def build():
    oem_to_ansi = list(range(256))
    ansi_of_char = {}
    for b in range(0x80, 0x100):
        ch = char_of(b, "cp1252")
        if ch is not None:
            ansi_of_char[ch] = b
    unshared_oem = []
    used_ansi = set()
    for b in range(0x80, 0x100):
        ch = char_of(b, "cp850")
        if ch is not None and ch in ansi_of_char:
            oem_to_ansi[b] = ansi_of_char[ch]
            used_ansi.add(ansi_of_char[ch])
        else:
            unshared_oem.append(b)
    unshared_ansi = [b for b in range(0x80, 0x100) if b not in used_ansi]
    assert len(unshared_oem) == len(unshared_ansi)
    for o, a in zip(unshared_oem, unshared_ansi):
        oem_to_ansi[o] = a
    ansi_to_oem = [0] * 256
    for o, a in enumerate(oem_to_ansi):
        ansi_to_oem[a] = o
    assert sorted(oem_to_ansi) == list(range(256))
    assert all(oem_to_ansi[ansi_to_oem[a]] == a for a in range(256))
    return oem_to_ansi, ansi_to_oem, len(unshared_oem)


def emit(name, table):
    print("const uint8_t %s[256] = {" % name)
    for row in range(0, 256, 16):
        cells = ", ".join("0x%02X" % v for v in table[row:row + 16])
        print("    %s," % cells)
    print("};")


def main():
    oem_to_ansi, ansi_to_oem, unshared = build()
    print("// %d bytes of each page are unshared and paired in ascending order." % unshared)
    emit("kOemToAnsi", oem_to_ansi)
    print()
    emit("kAnsiToOem", ansi_to_oem)


if __name__ == "__main__":
    main()
