#pragma once
#include "ColumnReader.h"
#include "Field.h"
#include "Variant.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace dbf {
class DbfFile;
}

namespace db {

class FilterExpr;

struct StoreColumn {
    QString name; // as stored, upper case
    FieldKind kind = FieldKind::String;
    int size = 0; // characters of a text column, 0 otherwise
};

// One value of a write: the store's column and the field name its messages quote.
struct ColumnValue {
    int column = -1;
    QString name;
    Variant value;
};

// Which rows a view shows and in what order.
struct ScanSpec {
    const FilterExpr* filter = nullptr; // bound to this store; null when the view is unfiltered
    int detailColumn = -1;              // a detail view shows the rows whose column equals the key
    bool detailNull = false;
    double detailKey = 0;
    int sortColumn = -1; // -1: stored order
    std::string tag;     // the index tag that gives the order, when the store keeps one
};

struct RowSet {
    std::vector<RowId> ids;
    bool all = false; // every row from 0 to allCount - 1, in stored order, without a list
    uint32_t allCount = 0;
    // allCount rows the store gives by position (rowAt, positionOf), for a view too long to
    // fetch at once.
    bool paged = false;
};

// Every live row in stored order with the values of some columns, for a scan that reads them
// all (statistics, copies): a store far away sends them in a few large batches.
class RowStream {
public:
    virtual ~RowStream() = default;
    // Moves to the next row, the first at the first call; false past the last.
    virtual bool next() = 0;
    virtual RowId id() const = 0;
    // The value of the i-th column asked for, as read gives it.
    virtual Variant value(size_t i) const = 0;
};

// A new row's number in column stays unless a stored row (with the same value in scopeColumn,
// when given) has it; then it gets one more than the largest, decided where the store
// serialises appends.
struct NumberRule {
    int column = -1;
    int scopeColumn = -1;
};

// The rows of one table, wherever they are kept. A dataset asks it for rows, writes and locks;
// the store keeps what it promises about other users (locks, re-reads, changes underneath).
class RecordStore {
public:
    virtual ~RecordStore() = default;

    virtual const std::vector<StoreColumn>& columns() const = 0;
    virtual int columnIndex(const QString& name) const = 0; // case-insensitive, -1 if none
    virtual bool writable() const = 0;
    // Why a store that is not writable refuses writes, with the remedy; empty when unknown.
    virtual QString readOnlyReason() const { return {}; }
    // The dBASE file underneath, for the tools that work on files; null for other stores.
    virtual dbf::DbfFile* file() const { return nullptr; }
    // Binds a filter's field names to this store's columns; throws for an unknown field.
    virtual void bindFilter(FilterExpr& e) const = 0;
    // The columns most searches name together, e.g. NOMU;NOMTESTIR;NOMTESTA: a store that
    // indexes in memory builds one index over them.
    virtual void setKeyColumns(const std::vector<int>& columns) { (void)columns; }

    // What others stored since the last look.
    virtual void refresh() = 0;
    // Calls fn from the event loop of the thread that called this when another program committed a
    // change to the table; a store that cannot tell never calls it. An empty fn ends the watch.
    virtual void watchChanges(QObject* context, std::function<void()> fn) { (void)context, (void)fn; }
    // Bumped whenever rows went away underneath, or the table changed shape: views are rebuilt.
    virtual uint32_t cuts() const = 0;
    // Why nothing more can be read or written (the table was replaced); empty while attached.
    virtual QString detachedReason() const = 0;
    virtual bool contains(RowId id) const = 0;

    // The live rows a view shows, in its order, as of the last refresh.
    virtual void scan(const ScanSpec& how, RowSet& out) = 0;
    virtual bool passes(RowId id, const ScanSpec& how) const = 0;
    // A paged view's row at a position, and the position of a row (-1 when not in the view), as
    // of the last scan.
    virtual RowId rowAt(size_t pos) const {
        (void)pos;
        return 0;
    }
    virtual int64_t positionOf(RowId id) const {
        (void)id;
        return -1;
    }
    // View order of two rows that both pass.
    virtual bool before(RowId a, RowId b, const ScanSpec& how) const = 0;
    virtual Variant read(RowId id, int column, FieldKind kind) const = 0;
    // A reader of the column that gives what read gives; valid while the store is.
    virtual ColumnReader reader(int column, FieldKind kind) const;
    // Every live row as stored now, for one pass that reads them all; the default reads the
    // rows of a full scan one by one.
    virtual std::unique_ptr<RowStream> stream(const std::vector<int>& columns,
                                              const std::vector<FieldKind>& kinds);
    // The first live row whose columns equal the values; -1 when none.
    virtual int64_t find(const std::vector<int>& columns, const std::vector<FieldKind>& kinds,
                         const std::vector<Variant>& values) const = 0;
    // Rows, ascending, that may have these values: 1 when out holds them, -1 when the values
    // can match nothing, -2 when the store has no quick way.
    virtual int candidates(const std::vector<int>& columns, const std::vector<Variant>& values,
                           std::vector<RowId>& out) const = 0;

    // Writes are stored when they return; a failed one leaves the table as it was.
    virtual RowId append(const std::vector<ColumnValue>& values, const NumberRule& rule = {}) = 0;
    // Appends rows while next gives one (false when none is left): copying whole tables. A store
    // may send them in one stream.
    virtual void appendAll(const std::function<bool(std::vector<ColumnValue>&)>& next) {
        for (std::vector<ColumnValue> row; next(row); row.clear())
            append(row);
    }
    // Writes the given columns; the others keep what is stored.
    virtual void write(RowId id, const std::vector<ColumnValue>& values) = 0;
    virtual void setDeleted(RowId id, bool deleted) = 0;
    // The row lock of an edit: false when another user holds it.
    virtual bool lockRow(RowId id) = 0;
    virtual void unlockRow(RowId id) = 0;
    // Reads the row again, as stored now; throws when it is no longer stored.
    virtual void reloadRow(RowId id) = 0;
    // Runs fn with appends of others held off and their rows visible: a find-or-create step.
    virtual void underAppendLock(const std::function<void()>& fn) = 0;
    // Appends rows as one step where the store can (all of them stored, or none); their ids in
    // order. The default appends them one by one.
    virtual std::vector<RowId> appendMany(const std::vector<std::vector<ColumnValue>>& rows);
};

// A database that is no folder is named by a URL (postgresql://user@host/db); the library that
// keeps such tables registers how to open one of its tables.
using StoreOpener =
    std::function<std::unique_ptr<RecordStore>(const QString& url, const QString& table, bool readOnly)>;
void registerStore(const QString& scheme, StoreOpener opener);
// True when the location names a server rather than a folder.
bool isServerLocation(const QString& location);
// Opens a table of a server database; throws when no library for its kind was built in.
std::unique_ptr<RecordStore> openServerStore(const QString& url, const QString& table, bool readOnly);

} // namespace db
