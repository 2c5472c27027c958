// Virtual files: work areas whose records live in memory as a doubly linked list of record
// copies, opened by a USE text holding "VIRTUAL FILE" or "LINKED LIST". The table engine
// reaches this unit only through the area hook (Dbf4::virtualHooks.request).
// One process-wide engine state, not thread-safe.
//
// Invariants of a VirtualFile (per area, hung on WorkArea::virtualData):
//  1. head..tail holds exactly area.recCount nodes; head->prev and tail->next are null.
//  2. current is null exactly when the list is empty or no record was reached yet;
//     otherwise current is node number area.recNo.
//  3. A node's copy has recordLength bytes, or for variable-length areas (recordLength 0)
//     the 16-bit length at its start + 2 bytes; it never exceeds the area's record buffer
//     (the caller's buffer of the virtual open, WorkArea::native, else WorkArea::record).
//  4. In the sorted modes the keys of head..tail ascend (mode 3) or descend (mode 4).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "storage/work_area.h"

namespace VFiles {

using Dbf4::WorkArea;

enum Mode : uint8_t { kAppend = 0, kPush = 1, kInsert = 2, kAscending = 3, kDescending = 4 };
// Storage kinds as chosen by the USE text; every kind keeps its records on the heap.
enum Storage : uint8_t { kHeap = 1, kEms = 2, kXms = 3, kBiggest = 4 };
enum Command : int {
    kClose = 1,
    kDelete = 2,
    kGo = 3,
    kOpen = 4,
    kPack = 5,
    kPop = 6,
    kAdd = 7,
    kWrite = 8,
    kRecall = 9,
    kRemove = 10,
    kZap = 12
};

// Requests of the table engine through Dbf4::virtualHooks.request (operation, record).
enum Request : int {
    kReqOpen = 0,    // the area's fileName holds the rest of the USE text
    kReqRead = 1,    // record n into the record buffer
    kReqWrite = 2,   // the record buffer back as record n (n above the count adds it)
    kReqAppend = 3,  // the record buffer as a new record (the engine has counted it as n)
    kReqDelete = 4,  // record n's flag byte := 1
    kReqRecall = 5,  // record n's flag byte := 0
    kReqPop = 6,
    kReqPack = 7,
    kReqClose = 9,
    kReqRemove = 10,
    kReqZap = 12,
};

inline constexpr size_t kMaxKey = 100;

// Builds the key of the record in the area's record buffer.
using KeyMaker = std::function<std::string(const WorkArea&)>;

struct Node {
    Node* prev = nullptr;
    Node* next = nullptr;
    std::vector<uint8_t> copy;
};

struct VirtualFile {
    uint8_t mode = kAppend;
    uint8_t storage = kHeap;
    KeyMaker keyMaker;
    Node* head = nullptr;
    Node* tail = nullptr;
    Node* current = nullptr;
    int lastWalk = 0;  // steps of the latest positioning
};

// The area's state, created on first use.
VirtualFile& StateOf(WorkArea& area);
// Mode, storage kind and key maker; set before the open command.
void Configure(WorkArea& area, uint8_t mode, uint8_t storage, KeyMaker keyMaker = nullptr);
void SetKeyMaker(WorkArea& area, KeyMaker keyMaker);
// Removes the storage and order words (" TO HEAP", " TO EMS", " TO EXT", " TO XMS",
// " TO BIGGEST", " FIFO", " LIFO", " INSERTION", " ASCENDING", " DESCENDING") from a USE
// text, giving the mode and storage kind they choose.
void ParseUseWords(std::string& text, uint8_t* mode, uint8_t* storage);

// Performs one command for an area; recno is the wanted record of kGo and kWrite.
bool AreaHook(WorkArea& area, int command, int32_t recno);
// Adds the area's record buffer as a new record in the area's mode.
bool AddLL(WorkArea& area);
// Removes record 1, leaving it in the record buffer.
bool PopRec(WorkArea& area);

// The table engine's request entry: maps a Request onto the commands above.
bool Request(WorkArea& area, int op, int32_t recno);

// Installs AreaHook into the table engine; Shutdown makes later closes do nothing.
void Install();
void Shutdown();

}  // namespace VFiles
