// libFuzzer target: a table with its memo file (dBASE III, dBASE IV or FoxPro, chosen by the
// table's version byte). The input is the .dbf file, kPartMark, then the memo file. Every
// memo of a bounded number of records is read through GetMemo and the BLOB stream; with the
// table opened exclusively memos are then added, rewritten and the memo file packed.
#include "fuzz/fuzz_support.h"
#include "storage/dbf4.h"
#include "storage/memo.h"
#include "storage/tz_common.h"

namespace {

constexpr size_t kMaxInput = 128 * 1024;
constexpr int kRecords = 24;
constexpr int64_t kMaxBlobBytes = 16 * 1024;

void ReadBlob(Dbf4::WorkArea& a, int32_t block, bool translate) {
    Memo::BlobStream blob(a, block, Memo::kBlobRead, translate);
    if (!blob.ok()) return;
    char buf[700];
    int64_t total = 0;
    for (int64_t got = 1; got > 0 && total < kMaxBlobBytes; total += got)
        got = blob.Read(buf, sizeof buf);
    blob.Seek(3, 0);
    blob.Read(buf, 10);
    blob.Seek(-5, 2);
    blob.Read(buf, sizeof buf);
    blob.Close();
}

// Reads every memo field of the current record; answers the last block seen.
int32_t ReadMemos(Dbf4::WorkArea& a, int step) {
    int32_t last = 0;
    for (int f = 1; f <= Dbf4::FieldCount(); ++f) {
        if (Dbf4::FieldType(f) != 'M') continue;
        int32_t block = Memo::BlockOfField(a, f);
        if (block == 0) continue;
        last = block;
        if (Memo::GetMemo(a, block, 64)) (void)Memo::EditorText();
        ReadBlob(a, block, step % 2 == 1);
    }
    return last;
}

int32_t ReadAll() {
    Dbf4::WorkArea* a = Dbf4::Current();
    int32_t last = 0;
    Dbf4::GoTop();
    for (int i = 0; i < kRecords && !Dbf4::dEOF() && TzCommon::ErrorWord() == 0; ++i) {
        Dbf4::RecordOf(*a);
        int32_t b = ReadMemos(*a, i);
        if (b != 0) last = b;
        Dbf4::Skip(1);
    }
    return last;
}

void Change(int32_t last) {
    Dbf4::WorkArea& a = *Dbf4::Current();
    (void)Memo::AddMemo(a, "a new memo\r\nof two lines");
    if (last != 0 && Memo::GetMemo(a, last, 64)) {
        Memo::Editor().lines.push_back({"one more line", 13});
        (void)Memo::EditMemo(a, last);
    }
    {
        Memo::BlobStream out(a, 0, Memo::kBlobWrite);
        if (out.ok()) {
            out.Write("written as a stream", 19);
            out.Close();
        }
    }
    Memo::PackMemofile(a);
}

void Run(const std::string& path) {
    Dbf4::Select(1);
    Dbf4::Use(path);
    if (TzCommon::ErrorWord() != 0 || !Dbf4::Current() || !Memo::DescriptorOf(*Dbf4::Current()))
        return;
    (void)Memo::GetMemoType(*Dbf4::Current());
    ReadAll();
    Dbf4::CloseArea();
    Dbf4::Use(path + " EXCLUSIVE");
    if (TzCommon::ErrorWord() != 0 || !Dbf4::Current() || !Memo::DescriptorOf(*Dbf4::Current()))
        return;
    Change(ReadAll());
    Dbf4::CloseArea();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return -1;
    auto parts = kjfuzz::SplitParts(data, size, 2);
    if (parts.size() != 2 || parts[0].empty()) return -1;
    kjfuzz::Session session(size % 2 ? kjfuzz::ErrorMode::Exceptions : kjfuzz::ErrorMode::Codes);
    kjfuzz::ClearFolder();
    std::string path = kjfuzz::WriteFile("t.dbf", parts[0]);
    std::string memo = Memo::MemoFileName(path, uint8_t(parts[0][0]));
    kjfuzz::WriteFile(memo.substr(memo.rfind('/') + 1), parts[1]);
    try {
        Run(path);
    } catch (const TzCommon::ETzError&) {
    }
    return 0;
}
