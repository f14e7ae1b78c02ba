#pragma once
// What the index file's two source files share: its layout and the node form. Not for others.
#include "Bytes.h"
#include "Mdx.h"

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace dbf::mdx {

inline constexpr uint32_t kPage = 512;
inline constexpr size_t kHeaderBytes = 2048; // file header and tag table: the first four pages
inline constexpr size_t kTagTable = 544;
inline constexpr size_t kTagEntry = 32;
inline constexpr size_t kMaxTags = (kHeaderBytes - kTagTable) / kTagEntry;
inline constexpr size_t kExprAt = 24, kExprMax = 220;
inline constexpr size_t kFilterAt = 762, kFilterMax = 220;
inline constexpr size_t kBusyMark = 47; // reserved byte: set while a change is under way
inline constexpr int kMaxDepth = 32;

// Blank dates carry the value other dBASE writers give them, so their keys agree with ours.
inline constexpr double kBlankDate = 21474835648.0;

inline void stamp(unsigned char* p) {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    p[0] = uint8_t(tm.tm_year);
    p[1] = uint8_t(tm.tm_mon + 1);
    p[2] = uint8_t(tm.tm_mday);
}

inline std::string cString(const unsigned char* p, size_t max) {
    size_t n = strnlen(reinterpret_cast<const char*>(p), max);
    std::string s(reinterpret_cast<const char*>(p), n);
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

// A node decoded: a leaf has one record number per key, a branch one child more than keys.
struct Node {
    bool leaf = true;
    std::vector<uint32_t> ptr;
    std::vector<std::string> keys;
};

Node decode(const unsigned char* b, const MdxFile::Tag& t, uint32_t blockBytes, const std::string& path);
void encode(unsigned char* b, const Node& n, const MdxFile::Tag& t, uint32_t blockBytes);

} // namespace dbf::mdx
