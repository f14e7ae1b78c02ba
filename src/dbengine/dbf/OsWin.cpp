// The file layer's calls on Windows. Descriptors are the C library's, made from our own handles
// (so an int still names an open file); everything under them is the Win32 API.
#include "Os.h"
#include "OsFaults.h"

#include <cerrno>
#include <cstring>
#include <io.h>
#include <windows.h>

namespace dbf::os {

namespace {

// errno for a Win32 error code, so that callers keep one way of telling failures apart.
int errnoOf(DWORD code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_NETWORK_ACCESS_DENIED:
        return EACCES;
    case ERROR_SHARING_VIOLATION:
        return EBUSY;
    case ERROR_LOCK_VIOLATION:
    case ERROR_IO_PENDING:
        return EAGAIN;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_INVALID_HANDLE:
        return EBADF;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_DIR_NOT_EMPTY:
        return ENOTEMPTY;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
        return ENOLCK;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    default:
        return EIO;
    }
}

int failLast() {
    return failWith(errnoOf(GetLastError()));
}

// UTF-16, with the \\?\ prefix on an absolute path so that paths past MAX_PATH work.
std::wstring wide(const std::string& path) {
    std::wstring w;
    const int n = MultiByteToWideChar(CP_UTF8, 0, path.data(), int(path.size()), nullptr, 0);
    w.resize(size_t(n));
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, path.data(), int(path.size()), w.data(), n);
    for (wchar_t& c : w)
        if (c == L'/') c = L'\\';
    const bool drive = w.size() >= 3 && w[1] == L':' && w[2] == L'\\';
    const bool unc = w.size() >= 2 && w[0] == L'\\' && w[1] == L'\\' && w.rfind(L"\\\\?\\", 0) != 0;
    if (drive) return L"\\\\?\\" + w;
    if (unc) return L"\\\\?\\UNC\\" + w.substr(2);
    return w;
}

std::string narrow(const std::wstring& w) {
    std::string s;
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    s.resize(size_t(n));
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

HANDLE handleOf(int fd) {
    return HANDLE(_get_osfhandle(fd));
}

OVERLAPPED at(off_t offset) {
    OVERLAPPED ov{};
    ov.Offset = DWORD(uint64_t(offset) & 0xFFFFFFFFu);
    ov.OffsetHigh = DWORD(uint64_t(offset) >> 32);
    return ov;
}

DWORD creationOf(int flags) {
    if ((flags & O_CREAT) && (flags & O_EXCL)) return CREATE_NEW;
    if ((flags & O_CREAT) && (flags & O_TRUNC)) return CREATE_ALWAYS;
    if (flags & O_CREAT) return OPEN_ALWAYS;
    if (flags & O_TRUNC) return TRUNCATE_EXISTING;
    return OPEN_EXISTING;
}

// Read, write and delete sharing: other workstations keep the tables open as we do, and a table
// can be put in another's place while someone reads it.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE openHandle(const std::string& path, DWORD access, DWORD creation) {
    // Backup semantics lets a folder be opened too (for its identity and for syncDir).
    return CreateFileW(wide(path).c_str(), access, kShareAll, nullptr, creation,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

int64_t unixNs(const FILETIME& t) {
    const uint64_t ticks = (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; // 100 ns since 1601
    return int64_t(ticks - 116444736000000000ULL) * 100;
}

int fill(HANDLE h, FileInfo& out) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info)) return failLast();
    out.size = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    out.mtimeNs = unixNs(info.ftLastWriteTime);
    out.regular = !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    out.device = info.dwVolumeSerialNumber;
    // The file index is what tells a replaced table from the one we opened, as the inode does.
    out.inode = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return 0;
}

} // namespace

int open(const std::string& path, int flags, unsigned) {
    if (int err = injected(Call::Open)) return failWith(err);
    const int mode = flags & (O_RDONLY | O_WRONLY | O_RDWR);
    const DWORD access = mode == O_RDWR     ? GENERIC_READ | GENERIC_WRITE
                         : mode == O_WRONLY ? GENERIC_WRITE
                                            : GENERIC_READ;
    HANDLE h = openHandle(path, access, creationOf(flags));
    if (h == INVALID_HANDLE_VALUE) return failLast();
    const int fd = _open_osfhandle(intptr_t(h), mode == O_RDONLY ? _O_RDONLY : 0);
    if (fd < 0) {
        CloseHandle(h);
        return failWith(EMFILE);
    }
    return fd;
}

ssize_t pread(int fd, void* buf, size_t n, off_t offset) {
    if (int err = injected(Call::Read)) return failWith(err);
    OVERLAPPED ov = at(offset);
    DWORD got = 0;
    if (!ReadFile(handleOf(fd), buf, DWORD(n), &got, &ov)) {
        if (GetLastError() == ERROR_HANDLE_EOF) return 0;
        return failLast();
    }
    countRead(ssize_t(got));
    return ssize_t(got);
}

static ssize_t writeAt(int fd, const void* buf, size_t n, off_t offset) {
    OVERLAPPED ov = at(offset);
    DWORD put = 0;
    if (!WriteFile(handleOf(fd), buf, DWORD(n), &put, &ov)) return failLast();
    return ssize_t(put);
}

ssize_t pwrite(int fd, const void* buf, size_t n, off_t offset) {
    if (int err = injected(Call::Write)) {
        if (n < 2) return failWith(err);
        // Half the bytes reach the file; the call for the rest fails.
        ssize_t w = writeAt(fd, buf, n / 2, offset);
        failNext(Call::Write, err, 1);
        return w;
    }
    return writeAt(fd, buf, n, offset);
}

