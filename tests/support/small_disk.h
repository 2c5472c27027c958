// A small file system of a test's own that fills up: a tmpfs of sizeKB mounted on a fresh
// folder under $TMPDIR (else /tmp), in a mount namespace of the test process where it can
// make one (so that not even a crash leaves the mount behind), unmounted and removed by the
// destructor. Mounted() is false (and Why() says why) where mounting is not allowed; the
// test then skips.
#pragma once

#include <cstdint>
#include <string>

namespace kjtest {

class SmallDisk {
  public:
    explicit SmallDisk(int sizeKB);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool Mounted() const { return mounted_; }
    const std::string& Why() const { return why_; }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Writes a filler file until at most freeKB are left free (0: until the disk is full).
    void FillLeaving(int64_t freeKB);
    void RemoveFiller();
    int64_t FreeKB() const;

  private:
    std::string path_;
    bool mounted_ = false;
    std::string why_;
};

}  // namespace kjtest
