#pragma once
#include <cstdint>
#include <string>

namespace dbf {

// What one memo write changed, so that it can be taken back.
struct MemoUndo {
    uint32_t block = 0;
    bool inPlace = false;
    std::string oldBytes; // the blocks' former bytes, when written in place
    uint32_t oldNext = 0; // the next free block before an append, and after it
    uint32_t newNext = 0;
    uint64_t oldSize = 0;
};

// dBASE IV memo file: header block with the next free block and the block size,
// then texts stored as FF FF 08 00 + length (including those 8 bytes) + bytes.
class MemoFile {
public:
    MemoFile(const std::string& path, bool writable);
    ~MemoFile();
    MemoFile(const MemoFile&) = delete;
    MemoFile& operator=(const MemoFile&) = delete;

    static void create(const std::string& path, const std::string& dbfPath, uint32_t blockSize = 512);

    std::string read(uint32_t block) const;
    // A failed write leaves the file as it was.
    uint32_t write(const std::string& bytes, uint32_t oldBlock, bool durable, MemoUndo& undo);
    // Best effort: an append is taken back only while no one has appended after it.
    void undo(const MemoUndo& undo, bool durable);
    uint32_t blockSize() const { return blockSize_; }
    const std::string& path() const { return path_; }
    int fd() const { return fd_; }

private:
    void undoLocked(const MemoUndo& undo, bool durable);
    // Best effort: the next free block and the length an append found.
    void restoreEnd(const MemoUndo& undo);
    uint32_t blocksFor(size_t bytes) const { return uint32_t((bytes + 8 + blockSize_ - 1) / blockSize_); }
    std::string path_;
    int fd_ = -1;
    uint32_t blockSize_ = 512;
};

} // namespace dbf
