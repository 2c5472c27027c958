// The file layer: name resolution, opens with emulated share modes, positioned reads and
// writes, open-file-description locks, erase/rename/truncate guarded like Windows, and the
// fault injector.
//
// Share-byte protocol. Linux has no share modes, so every open of a table, memo, index or
// semaphore file holds an OFD lock on the single byte at ShareByteOffset (2^62),
// beyond every range the engine itself locks:
//   1. A shared open (DenyNone) holds a read lock on it; an exclusive open a write lock.
//      An open whose lock is refused fails with 32 and leaves nothing open.
//   2. Erase, rename, truncate and create-over-an-existing-file first take the byte with a
//      write lock (on a fresh open file description, or by upgrading the handle's own read
//      lock for Truncate) and are refused with 32 while any other handle, of this process or
//      another, has the file open. Truncate returns its handle to its read lock afterwards.
//   3. Locks belong to the open file description, so they conflict between two handles of
//      one process and vanish only when that description is closed. A handle is never
//      dup()ed and every descriptor is opened O_CLOEXEC.
//   4. A handle open for reading only is still opened read-write when the file permits, so
//      it can take write locks; when the file is not writable to us it is opened read-only
//      and its locks degrade to read locks (they still keep writers out).
#include "storage/file_layer.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/falloc.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "storage/tz_errors.h"

namespace tz {

namespace {

constexpr int64_t kMaxDiskFreeKB = 2147483647;
constexpr uint16_t kSharingViolation = TzErr::SharingViolation;
constexpr uint16_t kLockViolation = TzErr::LockViolation;
constexpr uint16_t kAccessDenied = TzErr::AccessDenied;
constexpr uint16_t kInvalidHandle = TzErr::InvalidHandle;
constexpr uint16_t kWriteFault = TzErr::DiskWriteError;

FaultInjector* g_injector = nullptr;
CallCounts* g_calls = nullptr;
int g_lastWriteErrno = ENOSPC;  // what the last 101 of this process stood for

// A failed write (101), noting what it stood for: a short write counts as a full disk.
uint16_t WriteFault(int err = ENOSPC) {
    g_lastWriteErrno = err;
    return kWriteFault;
}

void Count(long CallCounts::*kind) {
    if (g_calls != nullptr) ++(g_calls->*kind);
}

// Counts one write or sync through the injector; true when it must fail.
bool FaultHits() {
    FaultInjector* fi = g_injector;
    if (fi == nullptr) return false;
    ++fi->writes;
    if (fi->failAt < 0 || fi->writes < fi->failAt) return false;
    if (fi->writes > fi->failAt && !fi->sticky) return false;
    if (fi->crash) _exit(fi->crashExitCode);
    g_lastWriteErrno = fi->failErrno;
    return true;
}

bool IsLockConflict(int err) {
    return err == EAGAIN || err == EACCES;
}

// A non-blocking OFD lock (F_RDLCK, F_WRLCK or F_UNLCK); 0 or the errno.
int OfdLock(int fd, short type, uint64_t off, uint64_t len) {
    struct flock fl = {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(off);
    fl.l_len = static_cast<off_t>(len);
    fl.l_pid = 0;
    if (fcntl(fd, F_OFD_SETLK, &fl) == 0) return 0;
    return errno;
}

// True when another open file description holds any lock on the share byte.
bool ShareByteHeldElsewhere(int fd) {
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(ShareByteOffset);
    fl.l_len = 1;
    fl.l_pid = 0;
    if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return true;
    return fl.l_type != F_UNLCK;
}

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 0x20) : c;
}

bool EqualFold(const char* a, const std::string& b) {
    size_t i = 0;
    for (; a[i] != 0; ++i) {
        if (i >= b.size() || FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    }
    return i == b.size();
}

bool NameExists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// The single entry of dir whose name equals comp apart from ASCII case; "" when there is
// none or more than one. Only ASCII letters fold: names on disk may be in any encoding.
std::string FindOneMatch(const std::string& dir, const std::string& comp) {
    DIR* d = opendir(dir.empty() ? "." : dir.c_str());
    if (d == nullptr) return std::string();
    std::string found;
    int count = 0;
    while (struct dirent* e = readdir(d)) {
        if (EqualFold(e->d_name, comp)) {
            found = e->d_name;
            ++count;
        }
    }
    closedir(d);
    return count == 1 ? found : std::string();
}

std::string Slashes(const std::string& name) {
    std::string p(name);
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}

// Splits a resolved path into its folder (with trailing '/', or "") and its last name.
void SplitPath(const std::string& path, std::string* dir, std::string* base) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        dir->clear();
        *base = path;
    } else {
        *dir = path.substr(0, slash + 1);
        *base = path.substr(slash + 1);
    }
}

