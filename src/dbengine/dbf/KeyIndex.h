#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

namespace dbf {

class DbfFile;

// In-memory hash index over a set of columns, kept by the file object so that every component
// sharing the file uses it. It only narrows the search: callers check each candidate.
class KeyIndex {
public:
    explicit KeyIndex(std::vector<int> columns) : columns_(std::move(columns)) {}

    const std::vector<int>& columns() const { return columns_; }
    // Hash of one stored record's key, numbers by value, texts without trailing blanks.
    uint64_t hashRecord(const DbfFile& f, const char* record) const;
    // Hash of a key given as normalized parts: number fields as doubles, others as bytes.
    struct Part {
        bool isNumber = false;
        bool isNull = false;
        double number = 0;
        std::string_view bytes;
    };
    static uint64_t hashParts(const std::vector<Part>& parts);

    void catchUp(const DbfFile& f);             // adds records appended since the last call
    void noteRewrite(uint32_t rec, uint64_t h); // a record's key may have changed
    // Records whose key hash equals h, ascending, possibly with false hits.
    std::vector<uint32_t> candidates(uint64_t h) const;

private:
    // 8 bytes a record: a 32-bit hash is plenty when every candidate is checked anyway.
    struct Entry {
        uint32_t hash;
        uint32_t rec;
        bool operator<(const Entry& o) const { return hash < o.hash || (hash == o.hash && rec < o.rec); }
        bool operator==(const Entry& o) const { return hash == o.hash && rec == o.rec; }
    };
    void merge();
    std::vector<int> columns_;
    std::vector<Entry> sorted_;
    std::vector<Entry> tail_;
    uint32_t indexed_ = 0;
};

} // namespace dbf
