#include "MemoFile.h"

#include "Bytes.h"
#include "DbfFile.h"
#include "FileLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dbf {

namespace {
constexpr uint32_t kMaxMemo = 64u << 20; // no text of this program comes near; guards against garbage lengths
} // namespace

MemoFile::MemoFile(const std::string& path, bool writable) : path_(path) {
    fd_ = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd_ < 0 && writable) fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw DbfError("Cannot open memo file " + path + ": " + std::strerror(errno));
    unsigned char h[24];
    if (pread(fd_, h, sizeof h, 0) != ssize_t(sizeof h)) {
        ::close(fd_);
        throw DbfError("Memo file " + path + " is shorter than its header");
    }
    uint32_t bs = uint32_t(h[20] | h[21] << 8);
    if (bs == 0) bs = le32(h + 4);
    if (bs == 0) bs = 512;
    if (bs < 32 || bs > 65536) {
        ::close(fd_);
        throw DbfError("Memo file " + path + " has a bad block size " + std::to_string(bs));
    }
    blockSize_ = bs;
}

MemoFile::~MemoFile() {
    if (fd_ >= 0) ::close(fd_);
}

void MemoFile::create(const std::string& path, const std::string& dbfPath, uint32_t blockSize) {
    std::string h(blockSize, '\0');
    auto* p = reinterpret_cast<unsigned char*>(h.data());
    put32(p, 1);
    put32(p + 4, blockSize);
    std::string base = dbfPath.substr(dbfPath.find_last_of('/') + 1);
    base = base.substr(0, std::min<size_t>(8, base.size() - 4));
    std::memcpy(p + 8, base.data(), base.size());
    p[20] = uint8_t(blockSize);
    p[21] = uint8_t(blockSize >> 8);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw DbfError("Cannot create memo file " + path + ": " + std::strerror(errno));
    bool ok = ::write(fd, h.data(), h.size()) == ssize_t(h.size());
    fdatasync(fd);
    ::close(fd);
    if (!ok) throw DbfError("Cannot write memo file " + path);
}

std::string MemoFile::read(uint32_t block) const {
    struct stat st {};
    fstat(fd_, &st);
    uint64_t at = uint64_t(block) * blockSize_;
    if (at + 8 > uint64_t(st.st_size))
        throw DbfError("Memo file " + path_ + ": block " + std::to_string(block) + " lies past the end of the file");
    unsigned char h[8];
    if (pread(fd_, h, 8, off_t(at)) != 8) throw DbfError("Cannot read memo file " + path_);
    if (h[0] == 0xFF && h[1] == 0xFF && h[2] == 0x08 && h[3] == 0x00) {
        uint32_t len = le32(h + 4);
        if (len < 8 || len > kMaxMemo || at + len > uint64_t(st.st_size))
            throw DbfError("Memo file " + path_ + ": block " + std::to_string(block) + " has a bad length");
        std::string s(len - 8, '\0');
        if (pread(fd_, s.data(), s.size(), off_t(at + 8)) != ssize_t(s.size())) throw DbfError("Cannot read memo file " + path_);
        return s;
    }
    // dBASE III style: text up to 0x1A 0x1A.
    size_t avail = size_t(std::min<uint64_t>(uint64_t(st.st_size) - at, kMaxMemo));
    std::string s(avail, '\0');
    ssize_t got = pread(fd_, s.data(), avail, off_t(at));
    s.resize(got > 0 ? size_t(got) : 0);
    size_t end = s.find("\x1A\x1A");
    if (end == std::string::npos) end = s.find('\x1A');
    if (end != std::string::npos) s.resize(end);
    return s;
}

uint32_t MemoFile::write(const std::string& bytes, uint32_t oldBlock, bool durable) {
    if (bytes.size() > kMaxMemo) throw DbfError("Memo text too long for " + path_);
    std::string buf(8, '\0');
    auto* p = reinterpret_cast<unsigned char*>(buf.data());
    p[0] = 0xFF;
    p[1] = 0xFF;
    p[2] = 0x08;
    p[3] = 0x00;
    put32(p + 4, uint32_t(bytes.size() + 8));
    buf += bytes;
    buf.resize(size_t(blocksFor(bytes.size())) * blockSize_, '\0');

    auto put = [&](uint32_t block) { writeAll(fd_, buf.data(), buf.size(), off_t(block) * blockSize_, path_); };

    FileLock lock(fd_, kAppendLockOffset);
    unsigned char h[4];
    if (pread(fd_, h, 4, 0) != 4) throw DbfError("Cannot read memo file " + path_);
    uint32_t next = le32(h);
    if (oldBlock > 0 && oldBlock < next) {
        // Overwrite in place when the new text fits the blocks the old one had.
        unsigned char oh[8];
        if (pread(fd_, oh, 8, off_t(oldBlock) * blockSize_) == 8 && oh[0] == 0xFF && oh[1] == 0xFF) {
            uint32_t oldLen = le32(oh + 4);
            if (oldLen >= 8 && blocksFor(oldLen - 8) >= blocksFor(bytes.size())) {
                put(oldBlock);
                if (durable) fdatasync(fd_);
                return oldBlock;
            }
        }
    }
    if (next == 0) next = 1;
    put(next);
    if (durable) fdatasync(fd_);
    put32(h, next + blocksFor(bytes.size()));
    writeAll(fd_, h, 4, 0, path_);
    if (durable) fdatasync(fd_);
    return next;
}

} // namespace dbf
