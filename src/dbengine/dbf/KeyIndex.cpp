#include "KeyIndex.h"

#include "DbfFile.h"

#include <algorithm>
#include <cstring>

namespace dbf {

namespace {
// splitmix64's finalizer: every input bit reaches the low 32 bits the index keeps.
uint64_t fmix(uint64_t x) {
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}
uint64_t mix(uint64_t h, uint64_t v) {
    return fmix(h * 0x9E3779B97F4A7C15ull + fmix(v));
}
uint64_t hashBytes(std::string_view s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s)
        h = (h ^ c) * 1099511628211ull;
    return h;
}
uint64_t partHash(const KeyIndex::Part& p) {
    if (p.isNull) return 0x5555;
    if (p.isNumber) {
        double d = p.number == 0 ? 0.0 : p.number; // -0 and 0 are one key
        uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        return bits ^ 0x1234;
    }
    return hashBytes(p.bytes);
}
std::string_view trimRight(std::string_view s) {
    size_t n = s.size();
    while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\0'))
        --n;
    return s.substr(0, n);
}
} // namespace

uint64_t KeyIndex::hashParts(const std::vector<Part>& parts) {
    uint64_t h = 0;
    for (const Part& p : parts)
        h = mix(h, partHash(p));
    return h;
}

uint64_t KeyIndex::hashRecord(const DbfFile& f, const char* record) const {
    uint64_t h = 0;
    for (int c : columns_) {
        const FieldDef& d = f.fields()[size_t(c)];
        std::string_view raw(record + 1 + d.offset, d.length);
        Part p;
        if (d.type == 'N' || d.type == 'F') {
            p.isNumber = true;
            p.isNull = !parseNumber(raw, p.number);
        } else {
            p.bytes = trimRight(raw);
        }
        h = mix(h, partHash(p));
    }
    return h;
}

void KeyIndex::catchUp(const DbfFile& f) {
    uint32_t n = f.recordCount();
    if (indexed_ == 0 && sorted_.empty() && n > 0) {
        sorted_.reserve(n);
        for (uint32_t r = 0; r < n; ++r)
            sorted_.push_back({uint32_t(hashRecord(f, f.record(r))), r});
        std::sort(sorted_.begin(), sorted_.end());
        indexed_ = n;
        return;
    }
    for (uint32_t r = indexed_; r < n; ++r)
        tail_.push_back({uint32_t(hashRecord(f, f.record(r))), r});
    indexed_ = std::max(indexed_, n);
    if (tail_.size() > 4096 + sorted_.size() / 16) merge();
}

void KeyIndex::noteRewrite(uint32_t rec, uint64_t h) {
    if (rec >= indexed_) return; // catchUp will see it
    tail_.push_back({uint32_t(h), rec});
    if (tail_.size() > 4096 + sorted_.size() / 16) merge();
}

void KeyIndex::merge() {
    std::sort(tail_.begin(), tail_.end());
    std::vector<Entry> out;
    out.reserve(sorted_.size() + tail_.size());
    std::merge(sorted_.begin(), sorted_.end(), tail_.begin(), tail_.end(), std::back_inserter(out));
    out.erase(std::unique(out.begin(), out.end()), out.end());
    sorted_.swap(out);
    tail_.clear();
}

std::vector<uint32_t> KeyIndex::candidates(uint64_t h) const {
    std::vector<uint32_t> out;
    const uint32_t key = uint32_t(h);
    auto lo = std::lower_bound(sorted_.begin(), sorted_.end(), Entry{key, 0});
    for (; lo != sorted_.end() && lo->hash == key; ++lo)
        out.push_back(lo->rec);
    for (const Entry& e : tail_)
        if (e.hash == key) out.push_back(e.rec);
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

} // namespace dbf