int sync(int fd) {
    if (int err = injected(Call::Sync)) return failWith(err);
    BY_HANDLE_FILE_INFORMATION info{};
    HANDLE h = handleOf(fd);
    // A folder's names are made durable by the rename itself (write-through), see syncDir.
    if (GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
    return FlushFileBuffers(h) ? 0 : failLast();
}

int truncate(int fd, off_t size) {
    if (int err = injected(Call::Truncate)) return failWith(err);
    FILE_END_OF_FILE_INFO eof{};
    eof.EndOfFile.QuadPart = size;
    return SetFileInformationByHandle(handleOf(fd), FileEndOfFileInfo, &eof, sizeof eof) ? 0 : failLast();
}

int close(int fd) {
    if (int err = injected(Call::Close)) {
        _close(fd); // the descriptor is gone either way, as after a real failing close
        return failWith(err);
    }
    return _close(fd) == 0 ? 0 : -1;
}

int rename(const std::string& from, const std::string& to) {
    if (int err = injected(Call::Rename)) return failWith(err);
    // One step or none: a target another program holds open without delete sharing stays as it
    // was, and the caller is told the file is in use.
    if (MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    const DWORD code = GetLastError();
    return failWith(code == ERROR_ACCESS_DENIED && exists(to) ? EBUSY : errnoOf(code));
}

int remove(const std::string& path) {
    return DeleteFileW(wide(path).c_str()) ? 0 : failLast();
}

void copyMode(const std::string& from, const std::string& to) {
    // Windows has no permission bits here; the read-only attribute is what a file carries.
    const DWORD a = GetFileAttributesW(wide(from).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return;
    const std::wstring t = wide(to);
    const DWORD b = GetFileAttributesW(t.c_str());
    if (b != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesW(t.c_str(), (b & ~DWORD(FILE_ATTRIBUTE_READONLY)) | (a & FILE_ATTRIBUTE_READONLY));
}

int syncDir(const std::string&) {
    // NTFS journals names; renames are made with MOVEFILE_WRITE_THROUGH.
    if (int err = injected(Call::Sync)) return failWith(err);
    return 0;
}

int stat(int fd, FileInfo& out) {
    if (int err = injected(Call::Stat)) return failWith(err);
    return fill(handleOf(fd), out);
}

int stat(const std::string& path, FileInfo& out) {
    if (int err = injected(Call::Stat)) return failWith(err);
    HANDLE h = openHandle(path, 0, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) return failLast();
    const int r = fill(h, out);
    const int err = errno;
    CloseHandle(h);
    errno = err;
    return r;
}

std::string canonical(const std::string& path) {
    HANDLE h = openHandle(path, 0, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) return path;
    std::wstring w(1024, L'\0');
    DWORD n = GetFinalPathNameByHandleW(h, w.data(), DWORD(w.size()), FILE_NAME_NORMALIZED);
    if (n >= w.size()) {
        w.resize(n + 1);
        n = GetFinalPathNameByHandleW(h, w.data(), DWORD(w.size()), FILE_NAME_NORMALIZED);
    }
    CloseHandle(h);
    if (n == 0 || n >= w.size()) {
        // Wine has no final path of a handle: the full path then, which resolves the relative parts.
        const std::wstring in = wide(path);
        w.assign(32768, L'\0');
        n = GetFullPathNameW(in.c_str(), DWORD(w.size()), w.data(), nullptr);
        if (n == 0 || n >= w.size()) return path;
    }
    w.resize(n);
    // Letter case does not tell two files apart on Windows.
    CharLowerBuffW(w.data(), DWORD(w.size()));
    return narrow(w);
}

bool exists(const std::string& path) {
    return GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int reachError(const std::string& path) {
    return GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES ? 0 : errnoOf(GetLastError());
}

// Byte-range locks at the same offsets as on POSIX; LockFileEx locks belong to the handle, as
// open-file-description locks belong to the descriptor.
// A shared lock keeps writers out and lets readers in; unlike fcntl's, a handle cannot turn its
// shared lock into an exclusive one (it would wait for itself), and the engine never asks to.
static int setLock(int fd, off_t offset, bool wait, off_t length, bool shared = false) {
    OVERLAPPED ov = at(offset);
    const DWORD flags = (shared ? 0 : LOCKFILE_EXCLUSIVE_LOCK) | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
    if (LockFileEx(handleOf(fd), flags, 0, DWORD(uint64_t(length) & 0xFFFFFFFFu),
                   DWORD(uint64_t(length) >> 32), &ov))
        return 0;
    return failLast();
}

int tryLock(int fd, off_t offset, off_t length) {
    if (int err = injected(Call::Lock)) return failWith(err);
    return setLock(fd, offset, false, length);
}

int lock(int fd, off_t offset) {
    if (int err = injected(Call::Lock)) return failWith(err);
    return setLock(fd, offset, true, 1);
}

int lockShared(int fd, off_t offset) {
    if (int err = injected(Call::Lock)) return failWith(err);
    return setLock(fd, offset, true, 1, true);
}

int unlock(int fd, off_t offset, off_t length) {
    OVERLAPPED ov = at(offset);
    if (UnlockFileEx(handleOf(fd), 0, DWORD(uint64_t(length) & 0xFFFFFFFFu), DWORD(uint64_t(length) >> 32),
                     &ov))
        return 0;
    // Unlocking what is not locked is no fault, as on POSIX.
    const DWORD code = GetLastError();
    return code == ERROR_NOT_LOCKED || code == ERROR_LOCK_VIOLATION ? 0 : failLast();
}

int64_t coarseMs() {
    return int64_t(GetTickCount64());
}

std::string reason(int err) {
    if (err == EBUSY) return "the file is in use by another program";
    char buf[256];
    if (strerror_s(buf, sizeof buf, err) != 0) return "error " + std::to_string(err);
    return buf;
}

} // namespace dbf::os
