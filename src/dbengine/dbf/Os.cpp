#include "Os.h"
#include "OsFaults.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dbf::os {

int open(const std::string& path, int flags, unsigned mode) {
    if (int err = injected(Call::Open)) return failWith(err);
    for (;;) {
        int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode_t(mode));
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

ssize_t pread(int fd, void* buf, size_t n, off_t at) {
    if (int err = injected(Call::Read)) return failWith(err);
    for (;;) {
        ssize_t r = ::pread(fd, buf, n, at);
        if (r > 0) countRead(r);
        if (r >= 0 || errno != EINTR) return r;
    }
}

ssize_t pwrite(int fd, const void* buf, size_t n, off_t at) {
    if (int err = injected(Call::Write)) {
        if (n < 2) return failWith(err);
        // Half the bytes reach the file; the call for the rest fails.
        ssize_t w = ::pwrite(fd, buf, n / 2, at);
        failNext(Call::Write, err, 1);
        return w;
    }
    for (;;) {
        ssize_t w = ::pwrite(fd, buf, n, at);
        if (w >= 0 || errno != EINTR) return w;
    }
}

int sync(int fd) {
    if (int err = injected(Call::Sync)) return failWith(err);
    return ::fdatasync(fd);
}

int truncate(int fd, off_t size) {
    if (int err = injected(Call::Truncate)) return failWith(err);
    for (;;) {
        int r = ::ftruncate(fd, size);
        if (r == 0 || errno != EINTR) return r;
    }
}

int close(int fd) {
    if (int err = injected(Call::Close)) {
        ::close(fd); // the descriptor is gone either way, as after a real failing close
        return failWith(err);
    }
    return ::close(fd);
}

int rename(const std::string& from, const std::string& to) {
    if (int err = injected(Call::Rename)) return failWith(err);
    return ::rename(from.c_str(), to.c_str());
}

int remove(const std::string& path) {
    return ::unlink(path.c_str());
}

void copyMode(const std::string& from, const std::string& to) {
    struct stat st {};
    if (::stat(from.c_str(), &st) == 0) ::chmod(to.c_str(), st.st_mode & 07777);
}

int syncDir(const std::string& dir) {
    if (int err = injected(Call::Sync)) return failWith(err);
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    int r = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    errno = err;
    return r;
}

static void fill(const struct stat& st, FileInfo& out) {
    out.size = uint64_t(st.st_size);
    out.mtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    out.regular = S_ISREG(st.st_mode);
    out.device = uint64_t(st.st_dev);
    out.inode = uint64_t(st.st_ino);
}

int stat(int fd, FileInfo& out) {
    if (int err = injected(Call::Stat)) return failWith(err);
    struct stat st {};
    if (::fstat(fd, &st) != 0) return -1;
    fill(st, out);
    return 0;
}

int stat(const std::string& path, FileInfo& out) {
    if (int err = injected(Call::Stat)) return failWith(err);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    fill(st, out);
    return 0;
}

std::string canonical(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

bool exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

int reachError(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0 ? 0 : errno;
}

static int setLock(int fd, off_t offset, short type, bool wait = true, off_t length = 1) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = offset;
    fl.l_len = length;
    for (;;) {
        if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return 0;
        if (errno != EINTR) return -1;
    }
}

int tryLock(int fd, off_t offset, off_t length) {
    if (int err = injected(Call::Lock)) return failWith(err);
    return setLock(fd, offset, F_WRLCK, false, length);
}

int lock(int fd, off_t offset) {
    if (int err = injected(Call::Lock)) return failWith(err);
    return setLock(fd, offset, F_WRLCK);
}

int lockShared(int fd, off_t offset) {
    if (int err = injected(Call::Lock)) return failWith(err);
    return setLock(fd, offset, F_RDLCK);
}

int unlock(int fd, off_t offset, off_t length) {
    return setLock(fd, offset, F_UNLCK, true, length);
}

int64_t coarseMs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
    return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

std::string reason(int err) {
    char buf[256];
    // The GNU strerror_r returns its text, which need not be in buf.
    return ::strerror_r(err, buf, sizeof buf);
}

} // namespace dbf::os
