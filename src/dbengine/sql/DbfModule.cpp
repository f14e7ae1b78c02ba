#include "DbfModule.h"
#include "VirtualTable.h"

#include "dbf/DbfFile.h"

#include <QDate>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace db::sql {

namespace {

// UTF-8 of every byte of a code page, built once from the engine's own decoder.
struct Utf8Table {
    std::array<std::array<char, 4>, 256> bytes{};
    std::array<uint8_t, 256> length{};
};

const Utf8Table& utf8Table(dbf::CodePage cp) {
    auto build = [](dbf::CodePage page) {
        Utf8Table t;
        for (int b = 0; b < 256; ++b) {
            const char c = char(b);
            QByteArray u = dbf::decode(std::string_view(&c, 1), page).toUtf8();
            t.length[size_t(b)] = uint8_t(u.size());
            std::memcpy(t.bytes[size_t(b)].data(), u.constData(), size_t(u.size()));
        }
        return t;
    };
    static const Utf8Table cp866 = build(dbf::CodePage::Cp866);
    static const Utf8Table cp1251 = build(dbf::CodePage::Cp1251);
    return cp == dbf::CodePage::Cp1251 ? cp1251 : cp866;
}

enum class Kind { Integer, Real, Date, Logical, Memo, Text };

Kind kindOf(const dbf::FieldDef& f) {
    switch (f.type) {
    case 'N':
        return f.decimals == 0 ? Kind::Integer : Kind::Real;
    case 'F':
        return Kind::Real;
    case 'D':
        return Kind::Date;
    case 'L':
        return Kind::Logical;
    case 'M':
        return Kind::Memo;
    default:
        return Kind::Text;
    }
}

const char* declaredType(Kind k) {
    switch (k) {
    case Kind::Integer:
    case Kind::Logical:
        return "INTEGER";
    case Kind::Real:
        return "REAL";
    default:
        return "TEXT";
    }
}

std::string_view trimRight(std::string_view s) {
    size_t n = s.size();
    while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\0'))
        --n;
    return s.substr(0, n);
}

void resultInteger(sqlite3_context* ctx, std::string_view s) {
    // Fast path for the usual right-aligned digits; anything else goes through the engine's parser.
    size_t i = 0;
    const size_t n = trimRight(s).size();
    while (i < n && s[i] == ' ')
        ++i;
    const bool negative = i < n && s[i] == '-';
    if (i < n && (s[i] == '-' || s[i] == '+')) ++i;
    const size_t first = i;
    int64_t v = 0;
    bool overflow = false;
    for (; i < n && s[i] >= '0' && s[i] <= '9'; ++i)
        overflow = overflow || __builtin_mul_overflow(v, 10, &v) || __builtin_add_overflow(v, s[i] - '0', &v);
    if (i == n && i > first && !overflow) return sqlite3_result_int64(ctx, negative ? -v : v);

    double d = 0;
    if (!dbf::parseNumber(s, d)) return sqlite3_result_null(ctx);
    if (d == double(int64_t(d)) && d > -9.2e18 && d < 9.2e18) return sqlite3_result_int64(ctx, int64_t(d));
    sqlite3_result_double(ctx, d);
}

void resultDate(sqlite3_context* ctx, std::string_view s) {
    if (s.size() < 8) return sqlite3_result_null(ctx);
    for (size_t i = 0; i < 8; ++i)
        if (s[i] < '0' || s[i] > '9') return sqlite3_result_null(ctx);
    auto num = [&](size_t from, size_t len) {
        int v = 0;
        for (size_t i = from; i < from + len; ++i)
            v = v * 10 + (s[i] - '0');
        return v;
    };
    if (!QDate::isValid(num(0, 4), num(4, 2), num(6, 2))) return sqlite3_result_null(ctx);
    const char iso[10] = {s[0], s[1], s[2], s[3], '-', s[4], s[5], '-', s[6], s[7]};
    sqlite3_result_text(ctx, iso, 10, SQLITE_TRANSIENT);
}

void resultText(sqlite3_context* ctx, std::string_view s, const Utf8Table& utf8, std::string& buffer) {
    s = trimRight(s);
    bool ascii = true;
    for (char ch : s)
        ascii = ascii && static_cast<unsigned char>(ch) < 0x80;
    if (ascii) return sqlite3_result_text(ctx, s.data(), int(s.size()), SQLITE_TRANSIENT);
    buffer.clear();
    for (char ch : s) {
        const auto b = static_cast<unsigned char>(ch);
        buffer.append(utf8.bytes[b].data(), utf8.length[b]);
    }
    sqlite3_result_text(ctx, buffer.data(), int(buffer.size()), SQLITE_TRANSIENT);
}

struct Table : sqlite3_vtab {
    static constexpr int kArguments = 1;
    static constexpr const char* kUsage = "dbf tables take exactly one argument: the file path";
    std::shared_ptr<dbf::DbfFile> file;
    std::vector<Kind> kinds;
    const Utf8Table* utf8 = nullptr;

    void open(const std::vector<std::string>& args) {
        file = dbf::DbfFile::openShared(args[0]);
        utf8 = &utf8Table(file->codePage());
        for (const auto& f : file->fields())
            kinds.push_back(kindOf(f));
    }
    Columns columns() const {
        Columns out;
        for (size_t i = 0; i < kinds.size(); ++i)
            out.emplace_back(file->fields()[i].name, declaredType(kinds[i]));
        return out;
    }
    double rows() const { return double(file->recordCount()); }
};

struct Cursor : sqlite3_vtab_cursor {
    uint32_t rec = 0;
    uint32_t end = 0;
    std::string buffer; // reused for decoded text so a scan does not allocate per row

    void start(Table& t, uint64_t) {
        t.file->refresh(); // rows posted since the table was registered
        rec = 0;
        end = t.file->recordCount();
        skipDeleted(t);
    }
    void next(Table& t) {
        ++rec;
        skipDeleted(t);
    }
    bool atEnd(const Table&) const { return rec >= end; }
    sqlite3_int64 rowid(Table&) const { return rec; }
    void skipDeleted(const Table& t) {
        while (rec < end && t.file->isDeleted(rec))
            ++rec;
    }
    void column(Table& t, sqlite3_context* ctx, int i);
};

void Cursor::column(Table& t, sqlite3_context* ctx, int i) {
    const dbf::DbfFile& f = *t.file;
    switch (t.kinds[size_t(i)]) {
    case Kind::Integer:
        resultInteger(ctx, f.raw(rec, i));
        break;
    case Kind::Real: {
        double d = 0;
        if (f.readNumber(rec, i, d))
            sqlite3_result_double(ctx, d);
        else
            sqlite3_result_null(ctx);
        break;
    }
    case Kind::Date:
        resultDate(ctx, f.raw(rec, i));
        break;
    case Kind::Logical: {
        const int v = f.readLogical(rec, i);
        if (v < 0)
            sqlite3_result_null(ctx);
        else
            sqlite3_result_int(ctx, v);
        break;
    }
    case Kind::Memo: {
        const QByteArray u = f.readMemo(rec, i).toUtf8();
        sqlite3_result_text(ctx, u.constData(), int(u.size()), SQLITE_TRANSIENT);
        break;
    }
    case Kind::Text:
        resultText(ctx, f.raw(rec, i), *t.utf8, buffer);
        break;
    }
}

} // namespace

int registerDbfModule(sqlite3* db) {
    return ReadOnlyModule<Table, Cursor>::install(db, "dbf");
}

} // namespace db::sql
