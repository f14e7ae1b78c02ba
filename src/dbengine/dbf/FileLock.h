#pragma once
#include <cstdint>
#include <sys/types.h>

namespace dbf {

// dBASE IV lock offsets: other dBASE programs lock the same bytes.
constexpr off_t kAppendLockOffset = 0xEFFFFFFF;
inline off_t recordLockOffset(uint32_t rec) {
    return kAppendLockOffset - (off_t(rec) + 1);
}

// Open-file-description lock on one byte, held for the scope: a write lock, or a shared one
// that only keeps writers out (a reader's, on a descriptor opened for reading).
class FileLock {
public:
    FileLock(int fd, off_t offset, bool shared = false);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd_;
    off_t offset_;
    bool held_ = false;
};

} // namespace dbf
