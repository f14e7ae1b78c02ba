#pragma once
#include "dbf/CodePage.h"

#include <QDate>
#include <QString>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

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

// One table of a database, a folder or a server, read whole and read-only with only the
// columns asked for: the analyses and the export pass over every answer row, and a dataset's
// cursor would convert every field of each. A pass holds one block of rows at a time whatever
// the table's size. The folder's table is read straight from its file; a server's comes in
// batches of the columns asked for.
//
// Every kind gives the values as the file's text would: a number as its digits, a blank as
// missing, a date as a calendar day, a text right-trimmed. Deleted records exist only in a
// folder's file; a server has none.
class ColumnScan {
public:
    // The table named by its file in the folder (e.g. "bd_rezult.dbf"); on a server, the table of
    // that name without the extension. Throws DatabaseError saying why it cannot be read.
    static std::unique_ptr<ColumnScan> open(const QString& database, const char* file);
    virtual ~ColumnScan() = default;

    // Where the table is, for messages: the file's path, or the table and its server.
    virtual QString where() const = 0;
    // A field's column for the passes that follow; -1 when the table has no such field.
    virtual int column(const char* name) = 0;
    // The rows as of now (a folder's deleted ones too): the end of the passes' index, for progress.
    virtual uint32_t count() const = 0;

    // A row of a pass: valid only inside the step it is given to. Its bytes are laid out as a
    // dBASE record: a deletion flag, then each column's text.
    class Record {
    public:
        uint32_t index() const { return index_; } // from 0, in stored order
        bool live() const { return bytes_[0] != '*'; }
        std::string_view raw(int c) const { return {bytes_ + offsets_[size_t(c)], lengths_[size_t(c)]}; }
        std::optional<int64_t> whole(int c) const { return wholeNumber(raw(c)); }
        std::optional<double> number(int c) const;
        QDate date(int c) const;   // invalid when blank
        QString text(int c) const; // right-trimmed

    private:
        friend class ColumnScan;
        const char* bytes_ = nullptr;
        const uint32_t* offsets_ = nullptr;
        const uint32_t* lengths_ = nullptr;
        uint32_t index_ = 0;
        bool utf8_ = false;
        dbf::CodePage codePage_ = dbf::CodePage::Cp866;
    };

    // Every row as stored now, in stored order; step returning false stops. Nothing read is kept
    // afterwards.
    template <class Step> void scan(Step&& step) {
        Record rec;
        blocks([&](const Block& b) {
            rec.utf8_ = b.utf8;
            rec.codePage_ = b.codePage;
            for (uint32_t i = 0; i < b.rows; ++i) {
                rec.bytes_ = b.data + size_t(i) * b.stride;
                rec.offsets_ = b.offsets + size_t(i) * b.layoutStride;
                rec.lengths_ = b.lengths + size_t(i) * b.layoutStride;
                rec.index_ = b.first + i;
                if (!step(static_cast<const Record&>(rec))) return false;
            }
            return true;
        });
    }

protected:
    // Rows laid out as records. The bytes of a block have at least 8 readable bytes before and
    // after each field: number parsing reads whole words around one.
    struct Block {
        uint32_t first = 0, rows = 0;
        const char* data = nullptr;
        // A file's rows are as long as each other and lie stride bytes apart, with one layout.
        // Rows of other lengths share data (stride 0, its first byte the flag of them all), and
        // each has its own layout, layoutStride entries after the last row's.
        size_t stride = 0;
        const uint32_t* offsets = nullptr;
        const uint32_t* lengths = nullptr;
        size_t layoutStride = 0;
        bool utf8 = false;
        dbf::CodePage codePage = dbf::CodePage::Cp866;
    };
    // Calls fn with the blocks of one pass, in order, until it returns false.
    virtual void blocks(const std::function<bool(const Block&)>& fn) = 0;
};

// How a library that keeps tables on a server opens one for a pass (see registerStore).
using ColumnScanOpener = std::function<std::unique_ptr<ColumnScan>(const QString& url, const QString& table)>;
void registerColumnScan(const QString& scheme, ColumnScanOpener opener);

} // namespace db
