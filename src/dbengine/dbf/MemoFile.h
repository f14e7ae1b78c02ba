#pragma once
#include <cstdint>
#include <string>

namespace dbf {

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
    uint32_t write(const std::string& bytes, uint32_t oldBlock, bool durable);
    uint32_t blockSize() const { return blockSize_; }

private:
    uint32_t blocksFor(size_t bytes) const { return uint32_t((bytes + 8 + blockSize_ - 1) / blockSize_); }
    std::string path_;
    int fd_ = -1;
    uint32_t blockSize_ = 512;
};

} // namespace dbf
