// Appending the records of another table (or of a virtual file) to the current area's
// table, field by field through the target's field types.
// One process-wide engine state, not thread-safe.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "storage/code_page.h"
#include "storage/dates.h"
#include "storage/dbf4_bulk_internal.h"
#include "storage/dbf4_internal.h"
#include "storage/memo.h"
#include "storage/num_text.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"

namespace Dbf4 {

using TzCommon::SetError;
using namespace internal;
using namespace bulk;

void SelectInternal(int n);

namespace {

// Removes the virtual-file words from an AppendFrom source; true when one was there.
bool IsVirtualText(std::string& text) {
    bool v = false;
    for (const char* w : {"VIRTUAL FILE", "LINKED LIST", "VIRTUAL", "LINKED"})
        v = TzUtils::ExtractOption(std::string(" ") + w, text) || v;
    return v;
}

std::string DateTextOf(WorkArea& src, const FieldEntry& f) {
    const uint8_t* p = NativeOf(src) + f.nativeOffset;
    return std::string(reinterpret_cast<const char*>(p) + 1, std::min<int>(p[0], 10));
}

void PutText(uint8_t* raw, const FieldEntry& f, const std::string& text) {
    std::memset(raw, ' ', f.length);
    std::memcpy(raw, text.data(), std::min<size_t>(text.size(), f.length));
}

char ClassOf(char type) {
    return type == 'F' ? 'N' : type;
}

// Converts one mapped field from the source record into the blank target record.
// False when a memo copy failed.
bool ConvertField(WorkArea& src, const FieldEntry& sf, int sfNo, WorkArea& tgt,
                  const FieldEntry& tf, int tfNo) {
    const uint8_t* s = src.record.data() + sf.offset;
    uint8_t* t = tgt.record.data() + tf.offset;
    const std::string stext(reinterpret_cast<const char*>(s), sf.length);
    const char from = ClassOf(sf.type), to = ClassOf(tf.type);
    if ((to == 'C' && from == 'C') || (to == 'D' && from == 'D')) {
        PutText(t, tf, stext);
    } else if (to == 'C' && from == 'N') {
        std::string n = FormatNumber(TextNumber(stext), tf.length, sf.decimals);
        PutText(t, tf, n);
    } else if (to == 'C' && from == 'L') {
        PutText(t, tf, TrueByte(s[0]) ? "T" : "F");
    } else if (to == 'C' && from == 'D') {
        std::string d = DateTextOf(src, sf);
        if (d.size() > tf.length && d.size() == 10) {
            if (TzCommon::DateStyle() == 1)
                d.erase(0, 2);
            else
                d.erase(d.size() - 4, 2);
        }
        PutText(t, tf, d);
    } else if (to == 'N' && (from == 'C' || from == 'N')) {
        double v = TextNumber(stext);
        if (tf.decimals == 0) v = std::trunc(v);
        PutText(t, tf, FormatNumber(v, tf.length, tf.decimals));
    } else if (to == 'L') {
        t[0] = (from == 'L' && TrueByte(s[0])) ? 'T' : 'F';
    } else if (to == 'D' && from == 'C') {
        std::string d = TzCommon::AllTrim(stext);
        if (TimeDate::IsValidDate(d)) PutText(t, tf, TimeDate::DTOS(d));
    } else if (to == 'M' && memoUnitPresent && (from == 'C' || from == 'M')) {
        TzCommon::ClearErrorWord();
        int32_t block = 0;
        if (from == 'C') {
            std::string text = TzUtils::TrimRight(stext);
            if (!text.empty()) block = Memo::AddMemo(tgt, text);
        } else if (int32_t b = Memo::BlockOfField(src, sfNo)) {
            block = Memo::CopyMemo(tgt, src, b, false);
        }
        if (TzCommon::ErrorWord() != 0) return false;
        Memo::SetBlockOfField(tgt, tfNo, block);
    }
    return true;
}

}  // namespace

void AppendFrom(const std::string& source, RecordTest test) {
    TzCommon::ClearErrorWord();
    WorkArea* tp = Guard("AppendFrom");
    if (!tp) return;
    WorkArea& tgt = *tp;
    const int target = CurrentWorkArea();
    std::string text = TzCommon::AllTrim(source);
    const bool isVirtual = IsVirtualText(text);
    const std::string where = "[AppendFrom(" + text + ")]";
    int srcArea = 0;
    if (isVirtual) {
        // A virtual source is one of the open areas, found by its alias.
        srcArea = AreaOfAlias(TzCommon::AllTrim(text));
        if (srcArea == 0 || !AreaAt(srcArea)->isVirtual) {
            SetError(TzErr::InvalidParameter, "Virtual file must be open. " + where);
            return;
        }
    } else {
        std::string name =
            TzCommon::DefaultExtension(TzCommon::FExpand(TzCommon::AllTrim(text)), "DBF");
        if (tz::ResolveName(name) == tz::ResolveName(tgt.fileName)) {
            SetError(TzErr::InvalidParameter, "Attempting to append file to itself. " + where);
            return;
        }
        if (!tz::Exists(name)) {
            SetError(TzErr::FileNotFound, name + " " + where);
            return;
        }
        Select(0);
        if (TzCommon::ErrorWord() != 0) return;
        srcArea = CurrentWorkArea();
        Use(name + " ALIAS *FROMFILE");
        SelectInternal(target);
        if (TzCommon::ErrorWord() != 0 || !AreaAt(srcArea)) return;
    }
    WorkArea& src = *AreaAt(srcArea);
    const bool ownSource = !src.isVirtual;
    auto closeSource = [&] {
        if (ownSource) {
            SelectInternal(srcArea);
            CloseArea();
        }
        SelectInternal(target);
    };
    const bool srcMemo = std::any_of(src.fields.begin(), src.fields.end(),
                                     [](const FieldEntry& f) { return f.type == 'M'; });
    if (srcMemo && !memoUnitPresent) {
        closeSource();
        SetError(TzErr::InvalidParameter, "Memo unit MEMO.TPU not linked into program. " + where);
        return;
    }
    // Field map: target field i from the source field of the same name (-1: none).
    std::vector<int> map(tgt.fields.size(), -1);
    bool same = tgt.fields.size() == src.fields.size() && !src.isVirtual;
    for (size_t i = 0; i < tgt.fields.size(); ++i) {
        const FieldEntry& tf = tgt.fields[i];
        for (size_t j = 0; j < src.fields.size(); ++j)
            if (src.fields[j].name == tf.name) map[i] = int(j);
        if (same) {
            const FieldEntry& sf = src.fields[i];
            same = sf.name == tf.name && sf.type == tf.type && sf.length == tf.length &&
                   sf.decimals == tf.decimals;
        }
    }
    SelectInternal(srcArea);
    GoTop();
    bool failed = false;
    while (!src.eof && src.recCount > 0 && !failed) {
        if (!test || test()) {
            const uint8_t* srec = src.isVirtual ? nullptr : RecordOf(src);
            const bool deleted = srec ? srec[0] == '*' : NativeOf(src)[0] != 0;
            SelectInternal(target);
            BlankRecord(tgt);
            uint8_t* trec = tgt.record.data();
            trec[0] = deleted ? '*' : ' ';
            if (same) std::memcpy(trec + 1, srec + 1, size_t(tgt.recordLength) - 1);
            for (size_t i = 0; i < tgt.fields.size() && !failed; ++i) {
                const FieldEntry& tf = tgt.fields[i];
                if (map[i] < 0 || (same && tf.type != 'M')) continue;
                if (same) std::memset(trec + tf.offset, ' ', tf.length);
                failed =
                    !ConvertField(src, src.fields[size_t(map[i])], map[i] + 1, tgt, tf, int(i + 1));
            }
            if (!failed) {
                TzDbfLow::UnpackRecord(tgt, tgt.native);
                Append();
                failed = TzCommon::ErrorWord() != 0;
            }
            SelectInternal(srcArea);
        }
        if (!failed) Skip(1);
        if (TzCommon::ErrorWord() != 0) failed = true;
    }
    const uint16_t code = TzCommon::ErrorWord();
    closeSource();
    if (TzCommon::ErrorWord() == 0) TzCommon::SetErrorWord(code);
}

}  // namespace Dbf4
