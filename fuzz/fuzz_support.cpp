#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "data/tz_messages.h"
#include "index/tz_engine.h"
#include "index/tz_ndx.h"
#include "storage/dates.h"
#include "storage/dbf4.h"
#include "storage/dbf_low.h"
#include "storage/memo.h"
#include "storage/tz_common.h"

namespace kjfuzz {

namespace {

// In memory when the machine has a tmpfs at /dev/shm: the engine syncs its files, and a
// sync on a disk costs more than the rest of an input.
std::string MakeFolder() {
    const char* tmp = std::getenv("TMPDIR");
    const char* own = std::getenv("KJFUZZ_TMP");  // fuzz/run.sh: a folder it removes
    std::string base = tmp && *tmp ? tmp : "/tmp";
    if (access("/dev/shm", W_OK | X_OK) == 0) base = "/dev/shm";
    if (own && *own) base = own;
    std::string pattern = base + "/kjfuzz-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) std::abort();
    return buf.data();
}

void RemoveFolder() {
    std::error_code ec;
    std::filesystem::remove_all(Folder(), ec);
}

void CloseEverything() {
    // A close that reports a failure must not stop the reset.
    TzCommon::SetErrorChecking(0);
    TzCommon::SetHaltProc([](int) {});
    for (int tries = 0; tries < 2; ++tries) {
        try {
            Dbf4::CloseAll();
            return;
        } catch (const std::exception&) {
        }
    }
}

}  // namespace

const std::string& Folder() {
    // Never destroyed: the exit handler that removes the folder still reads it.
    static const std::string* folder = [] {
        auto* f = new std::string(MakeFolder());
        std::atexit(RemoveFolder);
        return f;
    }();
    return *folder;
}

std::string PathOf(const std::string& name) {
    return Folder() + "/" + name;
}

void ResetEngine(ErrorMode mode) {
    CloseEverything();
    TzEngine::Reset();  // every unit's state, then every hook installed again
    TzCommon::SetDateStyle(3);
    TzCommon::SetCenturyFlag(true);
    Memo::settings().lockAttempts = 1;
    TzCommon::SetErrorBoxProc([](const std::string&, const std::string&, unsigned) { return 1; });
    TzDs::SetMessageProc([](const std::string&) {});
    switch (mode) {
        case ErrorMode::Codes:
            TzCommon::SetErrorChecking(0);
            break;
        case ErrorMode::Exceptions:
            TzCommon::SetErrorChecking(1);
            TzCommon::SetUseExceptions(1);
            break;
        case ErrorMode::Halt:
            TzCommon::SetErrorChecking(1);
            TzCommon::SetHaltProc([](int) {});
            break;
    }
}

Session::~Session() {
    // KJFUZZ_TRACE=1 names the last engine error of each input (when looking at one input).
    static const bool trace = std::getenv("KJFUZZ_TRACE") != nullptr;
    if (trace && TzCommon::ErrorWord() != 0)
        std::fprintf(stderr, "last error %u: %s\n", unsigned(TzCommon::ErrorWord()),
                     TzCommon::LastMessage().c_str());
    CloseEverything();
    TzCommon::ResetErrorState();
}

std::string WriteFile(const std::string& name, std::string_view bytes) {
    std::string path = PathOf(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    return path;
}

void ClearFolder() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(Folder(), ec))
        std::filesystem::remove_all(entry.path(), ec);
}

std::vector<std::string_view> SplitParts(const uint8_t* data, size_t size, size_t maxParts) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> parts;
    while (parts.size() + 1 < maxParts) {
        size_t at = rest.find(kPartMark);
        if (at == std::string_view::npos) break;
        parts.push_back(rest.substr(0, at));
        rest.remove_prefix(at + kPartMark.size());
    }
    parts.push_back(rest);
    return parts;
}

void ReadRecord() {
    Dbf4::WorkArea* a = Dbf4::Current();
    if (!a) return;
    const int32_t n = Dbf4::RecNo();
    volatile uint8_t sink = 0;
    const uint8_t* record = Dbf4::RecordOf(*a);
    const uint8_t* native = Dbf4::NativeOf(*a);
    for (int f = 1; f <= Dbf4::FieldCount(); ++f) {
        std::string text = Dbf4::Peek(n, f);
        sink = sink ^ uint8_t(text.empty() ? 0 : text[0]);
    }
    if (record) {
        for (uint16_t i = 0; i < a->recordLength && i < a->record.size(); ++i)
            sink = sink ^ record[i];
    }
    if (native) {
        for (uint16_t i = 0; i < a->nativeSize; ++i) sink = sink ^ native[i];
    }
    sink = sink ^ uint8_t(Dbf4::Deleted());
    (void)sink;
}

void WalkOrder(int steps) {
    Dbf4::GoTop();
    for (int i = 0; i < steps && !Dbf4::dEOF() && TzCommon::ErrorWord() == 0; ++i) {
        ReadRecord();
        Dbf4::Skip(1);
    }
    Dbf4::GoBottom();
    for (int i = 0; i < steps && !Dbf4::dBOF() && TzCommon::ErrorWord() == 0; ++i) {
        ReadRecord();
        Dbf4::Skip(-1);
    }
}

}  // namespace kjfuzz