// The code for a failed open: a missing folder gives 3 rather than 2.
uint16_t OpenError(const std::string& path, int err) {
    if (err == ENOENT) {
        std::string dir, base;
        SplitPath(path, &dir, &base);
        struct stat st;
        if (!dir.empty() && (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)))
            return TzErr::PathNotFound;
    }
    return ErrnoToCode(err, false);
}

// True when path still names the file open on fd. An open that takes its share lock only
// after open() can otherwise hold a file that another station erased or replaced in between
// (the eraser holds the share byte only until the unlink), and the two no longer coordinate.
bool StillNamed(int fd, const std::string& path) {
    struct stat a, b;
    if (fstat(fd, &a) != 0 || stat(path.c_str(), &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

constexpr int kOpenAttempts = 3;

// Opens read-write, or read-only when allowed and the file is not writable to us.
int OpenFd(const std::string& path, bool mayReadOnly, bool* writable) {
    *writable = true;
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && mayReadOnly && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        *writable = false;
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    return fd;
}

// Holds the share byte of an existing file exclusively for an erase or rename, on a fresh
// open file description. A file we may not open for writing is only checked (F_OFD_GETLK),
// since a write lock needs a writable descriptor.
class ExclusiveHold {
  public:
    ExclusiveHold() = default;
    ExclusiveHold(const ExclusiveHold&) = delete;
    ExclusiveHold& operator=(const ExclusiveHold&) = delete;
    ~ExclusiveHold() {
        if (fd_ >= 0) close(fd_);
    }

    // The byte is held on the file that path names once it is held: a file erased and made
    // again by others in between is not the one this erase or rename would then act on.
    uint16_t Take(const std::string& path) {
        for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
            uint16_t rc = TakeOnce(path);
            if (rc != 0 || StillNamed(fd_, path)) return rc;
            close(fd_);
            fd_ = -1;
        }
        return kSharingViolation;
    }

  private:
    uint16_t TakeOnce(const std::string& path) {
        bool writable = false;
        fd_ = OpenFd(path, true, &writable);
        if (fd_ < 0) return OpenError(path, errno);
        struct stat st;
        if (fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) return kAccessDenied;
        if (!writable) return ShareByteHeldElsewhere(fd_) ? kSharingViolation : 0;
        int err = OfdLock(fd_, F_WRLCK, ShareByteOffset, 1);
        if (err == 0) return 0;
        return IsLockConflict(err) ? kSharingViolation : ErrnoToCode(err, false);
    }

    int fd_ = -1;
};

}  // namespace

uint16_t ErrnoToCode(int err, bool writing) {
    switch (err) {
        case 0:
            return 0;
        case ENOENT:
            return TzErr::FileNotFound;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            return TzErr::PathNotFound;
        case EMFILE:
        case ENFILE:
            return TzErr::TooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EISDIR:
            return kAccessDenied;
        case EBADF:
            return kInvalidHandle;
        case ENOMEM:
            return TzErr::NotEnoughMemory;
        case EXDEV:
            return TzErr::NotSameDevice;
        case EROFS:
            return TzErr::WriteProtected;
        case EBUSY:
        case ETXTBSY:
            return kSharingViolation;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return WriteFault(err);
        default:
            return writing ? WriteFault(err) : TzErr::DiskReadError;
    }
}

std::string ResolveName(const std::string& name) {
    std::string p = Slashes(name);
    if (p.empty() || NameExists(p)) return p;
    std::string out;
    size_t i = 0;
    if (p[0] == '/') {
        out = "/";
        i = 1;
    }
    bool missing = false;  // once a folder is missing, the rest is kept as given
    while (i <= p.size()) {
        size_t j = p.find('/', i);
        if (j == std::string::npos) j = p.size();
        std::string comp = p.substr(i, j - i);
        bool last = j == p.size();
        if (!comp.empty()) {
            std::string cand = out + comp;
            if (!missing && comp != "." && comp != ".." && !NameExists(cand)) {
                std::string match = FindOneMatch(out, comp);
                if (match.empty()) {
                    missing = true;
                } else {
                    cand = out + match;
                }
            }
            out = cand;
            if (!last) out += '/';
        }
        i = j + 1;
    }
    return out;
}

bool Exists(const std::string& name) {
    struct stat st;
    return stat(ResolveName(name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirExists(const std::string& name) {
    struct stat st;
    return stat(ResolveName(name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// ---- File ----

File::~File() {
    Unmap();
    if (fd_ >= 0) close(fd_);
}

File::File(File&& other) noexcept {
    *this = std::move(other);
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Unmap();
        if (fd_ >= 0) close(fd_);
        fd_ = other.fd_;
        map_ = other.map_;
        mapLength_ = other.mapLength_;
        mapWritable_ = other.mapWritable_;
        mapPatched_ = other.mapPatched_;
        mapCut_ = other.mapCut_;
        other.map_ = nullptr;
        other.mapLength_ = 0;
        other.mapWritable_ = false;
        other.mapPatched_ = false;
        path_ = std::move(other.path_);
        share_ = other.share_;
        readOnly_ = other.readOnly_;
        writable_ = other.writable_;
        exclusiveHeld_ = other.exclusiveHeld_;
        other.fd_ = -1;
        other.path_.clear();
    }
    return *this;
}

uint16_t File::Open(const std::string& name, Access access, ShareMode share) {
    Close();
    std::string path = ResolveName(name);
    bool writable = false;
    short type = F_RDLCK;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        fd = OpenFd(path, access == Access::ReadOnly, &writable);
        if (fd < 0) return OpenError(path, errno);
        struct stat st;
        if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            close(fd);
            return kAccessDenied;
        }
        type = (share == ShareMode::Exclusive && writable) ? F_WRLCK : F_RDLCK;
        int err = OfdLock(fd, type, ShareByteOffset, 1);
        if (err != 0) {
            close(fd);
            return IsLockConflict(err) ? kSharingViolation : ErrnoToCode(err, false);
        }
        if (!StillNamed(fd, path)) {  // erased or replaced before the share byte was held
            close(fd);
            fd = -1;
            if (attempt + 1 == kOpenAttempts) return TzErr::FileNotFound;
        }
    }
    fd_ = fd;
    path_ = path;
    share_ = share;
    exclusiveHeld_ = type == F_WRLCK;
    readOnly_ = access == Access::ReadOnly;
    writable_ = writable;
    return 0;
}

uint16_t File::Create(const std::string& name, ShareMode share) {
    Close();
    std::string path = ResolveName(name);
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        bool existed = true;
        int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            if (errno != ENOENT) return OpenError(path, errno);
            existed = false;
            fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0) {
                if (errno == EEXIST) continue;  // someone created it meanwhile
                return OpenError(path, errno);
            }
        }
        int err = OfdLock(fd, F_WRLCK, ShareByteOffset, 1);
        if (err == 0 && !StillNamed(fd, path)) {  // erased or replaced meanwhile
            close(fd);
            continue;
        }
        if (err == 0 && existed && ftruncate(fd, 0) != 0) err = errno;
        if (err != 0) {
            close(fd);
            return IsLockConflict(err) ? kSharingViolation : ErrnoToCode(err, true);
        }
        if (share == ShareMode::DenyNone) {
            StopPoint("create-before-share");  // kill tests: the share byte still exclusive
            OfdLock(fd, F_RDLCK, ShareByteOffset, 1);
        }
        fd_ = fd;
        path_ = path;
        share_ = share;
        exclusiveHeld_ = share == ShareMode::Exclusive;
        readOnly_ = false;
        writable_ = true;
        return 0;
    }
    return kSharingViolation;
}

uint16_t File::ReadAt(uint64_t off, void* buf, size_t n, size_t* got) {
    *got = 0;
    if (fd_ < 0) return kInvalidHandle;
    Count(&CallCounts::reads);
    char* p = static_cast<char*>(buf);
    while (*got < n) {
        ssize_t r = pread(fd_, p + *got, n - *got, static_cast<off_t>(off + *got));
        if (r < 0) {
            if (errno == EINTR) continue;
            return ErrnoToCode(errno, false);
        }
        if (r == 0) break;  // end of file
        *got += static_cast<size_t>(r);
    }
    return 0;
}

uint16_t File::WriteAt(uint64_t off, const void* buf, size_t n) {
    if (fd_ < 0) return kInvalidHandle;
    if (FaultHits()) return kWriteFault;
    if (readOnly_ || !writable_) return kAccessDenied;
    Count(&CallCounts::writes);
    const char* p = static_cast<const char*>(buf);
    size_t done = 0;
    while (done < n) {
        ssize_t r = pwrite(fd_, p + done, n - done, static_cast<off_t>(off + done));
        if (r < 0) {
            if (errno == EINTR) continue;
            return ErrnoToCode(errno, true);
        }
        if (r == 0) return WriteFault();
        done += static_cast<size_t>(r);
    }
    return 0;
}

uint16_t File::Size(uint64_t* size) const {
    *size = 0;
    if (fd_ < 0) return kInvalidHandle;
    Count(&CallCounts::sizes);
    struct stat st;
    if (fstat(fd_, &st) != 0) return ErrnoToCode(errno, false);
    *size = static_cast<uint64_t>(st.st_size);
    return 0;
}

uint16_t File::Truncate(uint64_t size) {
    if (fd_ < 0) return kInvalidHandle;
    if (FaultHits()) return kWriteFault;
    if (readOnly_ || !writable_) return kAccessDenied;
    Unmap();  // a shrunk file would leave mapped bytes that end the process when touched
    // A caller that already holds the share byte exclusively (a pack in progress) keeps it.
    const bool held = exclusiveHeld_;
    uint16_t rc = TakeExclusive();
    if (rc != 0) return rc;
    if (ftruncate(fd_, static_cast<off_t>(size)) != 0) rc = ErrnoToCode(errno, true);
    if (!held) RestoreShare();
    return rc;
}

uint16_t File::Reserve(uint64_t off, uint64_t n) {
    if (fd_ < 0) return kInvalidHandle;
    if (FaultHits()) return kWriteFault;
    if (readOnly_ || !writable_) return kAccessDenied;
    Count(&CallCounts::reserves);
    if (n == 0 || (g_injector != nullptr && g_injector->reserveUnsupported)) return 0;
    for (;;) {
        if (fallocate(fd_, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(off), static_cast<off_t>(n)) ==
            0)
            return 0;
        if (errno == EINTR) continue;
        if (errno == ENOSPC || errno == EDQUOT) return WriteFault(errno);
        return 0;  // not supported here: the writes themselves report a full disk
    }
}

bool File::HoldsRoomPastEnd() const {
    if (fd_ < 0) return false;
    struct stat st;
    if (fstat(fd_, &st) != 0) return false;
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    const uint64_t block = st.st_blksize > 0 ? static_cast<uint64_t>(st.st_blksize) : 4096;
    return static_cast<uint64_t>(st.st_blocks) * 512 > (size + block - 1) / block * block;
}

uint16_t File::GiveBackRoomPastEnd() {
    if (fd_ < 0) return kInvalidHandle;
    if (readOnly_ || !writable_) return kAccessDenied;
    struct stat st;
    if (fstat(fd_, &st) != 0) return ErrnoToCode(errno, false);
    // Cutting a file to its own length gives back the blocks reserved past it (the length,
    // and every mapping of the bytes below it, stay).
    if (ftruncate(fd_, st.st_size) != 0) return ErrnoToCode(errno, true);
    return 0;
}

uint16_t File::CutBack(uint64_t size) {
    if (fd_ < 0) return kInvalidHandle;
    if (readOnly_ || !writable_) return kAccessDenied;
    Unmap();
    if (ftruncate(fd_, static_cast<off_t>(size)) != 0) return ErrnoToCode(errno, true);
    return 0;
}

uint16_t File::Sync() {
    if (fd_ < 0) return kInvalidHandle;
    if (FaultHits()) return kWriteFault;
    if (g_injector != nullptr && g_injector->failSync) return WriteFault(g_injector->failErrno);
    if (fsync(fd_) != 0 && errno != EINVAL) return ErrnoToCode(errno, true);
    return 0;
}

// A zero-length range locks nothing (fcntl would read it as "to the end of all offsets").
uint16_t File::Lock(uint64_t off, uint64_t len) {
    if (fd_ < 0) return kInvalidHandle;
    if (len == 0) return 0;
    Count(&CallCounts::locks);
    int err = OfdLock(fd_, writable_ ? F_WRLCK : F_RDLCK, off, len);
    if (err == 0) return 0;
    return IsLockConflict(err) ? kLockViolation : ErrnoToCode(err, false);
}

uint16_t File::Unlock(uint64_t off, uint64_t len) {
    if (fd_ < 0) return kInvalidHandle;
    if (len == 0) return 0;
    Count(&CallCounts::locks);
    int err = OfdLock(fd_, F_UNLCK, off, len);
    return err == 0 ? 0 : ErrnoToCode(err, false);
}

uint16_t File::TestLock(uint64_t off, uint64_t len, uint64_t* at, uint64_t* held) const {
    *at = *held = 0;
    if (fd_ < 0) return kInvalidHandle;
    if (len == 0) return 0;
    Count(&CallCounts::locks);
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(off);
    fl.l_len = static_cast<off_t>(len);
    fl.l_pid = 0;
    if (fcntl(fd_, F_OFD_GETLK, &fl) != 0) return ErrnoToCode(errno, false);
    if (fl.l_type == F_UNLCK) return 0;
    *at = static_cast<uint64_t>(fl.l_start);
    *held = fl.l_len == 0 ? UINT64_MAX - *at : static_cast<uint64_t>(fl.l_len);
    return kLockViolation;
}

uint16_t File::TakeExclusive() {
    if (fd_ < 0) return kInvalidHandle;
    if (!writable_) return kAccessDenied;
    int err = OfdLock(fd_, F_WRLCK, ShareByteOffset, 1);
    if (err == 0) {
        exclusiveHeld_ = true;
        return 0;
    }
    return IsLockConflict(err) ? kSharingViolation : ErrnoToCode(err, false);
}

void File::RestoreShare() {
    if (fd_ < 0) return;
    if (share_ == ShareMode::DenyNone || !writable_) {
        OfdLock(fd_, F_RDLCK, ShareByteOffset, 1);  // a downgrade never conflicts
        exclusiveHeld_ = false;
    }
}

namespace {

// A mapping shows other stations' writes only where every station writes through the same
// page cache: a local file system. On a network share (NFS, SMB, ...) reads must go through
// ReadAt, which the locks keep coherent.
bool LocalFileSystem(int fd) {
    struct statfs fs;
    if (fstatfs(fd, &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
        case 0xEF53:      // ext2/3/4
        case 0x58465342:  // xfs
        case 0x9123683E:  // btrfs
        case 0x01021994:  // tmpfs
        case 0x794C7630:  // overlayfs
        case 0x2FC12FC1:  // zfs
        case 0xF2F52010:  // f2fs
            return true;
        default:
            return false;
    }
}

}  // namespace

std::atomic<uint32_t> detail::g_cutPages{0};
std::atomic<uint64_t> detail::g_pageMask{4095};

namespace {

// The read-only mappings of files through this layer, so that the SIGBUS of a plain copy
// out of one whose file was cut short can be told from any other: the page the file no
// longer holds is then replaced by a page of zeros, and the copy goes on. g_cutPages counts
// those replacements; a copy that sees it move may have copied zeros (ReadMapped). Slots
// are taken and given back by Map and Unmap; the handler only reads them.
constexpr int kMapSlots = 64;
struct MapSlot {
    std::atomic<uintptr_t> begin{0};
    std::atomic<uintptr_t> end{0};
};
MapSlot g_maps[kMapSlots];
std::atomic<uint32_t>& g_cutPages = detail::g_cutPages;
std::atomic<uintptr_t> g_pageSize{4096};

bool RegisterMapping(const uint8_t* p, uint64_t length) {
    const uintptr_t begin = reinterpret_cast<uintptr_t>(p);
    for (MapSlot& slot : g_maps) {
        uintptr_t expected = 0;
        if (slot.begin.compare_exchange_strong(expected, begin)) {
            slot.end.store(begin + static_cast<uintptr_t>(length));
            return true;
        }
    }
    return false;  // too many at once: such a mapping keeps the guarded copy
}

void UnregisterMapping(const uint8_t* p) {
    const uintptr_t begin = reinterpret_cast<uintptr_t>(p);
    for (MapSlot& slot : g_maps) {
        if (slot.begin.load() != begin) continue;
        slot.end.store(0);
        slot.begin.store(0);
        return;
    }
}

// In the SIGBUS handler: a fault inside a registered mapping is a page its file no longer
// holds; it is replaced by zeros (mmap is a plain system call, safe here).
bool ReplaceCutPage(const void* addr) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(addr);
    for (const MapSlot& slot : g_maps) {
        const uintptr_t begin = slot.begin.load(), end = slot.end.load();
        if (begin == 0 || at < begin || at >= end) continue;
        const uintptr_t page = at & ~(g_pageSize.load() - 1);
        void* p = mmap(reinterpret_cast<void*>(page), g_pageSize.load(), PROT_READ,
                       MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return false;
        g_cutPages.fetch_add(1);
        return true;
    }
    return false;
}

void CatchBusErrors();

}  // namespace

uint16_t File::MapShared(uint64_t length, bool writable) {
    Unmap();
    if (fd_ < 0 || length == 0) return kInvalidHandle;
    if (!LocalFileSystem(fd_)) return kAccessDenied;
    if (writable && (readOnly_ || !writable_)) return kAccessDenied;
    if (length > static_cast<uint64_t>(SIZE_MAX)) return TzErr::NotEnoughMemory;
    const int prot = writable ? PROT_READ | PROT_WRITE : PROT_READ;
    void* p = mmap(nullptr, static_cast<size_t>(length), prot, MAP_SHARED, fd_, 0);
    if (p == MAP_FAILED) return ErrnoToCode(errno, false);
    map_ = static_cast<const uint8_t*>(p);
    mapLength_ = length;
    mapWritable_ = writable;
    if (!writable) {
        CatchBusErrors();
        g_pageSize.store(static_cast<uintptr_t>(sysconf(_SC_PAGESIZE)));
        detail::g_pageMask.store(uint64_t(g_pageSize.load()) - 1, std::memory_order_relaxed);
        mapPatched_ = RegisterMapping(map_, mapLength_);
    }
    return 0;
}

uint16_t File::Map(uint64_t length, const uint8_t** view) {
    const uint16_t rc = MapShared(length, false);
    *view = map_;
    return rc;
}

uint16_t File::MapWritable(uint64_t length, uint8_t** view) {
    const uint16_t rc = MapShared(length, true);
    *view = const_cast<uint8_t*>(map_);
    return rc;
}

namespace {

// A copy to or from a mapping whose file was cut short touches a page the file no longer
// has, and the system answers with SIGBUS. While this thread copies, the handler jumps
// back into the copy, which then reports the failure; any other SIGBUS goes on as before.
thread_local sigjmp_buf* t_copyBack = nullptr;
struct sigaction g_previousBus;

void OnBusError(int sig, siginfo_t* info, void* context) {
    if (sigjmp_buf* back = t_copyBack) {
        t_copyBack = nullptr;
        siglongjmp(*back, 1);
    }
    if (info != nullptr && ReplaceCutPage(info->si_addr)) return;
    if ((g_previousBus.sa_flags & SA_SIGINFO) != 0 && g_previousBus.sa_sigaction != nullptr) {
        g_previousBus.sa_sigaction(sig, info, context);
        return;
    }
    if ((g_previousBus.sa_flags & SA_SIGINFO) == 0 && g_previousBus.sa_handler != SIG_DFL &&
        g_previousBus.sa_handler != SIG_IGN) {
        g_previousBus.sa_handler(sig);
        return;
    }
    // As without this handler: the process ends with SIGBUS.
    signal(sig, SIG_DFL);
    raise(sig);
}

void CatchBusErrors() {
    static const bool installed = [] {
        struct sigaction sa = {};
        sa.sa_sigaction = &OnBusError;
        // Not blocked inside the handler: the jump back leaves the signal mask as it was.
        sa.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&sa.sa_mask);
        return sigaction(SIGBUS, &sa, &g_previousBus) == 0;
    }();
    (void)installed;
}

// False when the copy touched bytes its file no longer holds.
bool CopyMapped(void* to, const void* from, size_t n) {
    CatchBusErrors();
    sigjmp_buf back;
    if (sigsetjmp(back, 0) != 0) return false;
    t_copyBack = &back;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    std::memcpy(to, from, n);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    t_copyBack = nullptr;
    return true;
}

}  // namespace

uint16_t File::WriteMapped(uint64_t off, const void* buf, size_t n) {
    if (map_ == nullptr || !mapWritable_ || off > mapLength_ || n > mapLength_ - off)
        return kInvalidHandle;
    if (FaultHits()) return kWriteFault;
    return CopyMapped(const_cast<uint8_t*>(map_) + off, buf, n) ? 0 : WriteFault();
}

uint16_t File::ReadMapped(uint64_t off, void* buf, size_t n) const {
    if (map_ == nullptr || off > mapLength_ || n > mapLength_ - off) return kInvalidHandle;
    if (!mapPatched_) return CopyMapped(buf, map_ + off, n) ? 0 : TzErr::DiskReadError;
    // A plain copy: a page the file no longer holds reads as zeros (ReplaceCutPage), which
    // the count of replaced pages tells.
    return !mapCut_ && CopyCounted(off, buf, n) ? 0 : TzErr::DiskReadError;
}

uint16_t File::ReadMappedChecked(uint64_t off, void* buf, size_t n, uint64_t known) const {
    if (uint16_t rc = ReadMapped(off, buf, n)) return rc;
    if (n == 0 || static_cast<const uint8_t*>(buf)[n - 1] != 0 || MappedBytesInFile(off, n, known))
        return 0;
    return TzErr::DiskReadError;
}

bool File::MappedBytesInFile(uint64_t off, size_t n, uint64_t known) const {
    if (map_ == nullptr || n == 0) return false;
    const uint64_t page = g_pageSize.load(std::memory_order_relaxed);
    const uint64_t next = (off + n + page - 1) / page * page;
    uint64_t size = 0;
    if (next < known && next < mapLength_) {
        // The file reached past that memory page: one byte of the next is touched, which
        // faults (and is counted) when the file now ends before it. Then only its length
        // tells whether it still holds the bytes copied.
        uint8_t probe = 0;
        if (ReadMapped(next, &probe, 1) == 0) return true;
    }
    return Size(&size) == 0 && size >= off + n;
}

void File::Unmap() {
    if (map_ == nullptr) return;
    if (mapPatched_) UnregisterMapping(map_);
    mapPatched_ = mapCut_ = false;
    munmap(const_cast<uint8_t*>(map_), static_cast<size_t>(mapLength_));
    map_ = nullptr;
    mapLength_ = 0;
    mapWritable_ = false;
}

uint16_t File::Close() {
    Unmap();
    if (fd_ < 0) return 0;
    int r = close(fd_);
    int err = errno;
    fd_ = -1;  // Path() keeps naming the file, e.g. for erasing it after a failed copy
    return r == 0 ? 0 : ErrnoToCode(err, true);
}

uint16_t File::Unlink() {
    if (fd_ < 0) return kInvalidHandle;
    if (!exclusiveHeld_) return kSharingViolation;
    if (unlink(path_.c_str()) != 0) return ErrnoToCode(errno, true);
    return 0;
}

uint16_t File::RenameTo(const std::string& to, const File* held) {
    if (fd_ < 0) return kInvalidHandle;
    if (!exclusiveHeld_) return kSharingViolation;
    std::string dst = ResolveName(to);
    ExclusiveHold dstHold;
    struct stat target;
    if (stat(dst.c_str(), &target) == 0) {
        struct stat mine;
        const bool heldHere = held != nullptr && held->fd_ >= 0 && held->exclusiveHeld_ &&
                              fstat(held->fd_, &mine) == 0 && mine.st_dev == target.st_dev &&
                              mine.st_ino == target.st_ino;
        if (!heldHere) {
            uint16_t rc = dstHold.Take(dst);
            if (rc != 0) return rc;
        }
    }
    if (rename(path_.c_str(), dst.c_str()) != 0) return ErrnoToCode(errno, true);
    path_ = dst;
    return 0;
}

// ---- whole files ----

uint16_t EraseFile(const std::string& name) {
    std::string path = ResolveName(name);
    ExclusiveHold hold;
    uint16_t rc = hold.Take(path);
    if (rc != 0) return rc;
    if (unlink(path.c_str()) != 0) return ErrnoToCode(errno, true);
    return 0;
}

uint16_t RenameFile(const std::string& from, const std::string& to) {
    std::string src = ResolveName(from);
    ExclusiveHold srcHold;
    uint16_t rc = srcHold.Take(src);
    if (rc != 0) return rc;
    std::string dst = ResolveName(to);
    ExclusiveHold dstHold;
    struct stat a, b;
    if (stat(src.c_str(), &a) == 0 && stat(dst.c_str(), &b) == 0) {
        if (a.st_dev == b.st_dev && a.st_ino == b.st_ino) {
            // The target is the source under another spelling: only the case changes.
            std::string dir, base, givenDir, givenBase;
            SplitPath(dst, &dir, &base);
            SplitPath(Slashes(to), &givenDir, &givenBase);
            dst = dir + givenBase;
        } else {
            rc = dstHold.Take(dst);
            if (rc != 0) return rc;
        }
    }
    if (rename(src.c_str(), dst.c_str()) != 0) return ErrnoToCode(errno, true);
    return 0;
}

uint16_t MakeTempFile(const std::string& prefix, std::string* name) {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = (tmp != nullptr && *tmp != 0) ? tmp : "/tmp";
    if (dir.back() != '/') dir += '/';
    std::string templ = dir + prefix + "XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back(0);
    int fd = mkostemp(buf.data(), O_CLOEXEC);
    if (fd < 0) return OpenError(templ, errno);
    close(fd);
    *name = buf.data();
    return 0;
}

int64_t DiskFreeKB(const std::string& path) {
    std::string p = ResolveName(path);
    struct stat st;
    if (p.empty() || stat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::string dir, base;
        SplitPath(p, &dir, &base);
        p = dir.empty() ? "." : dir;
    }
    struct statvfs vfs;
    if (statvfs(p.c_str(), &vfs) != 0) return -1;
    unsigned __int128 bytes = static_cast<unsigned __int128>(vfs.f_bavail) * vfs.f_frsize;
    unsigned __int128 kb = bytes / 1024;
    return kb > static_cast<unsigned __int128>(kMaxDiskFreeKB) ? kMaxDiskFreeKB
                                                               : static_cast<int64_t>(kb);
}

int64_t FileTime(const std::string& name) {
    struct stat st;
    if (stat(ResolveName(name).c_str(), &st) != 0) return 0;
    return static_cast<int64_t>(st.st_mtime);
}

uint16_t SetFileTime(const std::string& name, int64_t seconds) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(seconds);
    times[1].tv_nsec = 0;
    if (utimensat(AT_FDCWD, ResolveName(name).c_str(), times, 0) != 0)
        return ErrnoToCode(errno, true);
    return 0;
}

int LastWriteErrno() {
    return g_lastWriteErrno;
}

bool NoRoom(uint16_t code) {
    switch (code) {
        case TzErr::InsufficientDiskSpace:
        case TzErr::DiskFull:
        case TzErr::MemoPackDiskSpace:
            return true;
        case TzErr::DiskWriteError:
            return g_lastWriteErrno == ENOSPC || g_lastWriteErrno == EDQUOT;
        default:
            return false;
    }
}

void SetFaultInjector(FaultInjector* injector) {
    g_injector = injector;
}
FaultInjector* CurrentFaultInjector() {
    return g_injector;
}

void SetCallCounts(CallCounts* counts) {
    g_calls = counts;
}

}  // namespace tz

namespace tz {

void StopPoint(const char* name) {
    static const char* wanted = std::getenv("KJ_STOP_AT");
    if (wanted == nullptr || std::strcmp(wanted, name) != 0) return;
    ::raise(SIGSTOP);
}

}  // namespace tz
