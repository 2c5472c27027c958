// Helpers shared by the index-file tests: making index files with tags, reading them back
// page by page, and checking a tag's page tree against its rules.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "index/mdx_bulk.h"
#include "index/mdx_format.h"
#include "index/mdx_tree.h"
#include "storage/tz_common.h"

namespace mdxtest {

inline std::string CharKey(const std::string& text, int len) {
    std::string k;
    Mdx::FitCharKey(text, len, &k);
    return k;
}

inline const uint8_t* U(const std::string& s) {
    return reinterpret_cast<const uint8_t*>(s.data());
}

// A new index file with the creation date 15-03-2024.
inline void NewFile(Mdx::MdxFile& f, const std::string& path, const std::string& table) {
    ASSERT_EQ(f.Create(path, table, 2024, 3, 15, tz::ShareMode::DenyNone), 0);
}

// Adds a tag built from the given items (already in tag order) the way the build does:
// pages first, then the tag header after them, then the tag-table entry.
inline int AddTag(Mdx::MdxFile& f, const std::string& name, char type, int len,
                  const std::vector<std::pair<std::string, uint32_t>>& items = {},
                  bool descending = false, bool unique = false) {
    Mdx::TagHeader h;
    EXPECT_EQ(Mdx::MakeTagHeader(type, len, "UPPER(" + name + ")", "", unique, descending, &h), 0);
    Mdx::MdxPageWriter w;
    EXPECT_EQ(w.Begin(&f, h), 0);
    for (const auto& [key, rec] : items) EXPECT_EQ(w.Add(U(key), rec), 0);
    uint32_t root = 0;
    EXPECT_EQ(w.Finish(&root), 0);
    h.SetRootBlock(root);
    EXPECT_EQ(f.AppendTagHeader(&h), 0);
    int n = 0;
    EXPECT_EQ(f.EnterTag(name, h, &n), 0);
    EXPECT_EQ(f.FlushHeader(), 0);
    return n;
}

inline Mdx::PageBuf ReadPage(Mdx::MdxFile& f, uint32_t block) {
    Mdx::PageBuf p{};
    EXPECT_EQ(f.ReadPage(block, &p), 0) << "block " << block;
    return p;
}

inline uint16_t Count(const Mdx::PageBuf& p) {
    return Mdx::Get16(&p[0]);
}

// Walks the tag's page tree and checks: every page within keys per page, bytes 2-3 zero,
// entries in order, every branch entry carrying the greatest key of its lower page's
// subtree; answers the leaf entries in order.
struct TreeCheck {
    Mdx::MdxFile& f;
    const Mdx::MdxTag& tag;
    std::vector<std::pair<std::string, uint32_t>> entries;
    int depth = 0;

    // Returns the greatest key of the subtree ("" when empty).
    std::string Visit(uint32_t block, int level) {
        depth = std::max(depth, level + 1);
        Mdx::PageBuf p = ReadPage(f, block);
        const int el = tag.Header().EntryLength(), kl = tag.KeyLength();
        int n = Count(p);
        EXPECT_LE(n, tag.Header().KeysPerPage()) << "block " << block;
        EXPECT_EQ(Mdx::Get16(&p[2]), 0) << "block " << block;
        auto key = [&](int i) {
            return std::string(reinterpret_cast<const char*>(&p[8 + i * el + 4]), kl);
        };
        auto num = [&](int i) { return Mdx::Get32(&p[8 + i * el]); };
        for (int i = 1; i < n; ++i) {
            EXPECT_LE(tag.Compare(U(key(i - 1)), U(key(i)), kl), 0) << "block " << block;
        }
        uint32_t trailing = Mdx::Get32(&p[8 + n * el]);
        if (trailing == 0) {
            for (int i = 0; i < n; ++i) entries.emplace_back(key(i), num(i));
            return n ? key(n - 1) : std::string();
        }
        for (int i = 0; i < n; ++i) {
            std::string max = Visit(num(i), level + 1);
            EXPECT_EQ(max, key(i)) << "branch " << block << " entry " << i;
        }
        return Visit(trailing, level + 1);
    }
};

}  // namespace mdxtest
