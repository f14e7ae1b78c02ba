#include "StoreModule.h"

#include "dataset/RecordStore.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace db::sql {

namespace {

struct Table : sqlite3_vtab {
    std::unique_ptr<RecordStore> store;
};

// A statement reads every row of the table once: it gets them as one stream of the columns it
// uses, numbered as the table's columns.
struct Cursor : sqlite3_vtab_cursor {
    std::unique_ptr<RowStream> rows;
    std::vector<int> slot; // of each table column in the stream, -1 when the statement skips it
    bool end = true;
    Table* table() const { return static_cast<Table*>(pVtab); }
};

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

const char* declaredType(FieldKind k) {
    switch (k) {
    case FieldKind::Smallint:
    case FieldKind::Integer:
    case FieldKind::Boolean:
        return "INTEGER";
    case FieldKind::Float:
        return "REAL";
    default:
        return "TEXT";
    }
}

int connectTable(sqlite3* db, void*, int argc, const char* const* argv, sqlite3_vtab** out, char** err) {
    if (argc != 5) return setError(err, "store tables take two arguments: the database URL and the table");
    try {
        auto t = std::make_unique<Table>();
        t->store = openServerStore(QString::fromStdString(unquote(argv[3])),
                                   QString::fromStdString(unquote(argv[4])), true);
        std::string ddl = "CREATE TABLE x(";
        bool first = true;
        for (const StoreColumn& c : t->store->columns()) {
            if (!first) ddl += ", ";
            first = false;
            ddl += '"' + c.name.toStdString() + "\" " + declaredType(c.kind);
        }
        ddl += ')';
        if (sqlite3_declare_vtab(db, ddl.c_str()) != SQLITE_OK) return setError(err, sqlite3_errmsg(db));
        *out = t.release();
        return SQLITE_OK;
    } catch (const std::exception& e) {
        return setError(err, e.what());
    }
}

// Distinct from connect so the module has no eponymous table: only the tables we register are visible.
int createTable(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out, char** err) {
    return connectTable(db, aux, argc, argv, out, err);
}

int disconnectTable(sqlite3_vtab* vtab) {
    delete static_cast<Table*>(vtab);
    return SQLITE_OK;
}

int bestIndex(sqlite3_vtab*, sqlite3_index_info* info) {
    info->idxNum = 0;
    // The columns the statement reads (the last bit stands for all the columns from 63 on).
    info->idxStr = sqlite3_mprintf("%llx", static_cast<unsigned long long>(info->colUsed));
    info->needToFreeIdxStr = 1;
    info->estimatedCost = 1e6;
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

int filterRows(sqlite3_vtab_cursor* cur, int, const char* used, int, sqlite3_value**) {
    auto* c = static_cast<Cursor*>(cur);
    RecordStore& store = *c->table()->store;
    const uint64_t mask = used ? std::strtoull(used, nullptr, 16) : ~uint64_t(0);
    std::vector<int> columns;
    std::vector<FieldKind> kinds;
    c->slot.assign(store.columns().size(), -1);
    for (size_t i = 0; i < store.columns().size(); ++i)
        if (mask & (uint64_t(1) << std::min<size_t>(i, 63))) {
            c->slot[i] = int(columns.size());
            columns.push_back(int(i));
            kinds.push_back(store.columns()[i].kind);
        }
    try {
        c->rows = store.stream(columns, kinds); // every row as stored now
        c->end = !c->rows->next();
    } catch (const std::exception& e) {
        c->end = true;
        return setError(&c->table()->zErrMsg, e.what());
    }
    return SQLITE_OK;
}

int nextRow(sqlite3_vtab_cursor* cur) {
    auto* c = static_cast<Cursor*>(cur);
    try {
        c->end = !c->rows->next();
    } catch (const std::exception& e) {
        c->end = true;
        return setError(&c->table()->zErrMsg, e.what());
    }
    return SQLITE_OK;
}

int atEnd(sqlite3_vtab_cursor* cur) {
    return static_cast<Cursor*>(cur)->end;
}

int rowNumber(sqlite3_vtab_cursor* cur, sqlite3_int64* out) {
    *out = static_cast<Cursor*>(cur)->rows->id();
    return SQLITE_OK;
}

int columnValue(sqlite3_vtab_cursor* cur, sqlite3_context* ctx, int i) {
    auto* c = static_cast<Cursor*>(cur);
    try {
        const int at = c->slot[size_t(i)];
        const Variant v = at >= 0 ? c->rows->value(size_t(at)) : Variant();
        switch (v.type()) {
        case Variant::Type::Null:
            sqlite3_result_null(ctx);
            break;
        case Variant::Type::Int:
        case Variant::Type::Bool:
            sqlite3_result_int64(ctx, v.toInt());
            break;
        case Variant::Type::Float:
            sqlite3_result_double(ctx, v.toDouble());
            break;
        case Variant::Type::Date: {
            const QByteArray iso = v.toDate().toString(Qt::ISODate).toUtf8();
            sqlite3_result_text(ctx, iso.constData(), int(iso.size()), SQLITE_TRANSIENT);
            break;
        }
        case Variant::Type::String: {
            const QByteArray u = v.toString().toUtf8();
            sqlite3_result_text(ctx, u.constData(), int(u.size()), SQLITE_TRANSIENT);
            break;
        }
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

int registerStoreModule(sqlite3* db) {
    return sqlite3_create_module_v2(db, "store", &kModule, nullptr, nullptr);
}

} // namespace db::sql
