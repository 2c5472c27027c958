// Memo files against independent readers and writers: files of each flavour written here are
// read back by python3-dbfread, and memo files written by python3-dbf are read by GetMemo.
#include <sstream>

#include "storage/code_page.h"
#include "tests/storage/memo_fixture.h"

using namespace memotest;

namespace {

std::string ToHex(const std::string& s) {
    static const char* d = "0123456789abcdef";
    std::string h;
    for (unsigned char c : s) {
        h += d[c >> 4];
        h += d[c & 15];
    }
    return h;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> v;
    std::istringstream in(text);
    std::string l;
    while (std::getline(in, l)) v.push_back(l);
    return v;
}

TEST_F(MemoTest, DbfreadReadsOurMemoFiles) {
    const std::string ansi = "Taksation \xe6\xf8\xe5 \xc6\xd8\xc5";  // æøå ÆØÅ
    const std::string longText = std::string(1500, 'L') + "\r\nend";
    for (uint8_t v : {uint8_t(0x83), uint8_t(0x8B), uint8_t(0xF5)}) {
        SCOPED_TRACE(int(v));
        std::string base = "our" + std::to_string(v);
        auto a = NewTable(base, v);
        a->ansiToOem = &tz::AnsiToOemBuf;
        int32_t b1 = Memo::AddMemo(*a, ansi);
        Memo::ClearEditor();
        Memo::Editor().lines = {{"first line", 13}, {"second", 13}};
        int32_t b2 = Memo::EditMemo(*a, 0);
        int32_t b3 = Memo::AddMemo(*a, longText);
        ASSERT_TRUE(b1 > 0 && b2 > b1 && b3 > b2);
        std::string dbf = a->fileName;
        a.reset();
        kjtest::WriteFile(dbf, DbfBytes(v, {{"one", b1}, {"two", b2}, {"none", 0}, {"three", b3}}));
        std::string script =
            "/usr/bin/python3 -c \"import dbfread,sys\n"
            "for r in dbfread.DBF(sys.argv[1], encoding='cp850'):\n"
            "  m = r['NOTES']\n"
            "  print(r['NAME'], (m or '').encode('cp850').hex())\" " +
            dbf;
        std::string out;
        ASSERT_EQ(kjtest::RunCommand(script, &out), 0) << out;
        std::vector<std::string> lines = Lines(out);
        ASSERT_EQ(lines.size(), 4u) << out;
        std::string expect[] = {tz::AnsiToOem(ansi), "first line\r\nsecond\r\n", "", longText};
        const char* names[] = {"one", "two", "none", "three"};
        for (int i = 0; i < 4; ++i) {
            std::string name = lines[size_t(i)].substr(0, lines[size_t(i)].find(' '));
            std::string hex = lines[size_t(i)].substr(lines[size_t(i)].find(' ') + 1);
            EXPECT_EQ(name, names[i]);
            if (v == 0x8B) {
                // dbfread reads the stored total (text + 8) after the block header.
                EXPECT_EQ(hex.substr(0, expect[i].size() * 2), ToHex(expect[i])) << i;
            } else {
                EXPECT_EQ(hex, ToHex(expect[i])) << i;
            }
        }
    }
}

TEST_F(MemoTest, GetMemoReadsMemoFilesOfPythonDbf) {
    for (const char* type : {"db3", "fp", "clp"}) {
        SCOPED_TRACE(type);
        std::string path = dir.file(std::string("py_") + type + ".dbf");
        std::string script =
            "/usr/bin/python3 -c \"import dbf,sys\n"
            "t = dbf.Table(sys.argv[1], 'name C(10); notes M', dbf_type=sys.argv[2], "
            "codepage='cp850')\n"
            "t.open(dbf.READ_WRITE)\n"
            "t.append(('a', 'hello world\\r\\nline two'))\n"
            "t.append(('b', ''))\n"
            "t.append(('c', 'x' * 700))\n"
            "t.append(('d', 'S\\u00f8ren \\u00c6bler'))\n"
            "t.close()\" " +
            path + " " + type;
        std::string out;
        ASSERT_EQ(kjtest::RunCommand(script, &out), 0) << out;
        auto a = OpenTable(path);
        a->oemToAnsi = &tz::OemToAnsiBuf;
        std::string bytes = kjtest::ReadFile(path);
        ASSERT_EQ(a->recCount, 4);
        std::vector<std::string> got;
        for (int r = 1; r <= 4; ++r) {
            size_t off = size_t(a->headerLength) + size_t(r - 1) * a->recordLength;
            ASSERT_LE(off + a->recordLength, bytes.size());
            std::copy(bytes.begin() + long(off), bytes.begin() + long(off + a->recordLength),
                      a->record.begin());
            ASSERT_TRUE(Memo::GetMemo(*a, Memo::BlockOfField(*a, 2))) << TzCommon::LastMessage();
            got.push_back(JoinedLines());
        }
        EXPECT_EQ(got[0], "hello worldline two");
        EXPECT_EQ(got[1], "");
        EXPECT_EQ(got[2], std::string(700, 'x'));
        EXPECT_EQ(got[3],
                  "S\xf8ren \xc6"
                  "bler");

        // A memo added here is read by python-dbf's own reader... via dbfread.
        std::copy(bytes.begin() + a->headerLength,
                  bytes.begin() + a->headerLength + a->recordLength, a->record.begin());
        a->ansiToOem = &tz::AnsiToOemBuf;
        int32_t nb = Memo::AddMemo(*a, "added by us");
        ASSERT_GT(nb, 0);
        Memo::SetBlockOfField(*a, 2, nb);
        ASSERT_EQ(a->file.WriteAt(uint64_t(a->headerLength), a->record.data(), a->recordLength), 0);
        a.reset();
        std::string check =
            "/usr/bin/python3 -c \"import dbfread,sys\n"
            "print(next(iter(dbfread.DBF(sys.argv[1], encoding='cp850')))['NOTES'])\" " +
            path;
        ASSERT_EQ(kjtest::RunCommand(check, &out), 0) << out;
        EXPECT_EQ(out, "added by us\n");
    }
}

// A dBASE III memo has no stored length: a stream over it ends at its 0x1A, whatever chunk
// the caller reads with (the padding and the next memo lie behind the mark). Tables written
// by python3-dbf and by Perl XBase.
TEST_F(MemoTest, BlobStreamReadsDbase3MemosOfOtherWriters) {
    const std::string python =
        "/usr/bin/python3 -c \"import dbf,sys\n"
        "t = dbf.Table(sys.argv[1], 'name C(10); notes M', dbf_type='db3', codepage='cp850')\n"
        "t.open(dbf.READ_WRITE)\n"
        "t.append(('a', 'hello world'))\n"
        "t.append(('b', 'y' * 600))\n"
        "t.append(('c', 'last one'))\n"
        "t.close()\" ";
    const std::string perl =
        "perl -MXBase -e 'my $t = XBase->create(name => $ARGV[0], field_names => "
        "[\"NAME\", \"NOTES\"], field_types => [\"C\", \"M\"], field_lengths => [10, 10], "
        "field_decimals => [0, 0], version => 3) or die XBase->errstr; "
        "$t->set_record(0, \"a\", \"hello world\") or die; "
        "$t->set_record(1, \"b\", \"y\" x 600) or die; "
        "$t->set_record(2, \"c\", \"last one\") or die; $t->close;' ";
    const std::string expect[] = {"hello world", std::string(600, 'y'), "last one"};
    int n = 0;
    for (const std::string& writer : {python, perl}) {
        SCOPED_TRACE(writer.substr(0, 16));
        std::string path = dir.file("blob" + std::to_string(++n) + ".dbf");
        std::string out;
        ASSERT_EQ(kjtest::RunCommand(writer + path, &out), 0) << out;
        auto a = OpenTable(path);
        std::string bytes = kjtest::ReadFile(path);
        ASSERT_EQ(a->recCount, 3);
        for (int r = 1; r <= 3; ++r) {
            SCOPED_TRACE(r);
            size_t off = size_t(a->headerLength) + size_t(r - 1) * a->recordLength;
            std::copy(bytes.begin() + long(off), bytes.begin() + long(off + a->recordLength),
                      a->record.begin());
            int32_t block = Memo::BlockOfField(*a, 2);
            for (int64_t chunk : {int64_t(1), int64_t(7), int64_t(4096), int64_t(100000)}) {
                SCOPED_TRACE(chunk);
                Memo::BlobStream s(*a, block, Memo::kBlobRead);
                ASSERT_TRUE(s.ok()) << TzCommon::LastMessage();
                std::string got;
                std::vector<char> buf(static_cast<size_t>(chunk));
                for (int64_t k; (k = s.Read(buf.data(), chunk)) > 0;)
                    got.append(buf.data(), size_t(k));
                EXPECT_EQ(got, expect[r - 1]);
                EXPECT_EQ(s.Seek(0, 2), int64_t(expect[r - 1].size()));
            }
        }
    }
}

}  // namespace
