#include "RecordStore.h"
#include "ServerTables.h"

#include "../Errors.h"

#include <QHash>

namespace db {

namespace {
QHash<QString, StoreOpener>& openers() {
    static QHash<QString, StoreOpener> map;
    return map;
}
QHash<QString, StoreLister>& listers() {
    static QHash<QString, StoreLister> map;
    return map;
}
QString schemeOf(const QString& location) {
    const qsizetype at = location.indexOf(QLatin1String("://"));
    return at > 0 ? location.left(at).toLower() : QString();
}
} // namespace

void registerStore(const QString& scheme, StoreOpener opener) {
    openers().insert(scheme.toLower(), std::move(opener));
}

void registerStoreLister(const QString& scheme, StoreLister lister) {
    listers().insert(scheme.toLower(), std::move(lister));
}

QStringList serverTables(const QString& url) {
    auto it = listers().constFind(schemeOf(url));
    if (it == listers().constEnd()) openServerStore(url, QString(), true); // says what is missing
    return (*it)(url);
}

bool isServerLocation(const QString& location) {
    const QString scheme = schemeOf(location);
    return scheme == QLatin1String("postgresql") || scheme == QLatin1String("postgres");
}

std::unique_ptr<RecordStore> openServerStore(const QString& url, const QString& table, bool readOnly) {
    auto it = openers().constFind(schemeOf(url));
    if (it == openers().constEnd())
        throw DatabaseError(QStringLiteral("This program cannot open %1: it was built without the client of "
                                           "that database server")
                                .arg(url));
    return (*it)(url, table, readOnly);
}

namespace {
Variant readThroughStore(const ColumnReader& r, RowId id) {
    return static_cast<const RecordStore*>(r.source)->read(id, r.column, r.kind);
}
} // namespace

ColumnReader RecordStore::reader(int column, FieldKind kind) const {
    ColumnReader r;
    r.read = &readThroughStore;
    r.source = this;
    r.column = column;
    r.kind = kind;
    return r;
}

namespace {
class ScanStream : public RowStream {
public:
    ScanStream(RecordStore& store, std::vector<int> columns, std::vector<FieldKind> kinds)
        : store_(store), columns_(std::move(columns)), kinds_(std::move(kinds)) {
        store_.scan(ScanSpec{}, rows_);
    }
    bool next() override {
        if (started_) ++at_;
        started_ = true;
        return at_ < (rows_.all || rows_.paged ? size_t(rows_.allCount) : rows_.ids.size());
    }
    RowId id() const override {
        return rows_.all ? RowId(at_) : rows_.paged ? store_.rowAt(at_) : rows_.ids[at_];
    }
    Variant value(size_t i) const override { return store_.read(id(), columns_[i], kinds_[i]); }

private:
    RecordStore& store_;
    std::vector<int> columns_;
    std::vector<FieldKind> kinds_;
    RowSet rows_;
    size_t at_ = 0;
    bool started_ = false;
};
} // namespace

std::unique_ptr<RowStream> RecordStore::stream(const std::vector<int>& columns,
                                               const std::vector<FieldKind>& kinds) {
    return std::make_unique<ScanStream>(*this, columns, kinds);
}

std::vector<RowId> RecordStore::appendMany(const std::vector<std::vector<ColumnValue>>& rows) {
    std::vector<RowId> ids;
    for (const auto& row : rows)
        ids.push_back(append(row));
    return ids;
}

} // namespace db
