#include "FileLock.h"

#include "Os.h"

namespace dbf {

FileLock::FileLock(int fd, off_t offset, bool shared) : fd_(fd), offset_(offset) {
    // A read-only descriptor cannot take a write lock; it never writes either.
    held_ = (shared ? os::lockShared(fd_, offset_) : os::lock(fd_, offset_)) == 0;
}

FileLock::~FileLock() {
    if (held_) os::unlock(fd_, offset_);
}

} // namespace dbf
