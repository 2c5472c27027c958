#include "tests/support/small_disk.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace kjtest {

namespace {

// Makes the process's mounts its own, once: mounts made afterwards vanish with it.
bool OwnMountNamespace() {
    static const bool own = unshare(CLONE_NEWNS) == 0 &&
                            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return own;
}

}  // namespace

SmallDisk::SmallDisk(int sizeKB) {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string((tmp && *tmp) ? tmp : "/tmp") + "/kj-disk-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back(0);
    if (!mkdtemp(buf.data())) {
        why_ = std::string("cannot make a folder: ") + std::strerror(errno);
        return;
    }
    path_ = buf.data();
    OwnMountNamespace();
    const std::string options = "size=" + std::to_string(sizeKB) + "k";
    if (mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        why_ = std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
        return;
    }
    mounted_ = true;
}

SmallDisk::~SmallDisk() {
    if (path_.empty()) return;
    if (mounted_ && umount2(path_.c_str(), 0) != 0) umount2(path_.c_str(), MNT_DETACH);
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void SmallDisk::FillLeaving(int64_t freeKB) {
    const std::string name = file("filler");
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0) return;
    const std::vector<char> block(4096, 'x');
    while (FreeKB() > freeKB) {
        const int64_t kb = std::min<int64_t>(4, std::max<int64_t>(1, FreeKB() - freeKB));
        if (write(fd, block.data(), size_t(kb) * 1024) <= 0) break;
    }
    close(fd);
}

void SmallDisk::RemoveFiller() {
    unlink(file("filler").c_str());
}

int64_t SmallDisk::FreeKB() const {
    struct statvfs st;
    if (statvfs(path_.c_str(), &st) != 0) return -1;
    return int64_t(st.f_bavail) * int64_t(st.f_frsize) / 1024;
}

}  // namespace kjtest
