// The one file layer under the table, memo, index and semaphore files: open, read-at,
// write-at, size, truncate, sync, byte-range locks, erase and rename, with the engine's error
// codes. Nothing else in the program calls open/pread/fcntl on those files.
// Reads may also go through a read-only shared mapping of the file (Map), which sees every
// write made through any handle since both go through the page cache.
// Locks are open-file-description locks, so two handles of one process conflict like two
// stations. Share modes are emulated with a lock on ShareByteOffset held by every open.
// It is also the seam for fault-injection tests (FaultInjector below).
// Not thread-safe; one process-wide fault injector.
#pragma once

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace tz {

// The share-emulation byte lies beyond every engine lock range (record locks of a large
// table run past 0x80000000).
inline constexpr uint64_t ShareByteOffset = 0x4000000000000000ull;

enum class ShareMode {
    DenyNone,   // shared open: a read lock on the share byte
    Exclusive,  // exclusive open: a write lock on the share byte
};

enum class Access { ReadWrite, ReadOnly };

// Maps errno to the engine's codes (2, 3, 4, 5, 6, 8, 17, 19, 32, 100, 101).
// `writing` selects 101 over 100 for EIO. A 101 notes the errno it stood for.
uint16_t ErrnoToCode(int err, bool writing);

// The errno behind the last write error (101) of this process: ENOSPC for a short write,
// a failed write to a mapping or an injected fault unless the injector names another.
int LastWriteErrno();
// Whether code means the disk has no room: 227, 1004 and 1012 always, 101 only when it
// stood for ENOSPC or EDQUOT (another write error, such as EIO, is no full disk, and
// freeing room would not mend it).
bool NoRoom(uint16_t code);

// Case-insensitive name resolution: the exact name when it exists, else the single
// case-insensitive match in its folder (the folder path itself resolved the same way),
// else the name unchanged. "\" is accepted as a separator.
std::string ResolveName(const std::string& name);
bool Exists(const std::string& name);  // a regular file, after resolution
bool DirExists(const std::string& name);

class File {
  public:
    File() = default;
    ~File();  // closes without reporting
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;

    // Opens an existing file (name resolved). 0 or an engine code; a held share byte
    // gives 32.
    uint16_t Open(const std::string& name, Access access, ShareMode share);
    // Creates or truncates (name resolved when it exists, else created as spelled). An
    // existing file that another handle holds open is refused with 32 and left unchanged.
    uint16_t Create(const std::string& name, ShareMode share);

    // Reads up to n bytes at off; *got is the count read (a short read at the end of the
    // file is no error here).
    uint16_t ReadAt(uint64_t off, void* buf, size_t n, size_t* got);
    // Writes all n bytes at off; a short write or ENOSPC gives 101.
    uint16_t WriteAt(uint64_t off, const void* buf, size_t n);
    uint16_t Size(uint64_t* size) const;
    // Truncates or extends. Takes the share byte exclusively for the duration and gives
    // 32 when another handle has the file open. Drops this handle's mapping.
    uint16_t Truncate(uint64_t size);

    // Maps the first `length` bytes read-only and shared, replacing any earlier mapping of
    // this handle; *view receives its start. Writes through any handle, of this process or
    // another, show through it at once. The length may reach past the file's end so that
    // the file can grow without a new mapping, but a byte at or past the end the file has
    // when it is read must not be touched (the process would get SIGBUS): readers check
    // the length first. Since erase, truncate and recreate are refused while another
    // handle holds the file, a length once seen stays safe for as long as this handle is
    // open, apart from this handle's own Truncate, which drops the mapping. Length 0 or a
    // closed file gives 6; a file on a network share (where other stations' writes need not
    // show through a mapping) gives 5; a failed mmap its errno's code. The caller then reads
    // with ReadAt.
    uint16_t Map(uint64_t length, const uint8_t** view);
    // The same mapping made writable, for a small record that stations read and write in
    // place under a byte-range lock: the first `length` bytes, all of which the file must
    // hold (a store past its end would end the process). Refused like Map, and with 5 for
    // a handle not open for writing.
    uint16_t MapWritable(uint64_t length, uint8_t** view);
    // Stores n bytes at off through the writable mapping, as WriteAt would write them (the
    // fault injector counts it as a write; no system call). 6 without a writable mapping
    // that holds the range; 101 when the file no longer holds those bytes (see ReadMapped).
    uint16_t WriteMapped(uint64_t off, const void* buf, size_t n);
    // Copies n bytes at off out of the mapping (no system call). 6 without a mapping that
    // holds the range; 100 when the file no longer holds those bytes: another program cut
    // it short since they were read. The copy that touches the missing bytes is abandoned
    // (buf then holds part of them) instead of ending the process with SIGBUS.
    uint16_t ReadMapped(uint64_t off, void* buf, size_t n) const;
    // Whether bytes just copied out of the mapping lay in the file (known: the length the
    // caller knew the file to have). A file cut short inside a memory page shows zeros
    // past its new end up to that page's end, with no fault: when the file was known to
    // reach past the copy's last memory page, one byte of the next page is touched (a file
    // that still reaches it holds the bytes); otherwise the length is asked.
    bool MappedBytesInFile(uint64_t off, size_t n, uint64_t known) const;
    // ReadMapped, and then 100 also when the bytes end in a zero byte and do not all lie in
    // the file (MappedBytesInFile): a cut inside a memory page. Bytes that end in another
    // value cost no look.
    static constexpr uint16_t kCutShort = 100;  // TzErr::DiskReadError
    inline uint16_t ReadMappedInFile(uint64_t off, void* buf, size_t n, uint64_t known) const;
    // ReadMappedInFile's other cases: no plain copy possible, a page replaced during the
    // copy, or bytes that end in a zero byte.
    uint16_t ReadMappedChecked(uint64_t off, void* buf, size_t n, uint64_t known) const;
    void Unmap();  // also done by Close, Truncate and the destructor
    const uint8_t* MapView() const { return map_; }
    uint64_t MapLength() const { return mapLength_; }
    uint16_t Sync();
    // Makes sure that n bytes from off can be written without the disk running out: the
    // room is taken now, the file's length stays. 0 also where the file system cannot
    // reserve room (nothing is promised then); a full disk gives 101. The fault injector
    // counts it as a write.
    uint16_t Reserve(uint64_t off, uint64_t n);
    // True when the file holds more room on the disk than its length needs (room reserved
    // past its end). One look at the file; false when it cannot look.
    bool HoldsRoomPastEnd() const;
    // Gives back the room reserved past the file's end; the length stays. The caller makes
    // sure that no other handle extends the file meanwhile (a page written past the end it
    // sees here would be cut off). Never fails for lack of room.
    uint16_t GiveBackRoomPastEnd();
    // Cuts the file back to size without taking the share byte: only for bytes past every
    // whole record that this handle wrote itself and that no other handle counts (a record
    // write that failed part-way). Never fails for lack of room, so the fault injector
    // leaves it alone. Drops this handle's mapping.
    uint16_t CutBack(uint64_t size);
    // Non-blocking exclusive byte-range lock; a conflict gives 33.
    uint16_t Lock(uint64_t off, uint64_t len);
    uint16_t Unlock(uint64_t off, uint64_t len);
    // Asks whether another handle (of this process or another) holds a lock overlapping
    // [off, off + len): 0 when none, 33 with *at / *held giving one such lock's range
    // (clipped to nothing else; not necessarily the lowest), else an engine code.
    uint16_t TestLock(uint64_t off, uint64_t len, uint64_t* at, uint64_t* held) const;
    // Tries to hold the share byte exclusively (upgrading a shared open); 32 when another
    // handle has the file open. RestoreShare returns to the mode given at open.
    uint16_t TakeExclusive();
    void RestoreShare();
    uint16_t Close();

    // Removes the file's name while this handle holds it exclusively; the handle stays
    // usable and the data goes with its close, however the process ends (scratch files).
    uint16_t Unlink();
    // Gives the file this handle holds exclusively the name `to` (resolved), atomically
    // replacing what is there. An existing target must be held exclusively by `held` (an
    // open of this process, which stays open on the replaced file) or by no handle at all;
    // otherwise 32. This handle then names the new path.
    uint16_t RenameTo(const std::string& to, const File* held = nullptr);
    // Keeps the mode given at open in step with a handle whose place this one takes.
    void SetShareMode(ShareMode share) { share_ = share; }

    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    const std::string& Path() const { return path_; }
    ShareMode Share() const { return share_; }

  private:
    uint16_t MapShared(uint64_t length, bool writable);

    int fd_ = -1;
    std::string path_;
    ShareMode share_ = ShareMode::DenyNone;
    bool exclusiveHeld_ = false;    // the share byte is write-locked by this handle
    bool readOnly_ = false;         // opened with Access::ReadOnly: writes are refused with 5
    bool writable_ = false;         // the descriptor is open for writing (write locks possible)
    const uint8_t* map_ = nullptr;  // shared mapping of the first mapLength_ bytes
    uint64_t mapLength_ = 0;
    bool mapWritable_ = false;  // map_ was made by MapWritable
    // A read-only mapping whose cut pages the SIGBUS handler replaces by zeros, so that
    // ReadMapped copies plainly.
    bool mapPatched_ = false;
    // A copy out of the mapping met a page the file no longer holds (now zeros): every
    // later copy out of it is refused too, until it is mapped again.
    mutable bool mapCut_ = false;

    // One plain copy out of a patched mapping; false (and the mapping refused from now on)
    // when a page was replaced by zeros during it.
    inline bool CopyCounted(uint64_t off, void* buf, size_t n) const;
    // The usual case of MappedBytesInFile, inline: the file was known to reach past the
    // memory page where the bytes copied end, and one byte of the next page is touched
    // (counted as a copy is). False when that cannot tell.
    inline bool NextPageInFile(uint64_t off, size_t n, uint64_t known) const;
};

namespace detail {
// Pages of a read-only mapping replaced by zeros after their file was cut short (see
// File::ReadMapped); a copy that sees the count move may have copied such zeros.
extern std::atomic<uint32_t> g_cutPages;
// The memory page's size less one (set when the first read-only mapping is made).
extern std::atomic<uint64_t> g_pageMask;
}  // namespace detail

bool File::CopyCounted(uint64_t off, void* buf, size_t n) const {
    const uint32_t before = detail::g_cutPages.load(std::memory_order_relaxed);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    std::memcpy(buf, map_ + off, n);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (__builtin_expect(detail::g_cutPages.load(std::memory_order_relaxed) == before, 1))
        return true;
    mapCut_ = true;
    return false;
}

bool File::NextPageInFile(uint64_t off, size_t n, uint64_t known) const {
    const uint64_t mask = detail::g_pageMask.load(std::memory_order_relaxed);
    const uint64_t next = (off + n + mask) & ~mask;
    if (next >= known || next >= mapLength_) return false;
    const uint32_t before = detail::g_cutPages.load(std::memory_order_relaxed);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    const uint8_t probe = *static_cast<const volatile uint8_t*>(map_ + next);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    (void)probe;
    if (__builtin_expect(detail::g_cutPages.load(std::memory_order_relaxed) == before, 1))
        return true;
    mapCut_ = true;  // that page is gone: only the file's length can tell now
    return false;
}

// Inline: records and index pages are read this way at every step; the usual case is one
// plain copy and two looks at the count of replaced pages, and for bytes that end in a
// zero (index pages do) a touch of the next memory page with two more looks.
uint16_t File::ReadMappedInFile(uint64_t off, void* buf, size_t n, uint64_t known) const {
    if (__builtin_expect(
            mapPatched_ && !mapCut_ && n != 0 && off <= mapLength_ && n <= mapLength_ - off, 1)) {
        if (__builtin_expect(!CopyCounted(off, buf, n), 0)) return kCutShort;
        if (__builtin_expect(static_cast<const uint8_t*>(buf)[n - 1] != 0, 1)) return 0;
        if (__builtin_expect(NextPageInFile(off, n, known), 1)) return 0;
        return MappedBytesInFile(off, n, known) ? 0 : kCutShort;
    }
    return ReadMappedChecked(off, buf, n, known);
}

// Erases a file; refused with 32 while another handle has it open, 2 when absent.
uint16_t EraseFile(const std::string& name);
// Renames (atomically replacing the target); refused with 32 when either file is open
// elsewhere.
uint16_t RenameFile(const std::string& from, const std::string& to);
// A new empty file in $TMPDIR (else /tmp) whose name begins with prefix.
uint16_t MakeTempFile(const std::string& prefix, std::string* name);
// Free space of the folder holding path in kilobytes, capped at 2,147,483,647; -1 when the
// folder cannot be examined.
int64_t DiskFreeKB(const std::string& path);
// Modification time of a file (seconds since the epoch) and setting it; 0 on failure.
int64_t FileTime(const std::string& name);
uint16_t SetFileTime(const std::string& name, int64_t seconds);

// Fault injection for tests: counts writes (WriteAt, Truncate) and syncs through the
// layer; when the count reaches failAt the operation fails with 101 (or the process ends
// at once with _exit(crashExitCode) when crash is set), and every later write fails too
// while `sticky` is set.
struct FaultInjector {
    long writes = 0;
    long failAt = -1;  // -1: never
    bool crash = false;
    bool sticky = true;
    bool failSync = false;  // every Sync fails with 101 (counted all the same)
    // Reserve takes no room and answers 0, as on a file system that cannot reserve any.
    bool reserveUnsupported = false;
    int crashExitCode = 77;
    int failErrno = ENOSPC;  // what an injected failure stands for (EIO: a failing device)
};
void SetFaultInjector(FaultInjector* injector);  // nullptr removes it
FaultInjector* CurrentFaultInjector();

// Calls that reach the system through the layer, counted for tests that check what an
// engine step costs: reads (ReadAt), writes (WriteAt), sizes (Size), locks (Lock, Unlock,
// TestLock), reserves (Reserve). Reads through a mapping are not calls.
struct CallCounts {
    long reads = 0;
    long writes = 0;
    long sizes = 0;
    long locks = 0;
    long reserves = 0;  // Reserve
};
void SetCallCounts(CallCounts* counts);  // nullptr stops counting

// Named steps for kill tests. When the environment variable KJ_STOP_AT names this step
// (read at the first call in the process), the process stops itself with SIGSTOP, so a test
// that waits for the stop can kill it exactly there. Costs one comparison when unset.
void StopPoint(const char* name);

}  // namespace tz
