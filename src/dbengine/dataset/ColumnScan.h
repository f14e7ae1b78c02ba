#pragma once
#include <QDate>
#include <QString>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace dbf {
class DbfFile;
struct FieldDef;
} // namespace dbf

namespace db {

// A number field's text as a whole number, as the windows read one (halves to the even
// neighbour); nothing when blank or not a number. Right-aligned digits with a zero fraction
// take a quick path: the analyses read tens of millions of them.
std::optional<int64_t> wholeNumberSlow(std::string_view field);
inline std::optional<int64_t> wholeNumber(std::string_view s) {
    size_t i = 0;
    for (uint64_t word; s.size() - i >= 8; i += 8) { // the blanks of a wide field, 8 at a time
        std::memcpy(&word, s.data() + i, 8);
        if (word != 0x2020202020202020ull) break;
    }
    while (i < s.size() && s[i] == ' ')
        ++i;
    const bool negative = i < s.size() && s[i] == '-';
    if (negative) ++i;
    const size_t first = i;
    int64_t v = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && i - first < 15)
        v = v * 10 + (s[i++] - '0');
    const bool digits = i > first;
    if (digits && i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && s[i] == '0')
            ++i;
    }
    if (digits && i == s.size()) return negative ? -v : v;
    return wholeNumberSlow(s);
}

// One table of a database folder read straight from its file, read-only, decoding only the
// fields asked for: the analyses and the export pass over every answer row, and a dataset's
// cursor would convert every field of each. Small tables are read by record number; a large
// one is passed over once with scan(), which holds one block of records at a time.
class ColumnScan {
public:
    // Finds the file whatever the letter case on disk; throws DatabaseError saying why not.
    ColumnScan(const QString& dir, const char* file);
    ~ColumnScan();
    ColumnScan(const ColumnScan&) = delete;
    ColumnScan& operator=(const ColumnScan&) = delete;

    QString path() const;
    int column(const char* name) const; // -1 when the table has no such field
    uint32_t count() const;
    bool live(uint32_t r) const;
    std::optional<int64_t> whole(uint32_t r, int c) const;
    std::optional<double> number(uint32_t r, int c) const;
    QString text(uint32_t r, int c) const; // right-trimmed
    QDate date(uint32_t r, int c) const;   // invalid when blank

    // A record of a scan: valid only inside the step it is given to.
    class Record {
    public:
        uint32_t index() const { return index_; }
        bool live() const { return bytes_[0] != '*'; }
        std::string_view raw(int c) const { return {bytes_ + 1 + offsets_[size_t(c)], lengths_[size_t(c)]}; }
        std::optional<int64_t> whole(int c) const { return wholeNumber(raw(c)); }
        std::optional<double> number(int c) const;
        QDate date(int c) const; // invalid when blank

    private:
        friend class ColumnScan;
        const char* bytes_ = nullptr;
        const uint32_t* offsets_ = nullptr;
        const uint8_t* lengths_ = nullptr;
        uint32_t index_ = 0;
    };

    // A text field of a record of a scan, right-trimmed, in the table's code page.
    QString text(const Record& rec, int c) const;

    // Every record as stored now, in stored order; step returning false stops. Memory stays at
    // one block whatever the table's size, and nothing read is kept afterwards.
    template <class Step> void scan(Step&& step) const {
        Record rec;
        rec.offsets_ = offsets_.data();
        rec.lengths_ = lengths_.data();
        const uint16_t length = recordLength();
        blocks([&](uint32_t first, const char* data, uint32_t n) {
            for (uint32_t i = 0; i < n; ++i) {
                rec.bytes_ = data + size_t(i) * length;
                rec.index_ = first + i;
                if (!step(static_cast<const Record&>(rec))) return false;
            }
            return true;
        });
    }

private:
    uint16_t recordLength() const;
    void blocks(const std::function<bool(uint32_t, const char*, uint32_t)>& fn) const;

    std::shared_ptr<dbf::DbfFile> file_;
    std::vector<uint32_t> offsets_;
    std::vector<uint8_t> lengths_;
};

} // namespace db
