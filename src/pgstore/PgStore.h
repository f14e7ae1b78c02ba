#pragma once
#include "PgConnection.h"
#include "dataset/RecordStore.h"

#include <map>
#include <memory>
#include <unordered_map>

namespace pg {

// The rows of one table of a PostgreSQL database. A row id is the table's serial id column; the
// other columns have the dBASE fields' names in lower case. A view holds the rows it showed
// last; writes go to the server at once, each in its own transaction.
class PgStore : public db::RecordStore {
public:
    PgStore(const QString& url, const QString& table, bool readOnly);
    ~PgStore() override;

    const std::vector<db::StoreColumn>& columns() const override { return columns_; }
    int columnIndex(const QString& name) const override;
    bool writable() const override { return !readOnly_; }
    void bindFilter(db::FilterExpr& e) const override;

    void refresh() override {}
    void watchChanges(QObject* context, std::function<void()> fn) override;
    uint32_t cuts() const override { return cuts_; }
    QString detachedReason() const override { return {}; }
    bool contains(db::RowId id) const override;

    void scan(const db::ScanSpec& how, db::RowSet& out) override;
    bool passes(db::RowId id, const db::ScanSpec& how) const override;
    bool before(db::RowId a, db::RowId b, const db::ScanSpec& how) const override;
    db::Variant read(db::RowId id, int column, db::FieldKind kind) const override;
    // Batches by id, each larger than the one before: a first row comes soon, a million rows in a
    // few round trips, and no batch holds more than a bounded share of the table.
    std::unique_ptr<db::RowStream> stream(const std::vector<int>& columns,
                                          const std::vector<db::FieldKind>& kinds) override;
    int64_t find(const std::vector<int>& columns, const std::vector<db::FieldKind>& kinds,
                 const std::vector<db::Variant>& values) const override;
    int candidates(const std::vector<int>& columns, const std::vector<db::Variant>& values,
                   std::vector<db::RowId>& out) const override;
    db::RowId rowAt(size_t pos) const override;
    int64_t positionOf(db::RowId id) const override;

    db::RowId append(const std::vector<db::ColumnValue>& values, const db::NumberRule& rule) override;
    // By COPY, in the caller's transaction when there is one.
    void appendAll(const std::function<bool(std::vector<db::ColumnValue>&)>& next) override;
    // In one transaction: every row stored, or none.
    std::vector<db::RowId> appendMany(const std::vector<std::vector<db::ColumnValue>>& rows) override;
    void write(db::RowId id, const std::vector<db::ColumnValue>& values) override;
    void setDeleted(db::RowId id, bool deleted) override;
    bool lockRow(db::RowId id) override;
    void unlockRow(db::RowId id) override;
    void reloadRow(db::RowId id) override;
    void underAppendLock(const std::function<void()>& fn) override;

    // Makes PostgreSQL URLs openable by db::Table (postgresql://, postgres://).
    static void registerScheme();

private:
    class Stream;
    // A value the server sent, as read gives it for the column's kind.
    static db::Variant cell(const Result& r, int row, int col, char type, db::FieldKind kind);
    struct Column {
        QString sqlName; // quoted
        char type = 'C'; // C N D M L, as the dBASE field it stands for
        int length = 0, decimals = 0;
    };
    // A view longer than one page is never fetched whole: it is counted, and its rows come in
    // pages of its order, each found from a neighbour page's last key (keyset pagination), or by
    // an offset from the nearer end when no neighbour is at hand.
    struct Key {
        db::RowId id = 0;
        Param sort; // the sort column's value as the server writes it
    };
    struct Paged {
        QString where;
        std::vector<Param> params;
        int sortColumn = -1;
        uint32_t count = 0;
        std::map<size_t, std::vector<Key>> pages;
    };
    void keepPage(const Result& r, size_t page, bool reversed) const;
    void fetchPage(size_t page) const;
    // SQL true when the row (aSort, aId) comes before (bSort, bId) in the paged view's order.
    QString earlier(const QString& aSort, const QString& aId, const QString& bSort, const QString& bId) const;
    QString pageOrder(bool descending) const;
    // The conditions that a row equals the values; false when no row can.
    bool equalities(const std::vector<int>& columns, const std::vector<db::Variant>& values,
                    QStringList& conds, std::vector<Param>& params) const;
    mutable Paged paged_;

    QString selectList() const;
    QString where(const db::ScanSpec& how, std::vector<Param>& params) const;
    void keep(const Result& r, int row) const; // caches a row: id, then the columns
    Param toParam(const db::ColumnValue& v) const;
    QString assignments(const std::vector<db::ColumnValue>& values, std::vector<Param>& params) const;
    double numberAt(db::RowId id, int column) const;
    // A new row's values for every column, in order: what a column not given holds otherwise.
    std::vector<Param> rowParams(const std::vector<db::ColumnValue>& values) const;
    // Runs fn in a transaction (joining the caller's); the rows it added are forgotten when the
    // server rolls it back, so no view shows a row that was never stored.
    void atomically(const std::function<void()>& fn);
    std::vector<db::RowId> added_; // rows added in the transaction under way
    void giveFreeNumber(const db::NumberRule& rule, std::vector<db::ColumnValue>& values);

    std::shared_ptr<Connection> conn_;
    QString table_; // quoted
    QString name_;
    bool readOnly_;
    std::vector<db::StoreColumn> columns_;
    std::vector<Column> sql_;
    mutable uint32_t cuts_ = 0; // a paged view that finds rows gone counts one too
    int watch_ = 0;             // the change watch, 0 when none
    mutable std::unordered_map<db::RowId, std::vector<db::Variant>> rows_;
    // Rows this store's edits hold. The lock itself belongs to the process: each locked row has
    // a transaction on a connection of its own, shared by every dataset of the program that
    // edits it, as the processes' record locks of a folder are.
    std::map<db::RowId, int> locks_;
    // A row just locked and read under the lock: the edit's read that follows needs no other.
    db::RowId fresh_ = 0;
    // Takes the row lock in a new transaction on c (with a savepoint a failed write goes back
    // to); false when another session holds the row.
    bool takeRow(Connection& c, db::RowId id);
    // The connection holding an edit's lock, the lock taken again if a write gave it up.
    Connection* heldConnection(db::RowId id);
    QString lockKey(db::RowId id) const;
    void releaseLock(db::RowId id);
};

} // namespace pg
