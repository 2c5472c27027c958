#include "storage/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "storage/file_layer.h"
#include "storage/tz_errors.h"

namespace tz {

namespace {

constexpr size_t kChunk = 65536;

// Permissions of a new file: the target's when it exists, else what creating it would give.
mode_t ModeFor(const std::string& target) {
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) return st.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Reads up to n bytes at off, retrying short reads; the count read or -1.
ssize_t ReadFully(int fd, char* buf, size_t n, off_t off) {
    size_t got = 0;
    while (got < n) {
        const ssize_t r = ::pread(fd, buf + got, n - got, off + static_cast<off_t>(got));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(got);
}

// Whether the file `target` holds exactly the `size` bytes of the open file `fd`.
bool SameContent(const std::string& target, int fd, uint64_t size) {
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<uint64_t>(st.st_size) != size)
        return false;
    const int old = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
    if (old < 0) return false;
    std::vector<char> a(kChunk), b(kChunk);
    bool same = true;
    for (uint64_t off = 0; same && off < size; off += kChunk) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, size - off));
        same = ReadFully(old, a.data(), n, static_cast<off_t>(off)) == static_cast<ssize_t>(n) &&
               ReadFully(fd, b.data(), n, static_cast<off_t>(off)) == static_cast<ssize_t>(n) &&
               std::memcmp(a.data(), b.data(), n) == 0;
    }
    ::close(old);
    return same;
}

}  // namespace

uint16_t WholeFileWriter::Begin(const std::string& name) {
    Abandon();
    target_ = ResolveName(name);
    struct stat st {};
    if (::lstat(target_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char* real = ::realpath(target_.c_str(), nullptr);  // the file the link names
        if (real) target_ = real;
        std::free(real);
    }
    if (::stat(target_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return BeginInPlace();
    std::string pattern = target_ + ".~XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) return errno == ENOENT ? TzErr::PathNotFound : ErrnoToCode(errno, true);
    fd_ = fd;
    temp_ = pattern;
    size_ = 0;
    if (::fchmod(fd_, ModeFor(target_)) != 0) {
        const uint16_t code = ErrnoToCode(errno, true);
        Abandon();
        return code;
    }
    return 0;
}

// A target that is no regular file (a device, a pipe) is written as it is; it cannot be
// replaced by a rename.
uint16_t WholeFileWriter::BeginInPlace() {
    const int fd = ::open(target_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return ErrnoToCode(errno, true);
    fd_ = fd;
    size_ = 0;
    return 0;
}

uint16_t WholeFileWriter::Write(const void* data, size_t n) {
    if (fd_ < 0) return TzErr::InvalidHandle;
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t w = ::write(fd_, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return w < 0 ? ErrnoToCode(errno, true) : TzErr::DiskWriteError;
        p += w;
        n -= static_cast<size_t>(w);
        size_ += static_cast<uint64_t>(w);
    }
    return 0;
}

uint16_t WholeFileWriter::Restart() {
    if (fd_ < 0) return TzErr::InvalidHandle;
    if (!temp_.empty() && (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0))
        return ErrnoToCode(errno, true);
    size_ = 0;
    return 0;
}

uint16_t WholeFileWriter::Commit() {
    if (fd_ < 0) return TzErr::InvalidHandle;
    if (temp_.empty()) {  // written in place
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 ? 0 : ErrnoToCode(errno, true);
    }
    if (SameContent(target_, fd_, size_)) {
        Abandon();
        return 0;
    }
    uint16_t code = 0;
    if (::fsync(fd_) != 0) code = ErrnoToCode(errno, true);
    if (::close(fd_) != 0 && code == 0) code = ErrnoToCode(errno, true);
    fd_ = -1;
    if (code == 0 && ::rename(temp_.c_str(), target_.c_str()) != 0) code = ErrnoToCode(errno, true);
    if (code != 0) ::unlink(temp_.c_str());
    temp_.clear();
    return code;
}

void WholeFileWriter::Abandon() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
    size_ = 0;
}

uint16_t WriteWholeFile(const std::string& name, std::string_view bytes) {
    WholeFileWriter w;
    uint16_t code = w.Begin(name);
    if (code == 0) code = w.Write(bytes.data(), bytes.size());
    if (code == 0) code = w.Commit();
    return code;
}

}  // namespace tz
