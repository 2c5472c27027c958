// The marker that makes the renames of a packed table and memo file one step (see
// pack_marker.h).
#include "storage/pack_marker.h"

#include <memory>

#include "storage/file_layer.h"

namespace Dbf4::pair {

namespace {

constexpr const char* kEndLine = "end";

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string LeafOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ReadAll(const std::string& name) {
    tz::File f;
    if (f.Open(name, tz::Access::ReadOnly, tz::ShareMode::DenyNone) != 0) return {};
    uint64_t size = 0;
    if (f.Size(&size) != 0 || size > 65536) return {};
    std::string text(size_t(size), '\0');
    size_t got = 0;
    if (f.ReadAt(0, text.data(), text.size(), &got) != 0) return {};
    text.resize(got);
    return text;
}

// The renames a marker names (paths in the table's folder); *complete when it ends with
// the end line.
std::vector<Rename> ParseMarker(const std::string& table, const std::string& text, bool* complete) {
    std::vector<Rename> renames;
    *complete = false;
    const std::string folder = FolderOf(table);
    size_t at = 0;
    while (at < text.size()) {
        const size_t eol = text.find('\n', at);
        if (eol == std::string::npos) break;  // a line cut short by a kill
        const std::string line = text.substr(at, eol - at);
        at = eol + 1;
        if (line == kEndLine) {
            *complete = at == text.size();
            break;
        }
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        renames.push_back({folder + line.substr(0, tab), folder + line.substr(tab + 1)});
    }
    return renames;
}

// Puts every new file still present in its place; the handles stay open (and exclusive)
// until the caller is done. False when one could not be renamed.
bool RollForward(const std::vector<Rename>& renames, const tz::File& table,
                 std::vector<std::unique_ptr<tz::File>>& placed) {
    for (const Rename& r : renames) {
        if (!tz::Exists(r.from)) continue;  // renamed before the kill
        auto f = std::make_unique<tz::File>();
        if (f->Open(r.from, tz::Access::ReadWrite, tz::ShareMode::Exclusive) != 0) return false;
        if (f->RenameTo(r.to, &table) != 0) return false;
        placed.push_back(std::move(f));
    }
    return true;
}

}  // namespace

std::string MarkerName(const std::string& table) {
    return table + ".pkm";
}

uint16_t WriteMarker(const std::string& table, const std::vector<Rename>& renames, bool complete) {
    std::string text;
    for (const Rename& r : renames) text += LeafOf(r.from) + "\t" + LeafOf(r.to) + "\n";
    const std::string end = std::string(kEndLine) + "\n";
    tz::File f;
    uint16_t rc = 0;
    if (complete) {
        // Only the end line is added: a kill while it is written leaves the list whole.
        rc = f.Open(MarkerName(table), tz::Access::ReadWrite, tz::ShareMode::Exclusive);
        if (rc == 0) rc = f.WriteAt(text.size(), end.data(), end.size());
    } else {
        rc = f.Create(MarkerName(table), tz::ShareMode::Exclusive);
        if (rc == 0) rc = f.WriteAt(0, text.data(), text.size());
    }
    if (rc == 0) rc = f.Sync();
    const uint16_t closed = f.Close();
    return rc != 0 ? rc : closed;
}

void FinishInterrupted(const std::string& table) {
    const std::string marker = MarkerName(table);
    if (!tz::Exists(marker)) return;
    // Held alone: nobody else has the table open, so no live process is rewriting it.
    tz::File hold;
    if (hold.Open(table, tz::Access::ReadWrite, tz::ShareMode::Exclusive) != 0) return;
    bool complete = false;
    const std::vector<Rename> renames = ParseMarker(table, ReadAll(marker), &complete);
    std::vector<std::unique_ptr<tz::File>> placed;
    if (complete) {
        if (!RollForward(renames, hold, placed)) return;
    } else {
        for (const Rename& r : renames)
            if (tz::Exists(r.from) && tz::EraseFile(r.from) != 0) return;
    }
    tz::EraseFile(marker);
}

}  // namespace Dbf4::pair
