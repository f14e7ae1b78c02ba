#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace dbf {

// What a step wrote over a file, kept so that a refused step can put the file back byte for
// byte: its length, its header and the old bytes of every range it wrote over.
class FileUndo {
public:
    bool active() const { return active_; }
    // From here on: the file's length and its first headBytes as stored now.
    void start(int fd, const std::string& path, size_t headBytes);
    // The bytes at offset at before the step first writes there; later calls for the same
    // offset, and bytes past the old length, are not kept.
    void keep(uint64_t at, const unsigned char* old, size_t n);
    // The whole file as stored now (once per step), for a step that rewrites all of it.
    void keepAll(int fd, const std::string& path);
    // Puts the old bytes back: ranges first, then the length, then the header, whose first
    // lastBytes go last, so a mark there stays set until all else is back. False when the
    // disk refused part of it.
    bool restore(int fd, const std::string& path, size_t lastBytes, bool durable);
    void clear();

private:
    bool active_ = false;
    uint64_t size_ = 0;
    std::vector<unsigned char> head_;
    std::map<uint64_t, std::vector<unsigned char>> ranges_;
    std::vector<unsigned char> all_;
    bool haveAll_ = false;
};

} // namespace dbf
