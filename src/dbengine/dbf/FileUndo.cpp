#include "FileUndo.h"

#include "Bytes.h"
#include "Os.h"

#include <algorithm>

namespace dbf {

void FileUndo::start(int fd, const std::string& path, size_t headBytes) {
    clear();
    size_ = fileSize(fd, path);
    head_.resize(size_t(std::min<uint64_t>(headBytes, size_)));
    readExact(fd, head_.data(), head_.size(), 0, path);
    active_ = true;
}

void FileUndo::keep(uint64_t at, const unsigned char* old, size_t n) {
    if (!active_ || haveAll_ || at >= size_ || ranges_.count(at)) return;
    n = size_t(std::min<uint64_t>(n, size_ - at));
    ranges_.emplace(at, std::vector<unsigned char>(old, old + n));
}

void FileUndo::keepAll(int fd, const std::string& path) {
    if (!active_ || haveAll_) return;
    // Ranges kept so far hold what was there before the step; the rest is still as it was.
    all_.resize(size_);
    readExact(fd, all_.data(), all_.size(), 0, path);
    for (const auto& [at, old] : ranges_)
        std::copy(old.begin(), old.end(), all_.begin() + long(at));
    std::copy(head_.begin(), head_.end(), all_.begin());
    ranges_.clear();
    haveAll_ = true;
}

bool FileUndo::restore(int fd, const std::string& path, size_t lastBytes, bool durable) {
    if (!active_) return true;
    try {
        const size_t head = head_.size(), last = std::min(lastBytes, head);
        if (haveAll_ && all_.size() > head)
            writeAll(fd, all_.data() + head, all_.size() - head, off_t(head), path);
        for (const auto& [at, old] : ranges_)
            if (at >= head) writeAll(fd, old.data(), old.size(), off_t(at), path);
        if (fileSize(fd, path) != size_) truncateFile(fd, off_t(size_), path);
        if (durable) syncFile(fd, path);
        if (head > last) writeAll(fd, head_.data() + last, head - last, off_t(last), path);
        if (durable) syncFile(fd, path);
        writeAll(fd, head_.data(), last, 0, path);
        if (durable) syncFile(fd, path);
    } catch (const std::exception&) {
        clear();
        return false;
    }
    clear();
    return true;
}

void FileUndo::clear() {
    active_ = false;
    haveAll_ = false;
    size_ = 0;
    head_.clear();
    ranges_.clear();
    all_.clear();
}

} // namespace dbf
