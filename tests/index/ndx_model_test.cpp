// Index engine against an in-memory model: random appends, replaces, deletes, recalls, a
// pack and a zap on a table with character, numeric and date tags (ascending, descending,
// unique, with a FOR condition); after every batch each tag, walked both ways and searched,
// agrees with the model.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <set>

#include "tests/index/ndx_fixture.h"

namespace {

using namespace ndxtest;

struct Rec {
    std::string name;  // upper-case letters and digits, up to 8 characters
    int cents = 0;     // AMT in cents
    int day = 1;       // day of 2024-01
    bool deleted = false;
};

// Tags: 1 NAME "UPPER(NAME)"; 2 AMT descending; 3 DAT "DAT"; 4 UNQ unique "NAME";
// 5 BIG "NAME" FOR AMT > 50.
const std::vector<TzNdx::TagDescriptor> kTags = {
    {"NAME", "UPPER(NAME)", "", false, false}, {"AMT", "AMT", "", true, false},
    {"DAT", "DAT", "", false, false},          {"UNQ", "NAME", "", false, true},
    {"BIG", "NAME", "AMT > 50", false, false},
};

std::string Padded(const std::string& s) {
    return s + std::string(10 - s.size(), ' ');
}

class Model {
  public:
    std::vector<Rec> recs;                  // index = recno - 1
    std::map<std::string, int32_t> unique;  // key -> record holding it in the unique tag

    // Key of record r (1-based) in tag t as a string that sorts in the tag's order
    // (descending AMT inverted); empty optional for no key.
    bool Key(int t, int32_t r, std::string* out) const {
        const Rec& x = recs[size_t(r - 1)];
        char buf[32];
        switch (t) {
            case 1:
                *out = Padded(x.name);
                return true;
            case 2:
                std::snprintf(buf, sizeof buf, "%012d", 100000000 - x.cents);
                *out = buf;
                return true;
            case 3:
                std::snprintf(buf, sizeof buf, "%02d", x.day);
                *out = buf;
                return true;
            case 4:
                *out = Padded(x.name);
                return true;
            case 5:
                if (x.cents <= 5000) return false;
                *out = Padded(x.name);
                return true;
        }
        return false;
    }
    // The record numbers expected in tag t, as a set.
    std::multiset<int32_t> Members(int t) const {
        std::multiset<int32_t> m;
        if (t == 4) {
            for (auto& [k, r] : unique) m.insert(r);
            return m;
        }
        std::string k;
        for (int32_t r = 1; r <= int32_t(recs.size()); ++r)
            if (Key(t, r, &k)) m.insert(r);
        return m;
    }
    void Rebuilt() {
        unique.clear();
        for (int32_t r = 1; r <= int32_t(recs.size()); ++r)
            unique.emplace(Padded(recs[size_t(r - 1)].name), r);
    }
};

class NdxModelTest : public NdxTest {
  protected:
    void Fill(const Rec& r) {
        SetC(1, r.name);
        SetF(2, r.cents / 100.0);
        char d[16];
        std::snprintf(d, sizeof d, "%02d-01-2024", r.day);
        SetD(3, d);
    }

