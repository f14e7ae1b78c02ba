#include "DbfModule.h"

#include "dbf/DbfFile.h"

#include <QDate>
#include <array>
#include <cstring>
#include <exception>
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

struct Table : sqlite3_vtab {
    std::shared_ptr<dbf::DbfFile> file;
    std::vector<Kind> kinds;
    const Utf8Table* utf8 = nullptr;
};

struct Cursor : sqlite3_vtab_cursor {
    uint32_t rec = 0;
    uint32_t end = 0;
    std::string buffer; // reused for decoded text so a scan does not allocate per row
    Table* table() const { return static_cast<Table*>(pVtab); }
};

// The argument arrives as written in the SQL text: '...' with doubled quotes.
std::string unquote(const char* arg) {
    std::string s(arg);
    if (s.size() >= 2 && (s.front() == '\'' || s.front() == '"') && s.back() == s.front()) {
        const char q = s.front();
        std::string out;
        for (size_t i = 1; i + 1 < s.size(); ++i) {
            out.push_back(s[i]);
            if (s[i] == q && s[i + 1] == q) ++i;
        }
        return out;
    }
    return s;
}

int setError(char** target, const char* message) {
    sqlite3_free(*target);
    *target = sqlite3_mprintf("%s", message);
    return SQLITE_ERROR;
}

int connectTable(sqlite3* db, void*, int argc, const char* const* argv, sqlite3_vtab** out, char** err) {
    if (argc != 4) return setError(err, "dbf tables take exactly one argument: the file path");
    try {
        auto t = std::make_unique<Table>();
        t->file = dbf::DbfFile::openShared(unquote(argv[3]));
        t->utf8 = &utf8Table(t->file->codePage());
        std::string ddl = "CREATE TABLE x(";
        for (const auto& f : t->file->fields()) {
            t->kinds.push_back(kindOf(f));
            if (t->kinds.size() > 1) ddl += ", ";
            ddl += '"';
            for (char c : f.name)
                ddl += c == '"' ? std::string("\"\"") : std::string(1, c);
            ddl += "\" ";
            ddl += declaredType(t->kinds.back());
        }
        ddl += ')';
        int rc = sqlite3_declare_vtab(db, ddl.c_str());
        if (rc != SQLITE_OK) return setError(err, sqlite3_errmsg(db));
        *out = t.release();
        return SQLITE_OK;
    } catch (const std::exception& e) {
        return setError(err, e.what());
    }
}

// Distinct from connect so the module has no eponymous table: only the files we register are visible.
int createTable(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out, char** err) {
    return connectTable(db, aux, argc, argv, out, err);
}

int disconnectTable(sqlite3_vtab* vtab) {
    delete static_cast<Table*>(vtab);
    return SQLITE_OK;
}

int bestIndex(sqlite3_vtab* vtab, sqlite3_index_info* info) {
    // Always a full scan; SQLite evaluates the WHERE clause itself.
    const double rows = double(static_cast<Table*>(vtab)->file->recordCount());
    info->idxNum = 0;
    info->estimatedCost = rows + 1;
    info->estimatedRows = sqlite3_int64(rows) + 1;
    return SQLITE_OK;
}

int openCursor(sqlite3_vtab*, sqlite3_vtab_cursor** out) {
    *out = new Cursor();
    return SQLITE_OK;
}

int closeCursor(sqlite3_vtab_cursor* cur) {
    delete static_cast<Cursor*>(cur);
    return SQLITE_OK;
}

void skipDeleted(Cursor* c) {
    const dbf::DbfFile& f = *c->table()->file;
    while (c->rec < c->end && f.isDeleted(c->rec))
        ++c->rec;
}

int filterRows(sqlite3_vtab_cursor* cur, int, const char*, int, sqlite3_value**) {
    auto* c = static_cast<Cursor*>(cur);
    try {
        c->table()->file->refresh(); // rows posted since the table was registered
    } catch (const std::exception& e) {
        return setError(&c->table()->zErrMsg, e.what());
    }
    c->rec = 0;
    c->end = c->table()->file->recordCount();
    skipDeleted(c);
    return SQLITE_OK;
}

int nextRow(sqlite3_vtab_cursor* cur) {
    auto* c = static_cast<Cursor*>(cur);
    ++c->rec;
    skipDeleted(c);
    return SQLITE_OK;
}

int atEnd(sqlite3_vtab_cursor* cur) {
    auto* c = static_cast<Cursor*>(cur);
    return c->rec >= c->end;
}

int rowNumber(sqlite3_vtab_cursor* cur, sqlite3_int64* out) {
    *out = static_cast<Cursor*>(cur)->rec;
    return SQLITE_OK;
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

int columnValue(sqlite3_vtab_cursor* cur, sqlite3_context* ctx, int i) {
    auto* c = static_cast<Cursor*>(cur);
    const Table& t = *c->table();
    const dbf::DbfFile& f = *t.file;
    try {
        switch (t.kinds[size_t(i)]) {
        case Kind::Integer:
            resultInteger(ctx, f.raw(c->rec, i));
            break;
        case Kind::Real: {
            double d = 0;
            if (f.readNumber(c->rec, i, d))
                sqlite3_result_double(ctx, d);
            else
                sqlite3_result_null(ctx);
            break;
        }
        case Kind::Date:
            resultDate(ctx, f.raw(c->rec, i));
            break;
        case Kind::Logical: {
            const int v = f.readLogical(c->rec, i);
            if (v < 0)
                sqlite3_result_null(ctx);
            else
                sqlite3_result_int(ctx, v);
            break;
        }
        case Kind::Memo: {
            const QByteArray u = f.readMemo(c->rec, i).toUtf8();
            sqlite3_result_text(ctx, u.constData(), int(u.size()), SQLITE_TRANSIENT);
            break;
        }
        case Kind::Text:
            resultText(ctx, f.raw(c->rec, i), *t.utf8, c->buffer);
            break;
        }
    } catch (const std::exception& e) {
        sqlite3_result_error(ctx, e.what(), -1);
        return SQLITE_ERROR;
    }
    return SQLITE_OK;
}

const sqlite3_module kModule = {
    /* iVersion */ 1,
    /* xCreate */ createTable,
    /* xConnect */ connectTable,
    /* xBestIndex */ bestIndex,
    /* xDisconnect */ disconnectTable,
    /* xDestroy */ disconnectTable,
    /* xOpen */ openCursor,
    /* xClose */ closeCursor,
    /* xFilter */ filterRows,
    /* xNext */ nextRow,
    /* xEof */ atEnd,
    /* xColumn */ columnValue,
    /* xRowid */ rowNumber,
    /* xUpdate */ nullptr, // no writes through SQL
    /* xBegin */ nullptr,
    /* xSync */ nullptr,
    /* xCommit */ nullptr,
    /* xRollback */ nullptr,
    /* xFindFunction */ nullptr,
    /* xRename */ nullptr,
    /* xSavepoint */ nullptr,
    /* xRelease */ nullptr,
    /* xRollbackTo */ nullptr,
    /* xShadowName */ nullptr,
};

} // namespace

int registerDbfModule(sqlite3* db) {
    return sqlite3_create_module_v2(db, "dbf", &kModule, nullptr, nullptr);
}

} // namespace db::sql
