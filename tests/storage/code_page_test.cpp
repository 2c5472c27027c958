// OEM (850) <-> ANSI (1252) tables and Windows-1252 casing, which index keys depend on.
#include "storage/code_page.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "tests/support/test_support.h"

using namespace tz;

namespace {

TEST(CodePage, TablesAreInversePermutations) {
    std::set<int> oemImages, ansiImages;
    for (int c = 0; c < 256; ++c) {
        oemImages.insert(kOemToAnsi[c]);
        ansiImages.insert(kAnsiToOem[c]);
        EXPECT_EQ(kAnsiToOem[kOemToAnsi[c]], c) << "OEM byte " << c;
        EXPECT_EQ(kOemToAnsi[kAnsiToOem[c]], c) << "ANSI byte " << c;
        if (c < 0x80) {
            EXPECT_EQ(kOemToAnsi[c], c);
            EXPECT_EQ(kAnsiToOem[c], c);
        } else {
            EXPECT_GE(kOemToAnsi[c], 0x80) << "OEM byte " << c;
        }
    }
    EXPECT_EQ(oemImages.size(), 256u);
    EXPECT_EQ(ansiImages.size(), 256u);

    std::string all;
    for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
    EXPECT_EQ(OemToAnsi(AnsiToOem(all)), all);
    EXPECT_EQ(AnsiToOem(OemToAnsi(all)), all);
    std::string buf = all;
    AnsiToOemBuf(reinterpret_cast<uint8_t*>(buf.data()), buf.size());
    EXPECT_EQ(buf, AnsiToOem(all));
    OemToAnsiBuf(reinterpret_cast<uint8_t*>(buf.data()), buf.size());
    EXPECT_EQ(buf, all);
}

TEST(CodePage, SharedCharactersMapExactly) {
    struct Pair {
        uint8_t oem, ansi;
    };
    const Pair pairs[] = {
        {0x91, 0xE6},  // ae
        {0x9B, 0xF8},  // o slash
        {0x86, 0xE5},  // a ring
        {0x92, 0xC6},  // AE
        {0x9D, 0xD8},  // O slash
        {0x8F, 0xC5},  // A ring
        {0x82, 0xE9},  // e acute
        {0x81, 0xFC},  // u diaeresis
        {0x9A, 0xDC},  // U diaeresis
        {0xE1, 0xDF},  // sharp s
        {0x9C, 0xA3},  // pound
        {0x84, 0xE4},  // a diaeresis
        {0x99, 0xD6},  // O diaeresis
        {0xF8, 0xB0},  // degree
        {0xE6, 0xB5},  // micro
        {0xF5, 0xA7},  // section
        {0xA7, 0xBA},  // masculine ordinal
        {0xAE, 0xAB},  // left guillemet
    };
    for (const Pair& p : pairs) {
        EXPECT_EQ(OemToAnsiChar(p.oem), p.ansi) << std::hex << int(p.oem);
        EXPECT_EQ(AnsiToOemChar(p.ansi), p.oem) << std::hex << int(p.ansi);
    }
    EXPECT_EQ(AnsiToOem("K\xF8"
                        "benhavn \xC6"
                        "bler \xE5"),
              "K\x9B"
              "benhavn \x92"
              "bler \x86");
}

TEST(CodePage, Windows1252Casing) {
    EXPECT_EQ(AnsiUpperStr("abc xyz \xE6\xF8\xE5 \xE9\xFC"), "ABC XYZ \xC6\xD8\xC5 \xC9\xDC");
    EXPECT_EQ(AnsiLowerStr("ABC XYZ \xC6\xD8\xC5 \xC9\xDC"), "abc xyz \xE6\xF8\xE5 \xE9\xFC");
    // The four pairs outside the 0xC0-0xFF block.
    EXPECT_EQ(AnsiUpperStr("\x9A\x9C\x9E\xFF"), "\x8A\x8C\x8E\x9F");
    EXPECT_EQ(AnsiLowerStr("\x8A\x8C\x8E\x9F"), "\x9A\x9C\x9E\xFF");
    // Letters without a case partner, and the two signs in the letter block, stay.
    for (uint8_t c : {0xB5, 0xDF, 0x83, 0xAA, 0xBA, 0xD7, 0xF7}) {
        EXPECT_EQ(AnsiUpperChar(c), c) << int(c);
        EXPECT_EQ(AnsiLowerChar(c), c) << int(c);
    }
    for (int c = 0; c < 256; ++c) {
        uint8_t u = AnsiUpperChar(static_cast<uint8_t>(c));
        uint8_t l = AnsiLowerChar(static_cast<uint8_t>(c));
        // Casing never leaves the letters and is undone by the opposite direction.
        if (u != c) {
            EXPECT_TRUE(IsAnsiAlpha(static_cast<uint8_t>(c))) << c;
            EXPECT_EQ(AnsiLowerChar(u), c) << c;
        }
        if (l != c) {
            EXPECT_EQ(AnsiUpperChar(l), c) << c;
        }
        EXPECT_FALSE(u != c && l != c) << c;
    }
}

// Python's codecs and Unicode data as the outside reference: /usr/bin/python3 prints one line
// "<byte> <letter 0/1> <OEM 850 byte of the same character, or -1>" per Windows-1252 byte.
std::map<int, std::pair<int, int>> PythonCodePages() {
    const std::string script =
        "import unicodedata\n"
        "for c in range(256):\n"
        "    try: ch = bytes([c]).decode('cp1252')\n"
        "    except UnicodeDecodeError: ch = None\n"
        "    letter = ch is not None and unicodedata.category(ch) in ('Lu', 'Ll', 'Lt', 'Lo')\n"
        "    try: oem = ch.encode('cp850')[0] if ch is not None else -1\n"
        "    except UnicodeEncodeError: oem = -1\n"
        "    print(c, int(letter), oem)\n";
    std::string out;
    EXPECT_EQ(kjtest::RunCommand("/usr/bin/python3 -c \"" + script + "\"", &out), 0) << out;
    std::map<int, std::pair<int, int>> rows;
    std::istringstream in(out);
    int c, letter, oem;
    while (in >> c >> letter >> oem) rows[c] = {letter, oem};
    return rows;
}

// A letter is what Unicode calls one (cased or not; modifier signs such as 0x88 are not);
// bytes Windows-1252 leaves undefined are not letters.
TEST(CodePage, LetterTest) {
    const auto python = PythonCodePages();
    ASSERT_EQ(python.size(), 256u);
    for (const auto& [c, row] : python)
        EXPECT_EQ(IsAnsiAlpha(static_cast<uint8_t>(c)), row.first == 1)
            << "Windows-1252 byte " << c;
}

// Every character that code page 850 and Windows-1252 share maps onto itself both ways.
TEST(CodePage, SharedCharactersMapAsPythonsCodecs) {
    int shared = 0;
    for (const auto& [ansi, row] : PythonCodePages()) {
        if (row.second < 0) continue;
        ++shared;
        EXPECT_EQ(AnsiToOemChar(static_cast<uint8_t>(ansi)), row.second)
            << "Windows-1252 byte " << ansi;
        EXPECT_EQ(OemToAnsiChar(static_cast<uint8_t>(row.second)), ansi)
            << "OEM byte " << row.second;
    }
    EXPECT_EQ(shared, 128 + 97);  // the ASCII half and the 97 shared upper characters
}

}  // namespace
