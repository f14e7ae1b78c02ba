#include "StoreModule.h"
#include "VirtualTable.h"

#include "dataset/RecordStore.h"

#include <algorithm>
#include <cstdint>
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

// A statement reads every row of the table once: it gets them as one stream of the columns it
// uses, numbered as the table's columns.
struct Cursor : sqlite3_vtab_cursor {
    std::unique_ptr<RowStream> rows;
    std::vector<int> slot; // of each table column in the stream, -1 when the statement skips it
    bool end = true;

    void start(Table& t, uint64_t used) {
        std::vector<int> columns;
        std::vector<FieldKind> kinds;
        const auto& all = t.store->columns();
        slot.assign(all.size(), -1);
        for (size_t i = 0; i < all.size(); ++i)
            if (used & (uint64_t(1) << std::min<size_t>(i, 63))) {
                slot[i] = int(columns.size());
                columns.push_back(int(i));
                kinds.push_back(all[i].kind);
            }
        end = true;
        rows = t.store->stream(columns, kinds); // every row as stored now
        end = !rows->next();
    }
    void next(Table&) { end = !rows->next(); }
    bool atEnd(const Table&) const { return end; }
    sqlite3_int64 rowid(Table&) const { return rows->id(); }
    void column(Table& t, sqlite3_context* ctx, int i) const;
};

void Cursor::column(Table&, sqlite3_context* ctx, int i) const {
    const int at = slot[size_t(i)];
    const Variant v = at >= 0 ? rows->value(size_t(at)) : Variant();
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
