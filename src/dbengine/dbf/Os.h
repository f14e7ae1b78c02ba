#pragma once
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/stat.h> // first: MinGW makes stat a macro, which must rename os::stat everywhere alike
#include <sys/types.h>

// Windows never passes its handles to child programs; the flag is POSIX's way of saying so.
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif

// Every operating-system call of the file layer, in one place: Os.cpp for POSIX, OsWin.cpp for
// Windows, never changes across the engine. Calls return -1 and set errno as POSIX does; paths
// are UTF-8; offsets are 64-bit on both systems.
namespace dbf::os {

enum class Call { Open, Read, Write, Sync, Truncate, Close, Stat, Lock, Rename, Count };

int open(const std::string& path, int flags, unsigned mode = 0);
ssize_t pread(int fd, void* buf, size_t n, off_t at);
ssize_t pwrite(int fd, const void* buf, size_t n, off_t at);
int sync(int fd);
int truncate(int fd, off_t size);
int close(int fd);
// Puts from in to's place in one step (a reader sees the old file or the new one, never half).
int rename(const std::string& from, const std::string& to);
int remove(const std::string& path);
// Gives to the permission bits of from, so that a file put in another's place keeps its access.
void copyMode(const std::string& from, const std::string& to);
// Makes the names in a directory (after a rename or a removal) survive a crash.
int syncDir(const std::string& dir);

struct FileInfo {
    uint64_t size = 0;
    int64_t mtimeNs = 0; // modification time, nanoseconds since the epoch
    bool regular = false;
    uint64_t device = 0, inode = 0;
};
int stat(int fd, FileInfo& out);
int stat(const std::string& path, FileInfo& out);
bool exists(const std::string& path);
// The one name of a file however it was reached (links, relative parts, letter case on Windows);
// the path itself when the file cannot be reached.
std::string canonical(const std::string& path);
// 0 when the path can be reached, else the errno that says why not (ENOENT, EACCES, ...).
int reachError(const std::string& path);

// Open-file-description write lock on one byte; waits while another holder has it.
int lock(int fd, off_t offset);
// A shared (read) lock on that byte: waits while a writer holds it, and keeps writers out while
// held, yet other readers may hold it too. Works on a descriptor opened for reading only.
int lockShared(int fd, off_t offset);
// The same without waiting: -1 with EAGAIN (or EACCES) while another holder has it.
int tryLock(int fd, off_t offset, off_t length = 1);
int unlock(int fd, off_t offset, off_t length = 1);

// Milliseconds of the monotonic clock as of the system's last tick (a few ms coarse): cheap
// enough for every move of a cursor, where a precise reading costs a tenth of a full scan.
int64_t coarseMs();

// The reason text of an errno value, for messages.
std::string reason(int err);

// Test seam: the nth next call of the kind fails with err. A failing write first writes half
// of what it was given, as a disk filling up mid-write does.
void failNext(Call call, int err, int nth = 1);
void clearFaults();
// Test seam: bytes every pread of this process has read so far.
uint64_t bytesRead();

} // namespace dbf::os