    void Check(const Model& m, const std::string& when) {
        SCOPED_TRACE(when);
        ASSERT_EQ(Dbf4::RecCount(), int32_t(m.recs.size()));
        for (int t = 1; t <= int(kTags.size()); ++t) {
            SCOPED_TRACE("tag " + kTags[size_t(t - 1)].name);
            TzNdx::Set_Order_To(t);
            std::vector<int32_t> fw = Walk(true);
            std::vector<int32_t> bw = Walk(false);
            EXPECT_EQ(fw, bw);
            std::multiset<int32_t> got(fw.begin(), fw.end());
            ASSERT_EQ(got, m.Members(t));
            std::string prev, k;
            for (int32_t r : fw) {
                ASSERT_TRUE(m.Key(t, r, &k));
                ASSERT_LE(prev, k) << "record " << r;
                prev = k;
            }
        }
        // Searches in the character and numeric tags.
        if (!m.recs.empty()) {
            std::mt19937 pick(uint32_t(m.recs.size()));
            for (int i = 0; i < 20; ++i) {
                int32_t r = int32_t(pick() % m.recs.size()) + 1;
                const Rec& x = m.recs[size_t(r - 1)];
                TzNdx::Set_Order_To(1);
                ASSERT_TRUE(TzNdx::Find(x.name)) << x.name;
                EXPECT_EQ(GetC(1).substr(0, x.name.size()), x.name);
                TzNdx::Set_Order_To(2);
                char num[32];
                std::snprintf(num, sizeof num, "%d.%02d", x.cents / 100, x.cents % 100);
                ASSERT_TRUE(TzNdx::Find(num)) << num;
                double amt;
                std::memcpy(&amt, Dbf4::FieldAddress(2), 8);
                EXPECT_NEAR(amt * 100, x.cents, 0.01);
            }
            TzNdx::Set_Order_To(1);
            EXPECT_FALSE(TzNdx::Find("~~~"));
            EXPECT_TRUE(Dbf4::dEOF());
        }
    }
};

TEST_F(NdxModelTest, RandomChangesAgreeWithModel) {
    // KJ_SEED reruns the model with another seed (the fixed one otherwise).
    const char* env = std::getenv("KJ_SEED");
    const uint32_t seed = env ? uint32_t(std::strtoul(env, nullptr, 10)) : 20240315;
    std::printf("seed %u\n", seed);
    std::mt19937 rng(seed);
    ASSERT_TRUE(Create("m.dbf", {{"NAME", 'C', 10, 0}, {"AMT", 'N', 8, 2}, {"DAT", 'D', 8, 0}}));
    Open(1, Path("m.dbf") + " EXCLUSIVE");
    ASSERT_TRUE(TzNdx::MakeIndex(kTags));
    TzNdx::SetIndexTo("m.mdx");
    ASSERT_EQ(TzNdx::TagCount(), 5);
    Model m;
    auto randomRec = [&] {
        Rec r;
        static const char* kLetters = "ABCDEFGHK";
        int len = 1 + int(rng() % 4);
        for (int i = 0; i < len; ++i) r.name += kLetters[rng() % 9];
        r.cents = int(rng() % 20000);
        r.day = 1 + int(rng() % 28);
        return r;
    };
    Check(m, "empty");
    for (int batch = 0; batch < 12; ++batch) {
        for (int op = 0; op < 300; ++op) {
            int kind = int(rng() % 10);
            TzNdx::Set_Order_To(int(rng() % 6));
            if (m.recs.empty() || kind < 4) {
                Rec r = randomRec();
                Dbf4::ClearRecord();
                Fill(r);
                Dbf4::Append();
                ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
                m.recs.push_back(r);
                m.unique.emplace(Padded(r.name), int32_t(m.recs.size()));
                ASSERT_EQ(Dbf4::RecNo(), int32_t(m.recs.size()));
                continue;
            }
            int32_t n = int32_t(rng() % m.recs.size()) + 1;
            Dbf4::Go(n);
            Rec& x = m.recs[size_t(n - 1)];
            if (kind < 8) {
                Rec y = randomRec();
                if (rng() % 3 == 0) y.name = x.name;  // only the other tags change
                y.deleted = x.deleted;
                Fill(y);
                Dbf4::Replace();
                ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
                std::string ok = Padded(x.name), nk = Padded(y.name);
                if (ok != nk) {
                    auto it = m.unique.find(ok);
                    if (it != m.unique.end() && it->second == n) m.unique.erase(it);
                    m.unique.emplace(nk, n);
                }
                x = y;
            } else if (kind == 8) {
                Dbf4::DeleteRec();
                x.deleted = true;
            } else {
                Dbf4::RecallRec();
                x.deleted = false;
            }
        }
        Check(m, "batch " + std::to_string(batch));
        if (batch == 5) {
            TzNdx::Reindex();
            m.Rebuilt();
            Check(m, "after reindex");
        }
        if (batch == 8) {
            // Pack removes the deleted records and rebuilds the index.
            ASSERT_TRUE(Dbf4::Pack()) << TzCommon::LastErrorMessage();
            std::vector<Rec> kept;
            for (const Rec& r : m.recs)
                if (!r.deleted) kept.push_back(r);
            m.recs = kept;
            m.Rebuilt();
            ASSERT_NE(TzNdx::Mdx(), "");
            Check(m, "after pack");
        }
    }
    ASSERT_TRUE(Dbf4::Zap());
    m.recs.clear();
    m.Rebuilt();
    ASSERT_NE(TzNdx::Mdx(), "");
    Check(m, "after zap");
    Rec r{"AFTER", 9000, 3, false};
    Dbf4::ClearRecord();
    Fill(r);
    Dbf4::Append();
    m.recs.push_back(r);
    m.Rebuilt();
    Check(m, "append after zap");
}

}  // namespace
