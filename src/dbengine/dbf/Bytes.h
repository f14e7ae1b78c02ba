#pragma once
#include <cstdint>
#include <string>
#include <sys/types.h>

// Little-endian fields of dBASE headers, and checked reads and writes.
namespace dbf {

inline uint32_t le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t le16(const unsigned char* p) {
    return uint16_t(p[0] | p[1] << 8);
}
inline void put32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
inline void put16(unsigned char* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

// Checked file calls: each throws DbfError naming the file and the system's reason.
void writeAll(int fd, const void* data, size_t n, off_t at, const std::string& path);
void readExact(int fd, void* data, size_t n, off_t at, const std::string& path);
void syncFile(int fd, const std::string& path);
void truncateFile(int fd, off_t size, const std::string& path);
void closeFile(int fd, const std::string& path);
uint64_t fileSize(int fd, const std::string& path);
// Creates path holding exactly bytes, synced and closed; on any failure no file stays.
void writeNewFile(const std::string& path, const std::string& bytes, const char* what);

} // namespace dbf
