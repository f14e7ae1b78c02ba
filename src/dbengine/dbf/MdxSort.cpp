#include "MdxSort.h"

#include "Bytes.h"
#include "Os.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>

namespace dbf::mdx {

namespace {
constexpr size_t kRunBuffer = 64 * 1024;
}

SortedEntries::SortedEntries(const MdxFile& m, const MdxFile::Tag& t, uint32_t count,
                             const MdxFile::RecordAt& record, const std::string& scratch)
    : m_(m), t_(t), scratch_(scratch) {
    try {
        mem_.reserve(std::min<size_t>(count, kRunEntries));
        std::string k;
        for (uint32_t r = 0; r < count; ++r) {
            if (!m.keyFor(t, record(r), k)) continue;
            mem_.emplace_back(k, r + 1);
            if (mem_.size() == kRunEntries) spillRun();
        }
        if (fd_ < 0) {
            sortRun(); // one run: served from memory
            return;
        }
        if (!mem_.empty()) spillRun();
        for (size_t i = 0; i < runs_.size(); ++i)
            if (advance(runs_[i])) heap_.push_back(i);
        auto later = [this](size_t a, size_t b) { return less(runs_[b], runs_[a]); };
        std::make_heap(heap_.begin(), heap_.end(), later);
    } catch (...) {
        if (fd_ >= 0) os::close(fd_);
        throw;
    }
}

SortedEntries::~SortedEntries() {
    if (fd_ >= 0) os::close(fd_);
}

void SortedEntries::sortRun() {
    std::stable_sort(mem_.begin(), mem_.end(), [&](const auto& a, const auto& b) {
        return m_.compare(t_, a.first, a.second, b.first, b.second) < 0;
    });
}

void SortedEntries::spillRun() {
    if (fd_ < 0) {
        fd_ = os::open(scratch_, O_RDWR | O_CREAT | O_TRUNC, 0600);
        if (fd_ < 0) throw DbfError("Cannot create " + scratch_ + ": " + os::reason(errno));
        os::remove(scratch_); // the descriptor keeps it while the sort needs it
    }
    sortRun();
    const size_t item = size_t(t_.keyLen) + 4;
    std::string bytes;
    bytes.reserve(mem_.size() * item);
    for (const auto& [key, rec] : mem_) {
        bytes += key;
        unsigned char r[4];
        put32(r, rec);
        bytes.append(reinterpret_cast<const char*>(r), 4);
    }
    writeAll(fd_, bytes.data(), bytes.size(), off_t(written_), scratch_);
    runs_.push_back({written_, written_ + bytes.size(), {}, 0, {}, 0});
    written_ += bytes.size();
    mem_.clear();
}

bool SortedEntries::advance(Run& r) {
    const size_t item = size_t(t_.keyLen) + 4;
    if (r.off >= r.buf.size()) {
        if (r.pos >= r.end) return false;
        const size_t n = size_t(std::min<uint64_t>(r.end - r.pos, kRunBuffer / item * item));
        r.buf.resize(n);
        readExact(fd_, r.buf.data(), n, off_t(r.pos), scratch_);
        r.pos += n;
        r.off = 0;
    }
    r.key.assign(r.buf, r.off, t_.keyLen);
    r.rec = le32(reinterpret_cast<const unsigned char*>(r.buf.data() + r.off + t_.keyLen));
    r.off += item;
    return true;
}

bool SortedEntries::less(const Run& a, const Run& b) const {
    return m_.compare(t_, a.key, a.rec, b.key, b.rec) < 0;
}

bool SortedEntries::nextRaw(std::string& key, uint32_t& rec) {
    if (fd_ < 0) {
        if (at_ >= mem_.size()) return false;
        key = mem_[at_].first;
        rec = mem_[at_].second;
        ++at_;
        return true;
    }
    if (heap_.empty()) return false;
    auto later = [this](size_t a, size_t b) { return less(runs_[b], runs_[a]); };
    std::pop_heap(heap_.begin(), heap_.end(), later);
    Run& r = runs_[heap_.back()];
    key = r.key;
    rec = r.rec;
    if (advance(r))
        std::push_heap(heap_.begin(), heap_.end(), later);
    else
        heap_.pop_back();
    return true;
}

bool SortedEntries::next(std::string& key, uint32_t& rec) {
    while (nextRaw(key, rec)) {
        if (t_.unique && any_ && key == last_) continue;
        any_ = true;
        if (t_.unique) last_ = key;
        return true;
    }
    return false;
}

} // namespace dbf::mdx
