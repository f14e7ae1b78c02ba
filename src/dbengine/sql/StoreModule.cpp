#include "StoreModule.h"
#include "VirtualTable.h"

#include "dataset/RecordStore.h"

#include <memory>
#include <string>
#include <vector>

namespace db::sql {

namespace {

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

struct Table : sqlite3_vtab {
    static constexpr int kArguments = 2;
    static constexpr const char* kUsage = "store tables take two arguments: the database URL and the table";
    std::unique_ptr<RecordStore> store;

    void open(const std::vector<std::string>& args) {
        store = openServerStore(QString::fromStdString(args[0]), QString::fromStdString(args[1]), true);
    }
    Columns columns() const {
        Columns out;
        for (const StoreColumn& c : store->columns())
            out.emplace_back(c.name.toStdString(), declaredType(c.kind));
        return out;
    }
    double rows() const { return 1e6; } // not counted: a count is a query of its own
};

struct Cursor : sqlite3_vtab_cursor {
    RowSet rows;
    size_t at = 0;

    size_t size() const { return rows.all || rows.paged ? rows.allCount : rows.ids.size(); }
    RowId id(const Table& t) const {
        return rows.all ? RowId(at) : rows.paged ? t.store->rowAt(at) : rows.ids[at];
    }
    void start(Table& t) {
        t.store->scan(ScanSpec{}, rows); // every row as stored now
        at = 0;
    }
    void next(Table&) { ++at; }
    // A long view that others shortened mid-scan ends where its rows do (a paged id is never 0).
    bool atEnd(const Table& t) const { return at >= size() || (rows.paged && t.store->rowAt(at) == 0); }
    sqlite3_int64 rowid(Table& t) const { return id(t); }
    void column(Table& t, sqlite3_context* ctx, int i) const;
};

void Cursor::column(Table& t, sqlite3_context* ctx, int i) const {
    const StoreColumn& col = t.store->columns()[size_t(i)];
    const Variant v = t.store->read(id(t), i, col.kind);
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
}

} // namespace

int registerStoreModule(sqlite3* db) {
    return ReadOnlyModule<Table, Cursor>::install(db, "store");
}

} // namespace db::sql
