#include "FileLock.h"

#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <string>

namespace dbf {

static bool ofdLock(int fd, off_t offset, short type) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = offset;
    fl.l_len = 1;
    for (;;) {
        if (fcntl(fd, F_OFD_SETLKW, &fl) == 0) return true;
        if (errno != EINTR) return false;
    }
}

FileLock::FileLock(int fd, off_t offset) : fd_(fd), offset_(offset) {
    // A read-only descriptor cannot take a write lock; it never writes either.
    held_ = ofdLock(fd_, offset_, F_WRLCK);
}

FileLock::~FileLock() {
    if (held_) ofdLock(fd_, offset_, F_UNLCK);
}

} // namespace dbf
