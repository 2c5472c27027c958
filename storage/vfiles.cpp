// Virtual files: the record list, its modes and the commands of the area hook.
#include "storage/vfiles.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "storage/hooks.h"
#include "storage/tz_common.h"

namespace VFiles {

using TzCommon::SetError;

namespace {

bool shutDown = false;

bool Variable(const WorkArea& a) {
    return a.recordLength == 0;
}
size_t FlagOffset(const WorkArea& a) {
    return Variable(a) ? 2 : 0;
}

// The area's record buffer: the caller's buffer of a virtual open, else the record.
uint8_t* BufData(WorkArea& a) {
    return a.native != nullptr ? a.native : a.record.data();
}
size_t BufSize(const WorkArea& a) {
    return a.native != nullptr ? a.nativeSize : a.record.size();
}

// Size of the copy the record buffer asks for; 0 (and error 220) when the variable length
// in the buffer does not fit the buffer.
size_t CopySize(WorkArea& a) {
    if (!Variable(a)) return a.recordLength;
    const uint8_t* p = BufData(a);
    if (BufSize(a) < 2) {
        SetError(
            TzErr::InvalidParameter,
            "Record buffer too small for a variable-length record of " + a.alias + " [VFiles]");
        return 0;
    }
    size_t len = size_t(p[0]) | size_t(p[1]) << 8;
    if (len + 2 > BufSize(a)) {
        SetError(TzErr::InvalidParameter, "Variable record length " + std::to_string(len) +
                                              " exceeds the record buffer of " + a.alias +
                                              " [VFiles]");
        return 0;
    }
    return len + 2;
}

bool CopyToNode(WorkArea& a, Node& n) {
    size_t size = CopySize(a);
    if (size == 0) return false;
    size_t have = std::min(size, BufSize(a));
    n.copy.assign(BufData(a), BufData(a) + have);
    n.copy.resize(size, Variable(a) ? 0 : ' ');
    return true;
}

bool CopyToBuffer(WorkArea& a, const Node& n) {
    size_t size = n.copy.size();
    if (size > BufSize(a)) {
        if (a.native == nullptr) {
            a.record.resize(size);
        } else {
            SetError(TzErr::InvalidParameter,
                     "Virtual record larger than the record buffer of " + a.alias + " [VFiles]");
            return false;
        }
    }
    std::copy(n.copy.begin(), n.copy.end(), BufData(a));
    return true;
}

void Unlink(VirtualFile& v, Node* n) {
    if (n->prev)
        n->prev->next = n->next;
    else
        v.head = n->next;
    if (n->next)
        n->next->prev = n->prev;
    else
        v.tail = n->prev;
    n->prev = n->next = nullptr;
}

void LinkAfter(VirtualFile& v, Node* after, Node* n) {
    if (after == nullptr) {  // at the head
        n->next = v.head;
        n->prev = nullptr;
        if (v.head)
            v.head->prev = n;
        else
            v.tail = n;
        v.head = n;
        return;
    }
    n->prev = after;
    n->next = after->next;
    if (after->next)
        after->next->prev = n;
    else
        v.tail = n;
    after->next = n;
}

void FreeAll(VirtualFile& v) {
    for (Node* n = v.head; n != nullptr;) {
        Node* next = n->next;
        delete n;
        n = next;
    }
    v.head = v.tail = v.current = nullptr;
}

// Positions to record n by the shortest of three walks; false (error 212) out of range.
bool Position(WorkArea& a, VirtualFile& v, int32_t n) {
    int32_t N = a.recCount;
    if (n < 1 || n > N) {
        SetError(TzErr::RequestBeyondRange,
                 "Attempted to position to record number " + std::to_string(n) + " [VFiles]");
        return false;
    }
    v.lastWalk = 0;
    int32_t c = v.current ? a.recNo : 0;
    if (c == n && v.current) return true;
    int32_t d = std::abs(n - c);
    Node* at;
    if (c == 0 || (d > n - 1 && n - 1 < N - n)) {
        at = v.head;
        for (int32_t i = 1; i < n; ++i, ++v.lastWalk) at = at->next;
    } else if (N - n > n - 1 || N - n >= d) {
        at = v.current;
        for (int32_t i = c; i < n; ++i, ++v.lastWalk) at = at->next;
        for (int32_t i = c; i > n; --i, ++v.lastWalk) at = at->prev;
    } else {
        at = v.tail;
        for (int32_t i = N; i > n; --i, ++v.lastWalk) at = at->prev;
    }
    v.current = at;
    a.recNo = n;
    return true;
}

Node* NodeAt(WorkArea& a, VirtualFile& v, int32_t n) {
    Node* saved = v.current;
    int32_t savedNo = a.recNo;
    if (!Position(a, v, n)) return nullptr;
    Node* at = v.current;
    v.current = saved;
    a.recNo = savedNo;
    return at;
}

std::string KeyOf(WorkArea& a, VirtualFile& v, const Node& n) {
    CopyToBuffer(a, n);
    std::string k = v.keyMaker(a);
    if (k.size() > kMaxKey) k.resize(kMaxKey);
    return k;
}

// Where a new record goes in a sorted list: the record number it follows (0 = head).
int32_t SortedPlace(WorkArea& a, VirtualFile& v, const std::string& K) {
    bool asc = v.mode == kAscending;
    int32_t N = a.recCount;
    if (N == 0) return 0;
    std::string H = KeyOf(a, v, *v.head);
    if (asc ? K <= H : K >= H) return 0;
    if (N == 1) return 1;
    std::string T = KeyOf(a, v, *v.tail);
    if (asc ? K >= T : K <= T) return N;
    int32_t lo = 1, hi = N, probe = (N + 1) / 2;
    for (;;) {
        if (hi == lo + 1) {
            std::string P = KeyOf(a, v, *NodeAt(a, v, hi));
            if (asc) return K >= P ? hi : lo;
            return K > P ? lo : hi;
        }
        std::string P = KeyOf(a, v, *NodeAt(a, v, probe));
        if (asc ? P > K : P < K)
            hi = probe;
        else if (P == K)
            return probe;
        else
            lo = probe;
        probe = lo + (hi - lo) / 2;
    }
}

}  // namespace

VirtualFile& StateOf(WorkArea& area) {
    if (area.virtualData == nullptr) area.virtualData = new VirtualFile;
    return *static_cast<VirtualFile*>(area.virtualData);
}

void Configure(WorkArea& area, uint8_t mode, uint8_t storage, KeyMaker keyMaker) {
    VirtualFile& v = StateOf(area);
    v.mode = mode;
    v.storage = storage;
    v.keyMaker = std::move(keyMaker);
}

void SetKeyMaker(WorkArea& area, KeyMaker keyMaker) {
    StateOf(area).keyMaker = std::move(keyMaker);
}

void ParseUseWords(std::string& text, uint8_t* mode, uint8_t* storage) {
    auto take = [&](const char* word) {
        std::string upper = text;
        for (char& c : upper) c = char(std::toupper(uint8_t(c)));
        size_t at = upper.find(word);
        if (at == std::string::npos) return false;
        text.erase(at, std::strlen(word));
        return true;
    };
    *storage = kHeap;
    if (take(" TO HEAP")) *storage = kHeap;
    if (take(" TO EMS")) *storage = kEms;
    if (take(" TO EXT") || take(" TO XMS")) *storage = kXms;
    if (take(" TO BIGGEST")) *storage = kBiggest;
    *mode = kAppend;
    if (take(" FIFO")) *mode = kAppend;
    if (take(" LIFO")) *mode = kPush;
    if (take(" INSERTION")) *mode = kInsert;
    if (take(" ASCENDING")) *mode = kAscending;
    if (take(" DESCENDING")) *mode = kDescending;
}

bool AddLL(WorkArea& a) {
    VirtualFile& v = StateOf(a);
    // Owned until linked: the key maker and a reported error may raise an exception.
    auto n = std::make_unique<Node>();
    if (!CopyToNode(a, *n)) return false;
    int32_t place = 0;  // the record number the new one follows
    switch (v.mode) {
        case kAppend:
            place = a.recCount;
            break;
        case kPush:
            place = 0;
            break;
        case kInsert:
            place = (v.current && a.recNo > 1) ? a.recNo - 1 : 0;
            break;
        case kAscending:
        case kDescending: {
            if (!v.keyMaker) {
                SetError(TzErr::InvalidListOperation,
                         a.alias +
                             " is a \"Sorted\" virtual file with no keymaker "
                             "function. [Append/InsertRec/PushRec]");
                return false;
            }
            std::string K = v.keyMaker(a);
            if (K.size() > kMaxKey) K.resize(kMaxKey);
            place = SortedPlace(a, v, K);
            CopyToBuffer(a, *n);  // the new record back in the buffer
            break;
        }
        default:
            SetError(TzErr::InvalidListOperation,
                     "\"" + std::to_string(v.mode) + "\" is an invalid VFile mode set for " +
                         a.alias + "  [(AddLL) VFiles INTERNAL ERROR]");
            return false;
    }
    Node* after = place == 0 ? nullptr : (place == a.recCount ? v.tail : NodeAt(a, v, place));
    Node* linked = n.release();
    LinkAfter(v, after, linked);
    ++a.recCount;
    v.current = linked;
    a.recNo = place + 1;
    a.bof = a.eof = false;
    return true;
}

bool PopRec(WorkArea& a) {
    VirtualFile& v = StateOf(a);
    if (a.recCount == 0 || v.head == nullptr) {
        SetError(TzErr::InvalidListOperation, "Virtual file empty - no more records to POP from " +
                                                  a.alias + " [(PopRec) VFiles]");
        return false;
    }
    if (v.mode == kInsert) {
        SetError(TzErr::InvalidListOperation,
                 "Cannot POP a record in INSERTION mode from " + a.alias + " [(PopRec) VFiles]");
        return false;
    }
    Node* n = v.head;
    CopyToBuffer(a, *n);
    Unlink(v, n);
    delete n;
    --a.recCount;
    v.current = v.head;
    a.recNo = v.head ? 1 : 0;
    a.bof = a.eof = v.head == nullptr;
    return true;
}

bool AreaHook(WorkArea& a, int command, int32_t recno) {
    VirtualFile& v = StateOf(a);
    switch (command) {
        case kClose:
            if (shutDown) return true;
            FreeAll(v);
            a.recCount = a.recNo = 0;
            delete &v;
            a.virtualData = nullptr;
            return true;
        case kOpen:
            FreeAll(v);
            a.recCount = 0;
            a.recNo = 0;
            a.bof = a.eof = true;
            return true;
        case kGo:
            if (!Position(a, v, recno)) return false;
            a.bof = a.eof = false;
            return CopyToBuffer(a, *v.current);
        case kAdd:
            if (!AddLL(a)) return false;
            a.bof = false;
            return true;
        case kWrite: {
            if (recno > a.recCount || recno < 1) return AddLL(a);
            if (!Position(a, v, recno)) return false;
            Node* n = v.current;
            if (v.mode == kAscending || v.mode == kDescending) {
                Node* next = n->next;
                Unlink(v, n);
                delete n;
                --a.recCount;
                v.current = next;
                if (next == nullptr) a.recNo = a.recCount;
                if (v.current == nullptr && a.recCount > 0) v.current = v.tail;
                if (a.recCount == 0) v.current = nullptr;
                return AddLL(a);
            }
            return CopyToNode(a, *n);
        }
        case kDelete:
        case kRecall: {
            uint8_t flag = command == kDelete ? 1 : 0;
            size_t at = FlagOffset(a);
            if (v.current && at < v.current->copy.size()) v.current->copy[at] = flag;
            if (at < BufSize(a)) BufData(a)[at] = flag;
            return true;
        }
        case kPack: {
            size_t at = FlagOffset(a);
            for (Node* n = v.head; n != nullptr;) {
                Node* next = n->next;
                if (at < n->copy.size() && n->copy[at] != 0) {
                    Unlink(v, n);
                    delete n;
                    --a.recCount;
                }
                n = next;
            }
            v.current = v.head;
            a.recNo = v.head ? 1 : 0;
            if (v.head == nullptr) a.bof = a.eof = true;
            return true;
        }
        case kPop:
            return PopRec(a);
        case kRemove: {
            Node* n = v.current;
            if (n == nullptr) return true;
            Node* next = n->next;
            Unlink(v, n);
            delete n;
            --a.recCount;
            if (next != nullptr) {
                v.current = next;
            } else {
                v.current = v.tail;
                a.recNo = a.recCount;
            }
            if (a.recCount == 0) {
                v.current = nullptr;
                a.recNo = 0;
                a.bof = a.eof = true;
            }
            return true;
        }
        case kZap:
            FreeAll(v);
            a.recCount = a.recNo = 0;
            a.bof = a.eof = true;
            return true;
        default:
            return true;
    }
}

bool Request(WorkArea& a, int op, int32_t recno) {
    switch (op) {
        case kReqOpen: {
            // The table engine leaves the rest of the USE text in the file name.
            uint8_t mode = kAppend, storage = kHeap;
            ParseUseWords(a.fileName, &mode, &storage);
            VirtualFile& v = StateOf(a);
            v.mode = mode;
            v.storage = storage;
            return AreaHook(a, kOpen, 0);
        }
        case kReqRead:
            return AreaHook(a, kGo, recno);
        case kReqWrite:
            return AreaHook(a, kWrite, recno);
        case kReqAppend:
            // The engine has already counted the new record.
            if (a.recCount > 0 && a.recCount == recno) --a.recCount;
            return AreaHook(a, kAdd, 0);
        case kReqDelete:
        case kReqRecall:
            if (recno >= 1 && !AreaHook(a, kGo, recno)) return false;
            return AreaHook(a, op == kReqDelete ? kDelete : kRecall, 0);
        case kReqClose:
            return AreaHook(a, kClose, 0);
        case kReqPop:
            return AreaHook(a, kPop, 0);
        case kReqPack:
            return AreaHook(a, kPack, 0);
        case kReqRemove:
            return AreaHook(a, kRemove, 0);
        case kReqZap:
            return AreaHook(a, kZap, 0);
        default:
            return true;
    }
}

void Install() {
    shutDown = false;
    Dbf4::virtualHooks.request = &Request;
    Dbf4::virtualUnitPresent = true;
}

void Shutdown() {
    shutDown = true;
}

}  // namespace VFiles
