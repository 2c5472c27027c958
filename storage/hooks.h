// Hook tables through which the table engine reaches the index engine, the expression
// parser, the memo unit and the virtual-file unit. Each unit installs its table when it
// initialises; an entry left null is skipped by the engine. All hooks act on the engine's
// currently selected work area unless they take one.
#pragma once

#include <cstdint>
#include <string>

namespace Dbf4 {

struct WorkArea;

// The update lock's argument when it is taken for an append.
inline constexpr int kTakeForAppend = 2;

struct IndexHooks {
    bool (*active)() = nullptr;       // the area has an open index file
    void (*synchronize)() = nullptr;  // find the current record in the controlling tag
    void (*storeKey)() = nullptr;     // remember the controlling tag's current key
    int32_t (*firstKey)() = nullptr;  // record numbers in key order
    int32_t (*lastKey)() = nullptr;
    int32_t (*nextKey)() = nullptr;
    int32_t (*priorKey)() = nullptr;
    bool (*atEnd)() = nullptr;
    bool (*atBeginning)() = nullptr;
    void (*markEnd)() = nullptr;
    void (*markBeginning)() = nullptr;
    void (*appendNewKey)() = nullptr;
    void (*keepOldKeys)() = nullptr;
    void (*updateChangedKeys)() = nullptr;
    bool (*found)() = nullptr;
    void (*reindex)() = nullptr;      // rebuild every tag (after pack and zap)
    void (*markRebuild)() = nullptr;  // the table is about to be rewritten whole:
                                      // mark the index for rebuilding
    void (*close)() = nullptr;        // close the area's index file
    // The table `area` names holds fewer records than its header said: its index may hold
    // keys of the lost records. Marks the table's index file for rebuilding (before the
    // header's count is put right); false when the mark could not be written.
    bool (*markCut)(WorkArea& area) = nullptr;
    void (*readLock)(int take) = nullptr;  // 1 take, 0 release
    // 1 take, 0 release; kTakeForAppend takes it for a new record, whose keys' room the
    // index reserves first (refusing the append on a full disk).
    void (*updateLock)(int take) = nullptr;
    uint8_t (*currentOrder)() = nullptr;  // controlling tag number, kept around relations
    void (*setCurrentOrder)(uint8_t) = nullptr;
};

struct ParserHooks {
    void* (*compile)(const std::string& text) = nullptr;  // null on a compile failure
    void (*free)(void* expr) = nullptr;
    // Address of the result; its first byte, non-zero, counts as true for L results.
    const uint8_t* (*evaluate)(void* expr) = nullptr;
    std::string (*text)(void* expr) = nullptr;  // the text the block was compiled from
};

struct MemoHooks {
    bool (*open)(WorkArea& area) = nullptr;
    void (*close)(WorkArea& area) = nullptr;
    bool (*pack)(WorkArea& area) = nullptr;
    bool (*copy)(WorkArea& from, WorkArea& to) = nullptr;
};

struct VirtualHooks {
    // One request of the virtual-file unit for a virtual area (operation code, record).
    bool (*request)(WorkArea& area, int op, int32_t recno) = nullptr;
};

extern IndexHooks indexHooks;
extern bool indexHooksInstalled;
extern bool maintainKeysOnReplace;
extern ParserHooks parserHooks;
extern bool parserPresent;
extern MemoHooks memoHooks;
extern bool memoUnitPresent;
extern VirtualHooks virtualHooks;
extern bool virtualUnitPresent;

// Removes every installed hook: the engine as it is before any unit is installed.
void RemoveHooks();

}  // namespace Dbf4
