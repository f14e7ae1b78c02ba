#include "MemoFile.h"

#include "Bytes.h"
#include "DbfFile.h"
#include "FileLock.h"
#include "Os.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>

namespace dbf {

namespace {
constexpr uint32_t kMaxMemo = 64u << 20; // no text of this program comes near; guards against garbage lengths
} // namespace

MemoFile::MemoFile(const std::string& path, bool writable) : path_(path) {
    if (writable) fd_ = os::open(path, O_RDWR);
    if (fd_ < 0 && (!writable || errno == EACCES || errno == EPERM || errno == EROFS))
        fd_ = os::open(path, O_RDONLY);
    if (fd_ < 0) throw DbfError("Cannot open memo file " + path + ": " + os::reason(errno));
    unsigned char h[24];
    if (os::pread(fd_, h, sizeof h, 0) != ssize_t(sizeof h)) {
        os::close(fd_);
        throw DbfError("Memo file " + path + " is shorter than its header");
    }
    uint32_t bs = uint32_t(h[20] | h[21] << 8);
    if (bs == 0) bs = le32(h + 4);
    if (bs == 0) bs = 512;
    if (bs < 32 || bs > 65536) {
        os::close(fd_);
        throw DbfError("Memo file " + path + " has a bad block size " + std::to_string(bs));
    }
    blockSize_ = bs;
}

MemoFile::~MemoFile() {
    if (fd_ >= 0) os::close(fd_); // every write was synced when made
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
    writeNewFile(path, h, "memo file");
}

std::string MemoFile::read(uint32_t block) const {
    const uint64_t size = fileSize(fd_, path_);
    uint64_t at = uint64_t(block) * blockSize_;
    if (at + 8 > size)
        throw DbfFault("Memo file " + path_ + ": block " + std::to_string(block) +
                           " lies past the end of the file",
                       faultAt(db::Fault::MemoDamaged, path_));
    unsigned char h[8];
    readExact(fd_, h, 8, off_t(at), path_);
    if (h[0] == 0xFF && h[1] == 0xFF && h[2] == 0x08 && h[3] == 0x00) {
        uint32_t len = le32(h + 4);
        if (len < 8 || len > kMaxMemo || at + len > size)
            throw DbfFault("Memo file " + path_ + ": block " + std::to_string(block) + " has a bad length",
                           faultAt(db::Fault::MemoDamaged, path_));
        std::string s(len - 8, '\0');
        readExact(fd_, s.data(), s.size(), off_t(at + 8), path_);
        return s;
    }
    // dBASE III style: text up to 0x1A 0x1A.
    size_t avail = size_t(std::min<uint64_t>(size - at, kMaxMemo));
    std::string s(avail, '\0');
    readExact(fd_, s.data(), avail, off_t(at), path_);
    size_t end = s.find("\x1A\x1A");
    if (end == std::string::npos) end = s.find('\x1A');
    if (end != std::string::npos) s.resize(end);
    return s;
}

uint32_t MemoFile::write(const std::string& bytes, uint32_t oldBlock, bool durable, MemoUndo& undo) {
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

    auto sync = [&] {
        if (durable) syncFile(fd_, path_);
    };

    FileLock lock(fd_, kAppendLockOffset);
    unsigned char h[4];
    readExact(fd_, h, 4, 0, path_);
    uint32_t next = le32(h);
    if (oldBlock > 0 && oldBlock < next) {
        // Overwrite in place when the new text fits the blocks the old one had.
        unsigned char oh[8];
        if (os::pread(fd_, oh, 8, off_t(oldBlock) * blockSize_) == 8 && oh[0] == 0xFF && oh[1] == 0xFF) {
            uint32_t oldLen = le32(oh + 4);
            if (oldLen >= 8 && blocksFor(oldLen - 8) >= blocksFor(bytes.size())) {
                undo = MemoUndo{};
                undo.block = oldBlock;
                undo.inPlace = true;
                undo.oldBytes.assign(buf.size(), '\0');
                readExact(fd_, undo.oldBytes.data(), buf.size(), off_t(oldBlock) * blockSize_, path_);
                try {
                    writeAll(fd_, buf.data(), buf.size(), off_t(oldBlock) * blockSize_, path_);
                    sync();
                } catch (...) {
                    undoLocked(undo, durable);
                    throw;
                }
                return oldBlock;
            }
        }
    }
    undo = MemoUndo{};
    undo.oldNext = next;
    undo.oldSize = fileSize(fd_, path_);
    if (next == 0) next = 1;
    undo.block = next;
    undo.newNext = next + blocksFor(bytes.size());
    try {
        writeAll(fd_, buf.data(), buf.size(), off_t(next) * blockSize_, path_);
        sync();
        put32(h, undo.newNext);
        writeAll(fd_, h, 4, 0, path_);
        sync();
    } catch (...) {
        // The header may or may not hold the new pointer: put the old one back regardless.
        restoreEnd(undo);
        os::sync(fd_);
        throw;
    }
    return next;
}

void MemoFile::restoreEnd(const MemoUndo& u) {
    unsigned char h[4];
    put32(h, u.oldNext);
    os::pwrite(fd_, h, 4, 0);
    os::truncate(fd_, off_t(u.oldSize));
}

void MemoFile::undo(const MemoUndo& u, bool durable) {
    FileLock lock(fd_, kAppendLockOffset);
    undoLocked(u, durable);
}

void MemoFile::undoLocked(const MemoUndo& u, bool durable) {
    if (u.inPlace) {
        os::pwrite(fd_, u.oldBytes.data(), u.oldBytes.size(), off_t(u.block) * blockSize_);
    } else {
        unsigned char h[4];
        if (os::pread(fd_, h, 4, 0) != 4 || le32(h) != u.newNext) return; // another writer came after
        restoreEnd(u);
    }
    if (durable) os::sync(fd_);
}

} // namespace dbf
