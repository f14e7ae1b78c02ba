#include "Table.h"

#include "../Errors.h"
#include "../Fault.h"
#include "Aliases.h"
#include "DbfStore.h"
#include "dbf/DbfFile.h"
#include "dbf/Os.h"

#include <cerrno>

#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <functional>
#include <time.h>

namespace db {

namespace {
// Says why: a tag the engine cannot keep names itself and the remedy.
[[noreturn]] void throwReadOnly(const RecordStore& store, const QString& table) {
    const QString why = store.readOnlyReason();
    FaultInfo info(store.file() ? store.file()->readOnlyFault() : Fault::ReadOnly,
                   store.file() ? QString::fromStdString(store.file()->path()) : table);
    throw FaultError(why.isEmpty() ? QStringLiteral("Table %1 is read-only").arg(table)
                                   : QStringLiteral("Table %1 is read-only: %2").arg(table, why),
                     info);
}
// Below this many rows in view a plain scan is as quick as the key index.
constexpr uint32_t kIndexedFrom = 2048;
// From this many records opening puts off reading a table's view.
constexpr uint32_t kDeferFrom = 4096;
using dbf::os::coarseMs;
} // namespace

Table::Table(QObject* parent) : Dataset(parent) {
    // A change that came during an edit is shown once the edit is over.
    connect(this, &Dataset::stateChanged, this, [this] {
        if (othersPending_ && state() == DataSetState::Browse)
            QTimer::singleShot(0, this, [this] { changedElsewhere(); });
    });
}

Table::~Table() = default;

Field* Table::addField(const QString& objectName, const QString& fieldName, FieldKind kind, int size) {
    if (defaultFields_) {
        clearFields();
        defaultFields_ = false;
    }
    auto* f = new Field(this, objectName, fieldName, kind, size);
    Dataset::addField(f);
    return f;
}

void Table::setMasterSource(DataSource* master, const QString& masterField) {
    master_ = master;
    masterField_ = masterField;
    if (master && master->dataSet()) {
        connect(master->dataSet(), &Dataset::scrolled, this, &Table::masterMoved);
        connect(master->dataSet(), &Dataset::dataSetChanged, this, &Table::masterMoved);
    }
}

QString Table::filePath() const {
    QString dir;
    if (databaseName_.isEmpty()) {
        QFileInfo fi(tableName_);
        if (fi.exists()) return fi.absoluteFilePath();
        dir = fi.absolutePath();
    } else {
        dir = Aliases::resolve(databaseName_);
    }
    QString name = QFileInfo(tableName_).fileName();
    QDir d(dir);
    if (d.exists(name)) return d.filePath(name);
    // The names written in the program and on disk may differ in case (bd_test.DBF / BD_TEST.DBF).
    for (const QString& entry : d.entryList(QDir::Files))
        if (entry.compare(name, Qt::CaseInsensitive) == 0) return d.filePath(entry);
    // A directory we may not enter or list hides its tables: say what the system said.
    const int err = dbf::os::reachError(d.filePath(name).toStdString());
    if (err != 0 && err != ENOENT)
        throw FaultError(QStringLiteral("Cannot open table %1: %2")
                             .arg(QDir::toNativeSeparators(d.filePath(name)),
                                  QString::fromStdString(dbf::os::reason(err))),
                         FaultInfo(Fault::Disk, d.filePath(name), {}, {}, err));
    if (!QFileInfo(dir).isReadable())
        throw FaultError(QStringLiteral("Cannot open table %1: cannot list directory %2: %3")
                             .arg(QDir::toNativeSeparators(d.filePath(name)), QDir::toNativeSeparators(dir),
                                  QString::fromStdString(dbf::os::reason(EACCES))),
                         FaultInfo(Fault::Missing, QDir::toNativeSeparators(dir), {}, {}, EACCES));
    QString via = databaseName_.isEmpty() ? QString() : QStringLiteral(" (alias %1)").arg(databaseName_);
    throw FaultError(
        QStringLiteral("Table %1 not found in %2%3").arg(name, QDir::toNativeSeparators(dir), via),
        FaultInfo(Fault::Missing, QDir::toNativeSeparators(d.filePath(name)), {}, {}, 0));
}

void Table::doOpen() {
    if (!databaseName_.isEmpty() && isServerLocation(Aliases::resolve(databaseName_)))
        store_ = openServerStore(Aliases::resolve(databaseName_), QFileInfo(tableName_).completeBaseName(),
                                 readOnly_);
    else
        store_ = std::make_unique<DbfStore>(filePath().toStdString(), readOnly_);
    try {
        if (fields().isEmpty() || defaultFields_) {
            clearFields();
            for (const StoreColumn& c : store_->columns()) {
                auto* f = new Field(this, objectName() + c.name, c.name, c.kind, c.size);
                Dataset::addField(f);
            }
            defaultFields_ = true;
        }
        for (Field* f : fields()) {
            if (f->isLookup()) continue;
            int c = store_->columnIndex(f->fieldName());
            if (c < 0)
                throw DatabaseError(QStringLiteral("%1: Field '%2' not found in %3")
                                        .arg(objectName(), f->fieldName(), tableName_));
            f->setColumn(c);
        }
        makeReaders();
        sortColumn_ = -1;
        if (!indexName_.isEmpty()) {
            sortColumn_ = store_->columnIndex(indexName_);
            if (sortColumn_ < 0)
                throw DatabaseError(
                    QStringLiteral("Index tag '%1' not found for %2").arg(indexName_, tableName_));
        }
        detailColumn_ = master_ ? sortColumn_ : -1;
        std::vector<int> keyColumns;
        for (const QString& name : keyIndexFields_.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            int c = store_->columnIndex(name.trimmed());
            if (c < 0)
                throw DatabaseError(QStringLiteral("Key field '%1' not found in %2").arg(name, tableName_));
            keyColumns.push_back(c);
        }
        store_->setKeyColumns(keyColumns);
        resolveNumberRule();
        if (master_ && detailColumn_ < 0)
            throw DatabaseError(QStringLiteral("%1: a detail table needs an index tag").arg(objectName()));
        compileFilter(filter()); // the text was only checked for syntax while closed
        // A big table's view in stored order is read when first used: a look at every deletion
        // flag would cost the start a read of the whole file.
        if (sortColumn_ < 0 && !master_ && file() && file()->recordCount() >= kDeferFrom)
            deferView();
        else
            rebuildView();
        if (followChanges_) store_->watchChanges(this, [this] { changedElsewhere(); });
    } catch (...) {
        forgetView();
        readers_.clear();
        store_.reset();
        throw;
    }
}

void Table::doClose() {
    forgetView();
    view_.shrink_to_fit();
    readers_.clear();
    store_.reset();
}

void Table::forgetView() {
    view_.clear();
    identity_ = paged_ = false;
    identityCount_ = 0;
    readDirectly();
}

void Table::compileFilter(const QString& text) {
    FilterExpr e = FilterExpr::parse(text);
    if (store_) store_->bindFilter(e);
    filterExpr_ = std::move(e);
}

Variant Table::masterValue() const {
    Dataset* m = master_ ? master_->dataSet() : nullptr;
    if (!m || !m->active()) return {};
    Field* f = m->findField(masterField_);
    return f ? f->value() : Variant();
}

ScanSpec Table::scanSpec() const {
    ScanSpec how;
    if (filtered() && !filterExpr_.empty()) how.filter = &filterExpr_;
    if (detailColumn_ >= 0 && master_ && master_->dataSet() && master_->dataSet()->active()) {
        how.detailColumn = detailColumn_;
        how.detailNull = masterKeyNull_;
        how.detailKey = masterKey_;
    }
    how.sortColumn = sortColumn_;
    how.tag = indexName_.toStdString();
    return how;
}

void Table::rebuildView() {
    viewSettled();
    store_->refresh();
    cutsSeen_ = store_->cuts();
    Variant mv = masterValue();
    masterKeyNull_ = mv.isNull();
    masterKey_ = 0;
    if (!masterKeyNull_) {
        try {
            masterKey_ = mv.toDouble();
        } catch (const ConversionError&) {
            masterKeyNull_ = true;
        }
    }
    RowSet rows;
    rows.ids = std::move(view_);
    try {
        store_->scan(scanSpec(), rows);
    } catch (...) {
        // The old view is gone with its buffer: a cursor left on it would point past the rows
        // (the server went away mid-scan). Nothing is shown until the next read succeeds.
        forgetView();
        resetCursor();
        throw;
    }
    view_ = std::move(rows.ids);
    identity_ = rows.all;
    paged_ = rows.paged;
    identityCount_ = rows.allCount;
    readDirectly();
}

void Table::refresh() {
    if (!active()) return;
    checkBrowseMode();
    int64_t rec = recNo() >= 0 ? int64_t(recAt(size_t(recNo()))) : -1;
    rebuildView();
    int row = rec >= 0 ? rowOf(uint32_t(rec)) : -1;
    resetCursor();
    if (row > 0) moveBy(row);
    emit dataSetChanged();
}

void Table::changedElsewhere() {
    if (!active() || refreshingForOthers_) return;
    if (state() != DataSetState::Browse) {
        othersPending_ = true;
        return;
    }
    othersPending_ = false;
    if (viewPending()) return; // read afresh when first asked for
    const int64_t rec = recNo() >= 0 ? int64_t(recAt(size_t(recNo()))) : -1;
    refreshingForOthers_ = true;
    try {
        rebuildView();
        const int row = rec >= 0 ? rowOf(uint32_t(rec)) : -1;
        if (row >= 0)
            keepCursorAt(row);
        else
            resetCursor();
    } catch (const EngineError&) {
        // The server went away meanwhile: nothing is shown rather than rows that may be gone; the
        // next action says what happened.
        forgetView();
        resetCursor();
    }
    emit dataSetChanged();
    refreshingForOthers_ = false;
}

void Table::masterMoved() {
    if (!active()) return;
    // The master read again because of another workstation, its record kept: this view keeps its
    // record too, and an edit here goes on untouched.
    const auto* m = master_ ? qobject_cast<const Table*>(master_->dataSet()) : nullptr;
    if (m && m->refreshingForOthers_) {
        const Variant mv = masterValue();
        bool sameKey = mv.isNull() && masterKeyNull_;
        try {
            if (!mv.isNull() && !masterKeyNull_) sameKey = mv.toDouble() == masterKey_;
        } catch (const ConversionError&) {
        }
        if (sameKey || state() != DataSetState::Browse) {
            changedElsewhere();
            return;
        }
    }
    checkBrowseMode();
    rebuildView();
    resetCursor();
    emit dataSetChanged();
}

void Table::setUniqueNumber(const QString& field, const QString& scope) {
    numberField_ = field;
    numberScope_ = scope;
    if (store_) resolveNumberRule(); // else at open
}

void Table::resolveNumberRule() {
    numberRule_.column = numberField_.isEmpty() ? -1 : store_->columnIndex(numberField_);
    numberRule_.scopeColumn = numberScope_.isEmpty() ? -1 : store_->columnIndex(numberScope_);
    if ((!numberField_.isEmpty() && numberRule_.column < 0) ||
        (!numberScope_.isEmpty() && numberRule_.scopeColumn < 0))
        throw DatabaseError(
            QStringLiteral("Number field '%1' not found in %2").arg(numberField_, tableName_));
}

Variant Table::readStored(size_t row, const Field* f) const {
    const int c = f->column();
    if (c >= 0 && size_t(c) < readers_.size()) [[likely]] {
        const ColumnReader& r = readers_[size_t(c)];
        if (r.read && r.kind == f->kind()) [[likely]]
            return r(recAt(row));
    }
    return store_->read(recAt(row), c, f->kind());
}

void Table::makeReaders() {
    readers_.assign(store_->columns().size(), ColumnReader());
    for (const Field* f : fields()) {
        const int c = f->column();
        if (f->isLookup() || c < 0 || readers_[size_t(c)].read) continue;
        readers_[size_t(c)] = store_->reader(c, f->kind());
    }
    readDirectly();
}

std::vector<ColumnValue> Table::columnValues(const std::vector<Variant>& buffer, const Field* only) const {
    std::vector<ColumnValue> values;
    const auto& fl = fields();
    for (qsizetype i = 0; i < fl.size(); ++i) {
        const Field* f = fl[i];
        if (f->isLookup() || f->column() < 0 || (only && f != only)) continue;
        values.push_back({f->column(), f->fieldName(), buffer[size_t(i)]});
    }
    return values;
}

void Table::lockRow(size_t row) {
    const RowId rec = recAt(row);
    if (!store_->lockRow(rec)) throw DatabaseError(QString::fromLatin1(dbf::kRecordLocked));
    editLock_ = rec;
    try {
        store_->reloadRow(rec); // the edit starts from what is stored now
    } catch (...) {
        unlockRow();
        if (store_->cuts() != cutsSeen_) noticeStoredChanges();
        throw;
    }
}

void Table::noticeStoredChanges() {
    // A look costs a stat; a loop of moves looks at most every 20 ms (give or take the clock's
    // tick), a user's moves each time.
    const int64_t now = coarseMs();
    if (store_->cuts() == cutsSeen_) {
        if (now - lastLook_ < 20) return;
        lastLook_ = now;
        store_->refresh();
        if (store_->cuts() == cutsSeen_) return;
    }
    rebuildView();
    resetCursor();
    emit dataSetChanged();
    if (const QString why = store_->detachedReason(); !why.isEmpty())
        throw FaultError(
            QStringLiteral("Table %1 %2; close the window and open it again").arg(tableName_, why),
            FaultInfo(Fault::TableChanged, tableName_, {}, {}, 0));
    throw FaultError(QStringLiteral("Table %1 was changed by another program: records were removed. The "
                                    "view now shows what is stored")
                         .arg(tableName_),
                     FaultInfo(Fault::TableChanged, tableName_, {}, {}, 0));
}

void Table::unlockRow() {
    if (editLock_ >= 0 && store_) store_->unlockRow(RowId(editLock_));
    editLock_ = -1;
}

int Table::writeBuffer(const std::vector<Variant>& buffer, bool inserting, size_t row) {
    if (!store_->writable()) throwReadOnly(*store_, tableName_);
    RowId rec = 0;
    if (inserting) {
        rec = store_->append(columnValues(buffer), numberRule_);
    } else {
        rec = recAt(row);
        store_->write(rec, columnValues(buffer));
    }
    return placeInView(rec);
}

int Table::rowOf(RowId rec) const {
    if (identity_) return rec < identityCount_ ? int(rec) : -1;
    if (paged_) return int(store_->positionOf(rec));
    auto it = sortColumn_ < 0 ? std::lower_bound(view_.begin(), view_.end(), rec)
                              : std::find(view_.begin(), view_.end(), rec);
    return it != view_.end() && *it == rec ? int(it - view_.begin()) : -1;
}

void Table::materialize() {
    if (!identity_) return;
    view_.resize(identityCount_);
    for (uint32_t i = 0; i < identityCount_; ++i)
        view_[i] = i;
    identity_ = false;
    readDirectly();
}

int Table::placeInView(RowId rec) {
    if (paged_) {
        // The store counts the view again and finds the row's place in it.
        rebuildView();
        return rowOf(rec);
    }
    if (identity_) {
        // Appends at the end and edits that keep the record keep the view whole.
        if (rec <= identityCount_ && passes(rec)) {
            if (rec == identityCount_) ++identityCount_;
            return int(rec);
        }
        materialize();
    }
    // Stored order keeps the view sorted by record number, so the old place is found by halving.
    auto old = sortColumn_ < 0 ? std::lower_bound(view_.begin(), view_.end(), rec)
                               : std::find(view_.begin(), view_.end(), rec);
    if (old != view_.end() && *old == rec) view_.erase(old);
    if (!passes(rec)) return -1;
    auto at = std::lower_bound(view_.begin(), view_.end(), rec, [this, how = scanSpec()](RowId a, RowId b) {
        return store_->before(a, b, how);
    });
    at = view_.insert(at, rec);
    return int(at - view_.begin());
}

void Table::removeRow(size_t row) {
    store_->setDeleted(recAt(row), true);
    if (paged_) return rebuildView();
    materialize();
    view_.erase(view_.begin() + ptrdiff_t(row));
}

void Table::fillMasterFields() {
    if (detailColumn_ < 0) return;
    Variant mv = masterValue();
    if (mv.isNull()) return;
    for (Field* f : fields())
        if (f->column() == detailColumn_ && !f->isLookup()) {
            setCurrentValue(f, mv);
            return;
        }
}

bool Table::keyColumns(const std::vector<const Field*>& keys, std::vector<int>& cols,
                       std::vector<FieldKind>& kinds) const {
    cols.clear();
    kinds.clear();
    bool stored = true;
    for (const Field* k : keys) {
        stored = stored && !k->isLookup() && k->column() >= 0;
        cols.push_back(k->isLookup() ? -1 : k->column());
        kinds.push_back(k->kind());
    }
    return stored;
}

int Table::locateFast(const std::vector<const Field*>& keys, const std::vector<Variant>& values) const {
    if (viewSize() < kIndexedFrom) return -2;
    std::vector<int> cols;
    std::vector<FieldKind> kinds;
    if (!keyColumns(keys, cols, kinds)) return -2;
    std::vector<RowId> found;
    int ready = store_->candidates(cols, values, found);
    if (ready < 0) return ready;
    int best = -1;
    for (RowId rec : found) {
        int row = rowOf(rec);
        if (row < 0) continue;
        if (best >= 0 && row > best) continue;
        bool all = true;
        for (size_t k = 0; k < keys.size() && all; ++k)
            all = readStored(size_t(row), keys[k]).sameAs(values[k]);
        if (all) {
            best = row;
            if (sortColumn_ < 0) break; // candidates ascend, so the first hit is the first row
        }
    }
    return best;
}

int64_t Table::findStored(const QString& keyFields, const std::vector<Variant>& values) const {
    requireActive();
    const std::vector<const Field*> keys = keyFieldsOf(keyFields, values);
    std::vector<int> cols;
    std::vector<FieldKind> kinds;
    keyColumns(keys, cols, kinds); // a lookup field reads as null from the store
    return store_->find(cols, kinds, values);
}

Variant Table::storedValue(RowId rec, const Field* f) const {
    if (!active() || !store_->contains(rec))
        throw DatabaseError(QStringLiteral("Record %1 not found").arg(rec));
    return store_->read(rec, f->column(), f->kind());
}

bool Table::storedHolds(RowId rec, const QString& keyFields, const std::vector<Variant>& values) {
    requireActive();
    const std::vector<const Field*> keys = keyFieldsOf(keyFields, values);
    store_->refresh();
    if (const QString why = store_->detachedReason(); !why.isEmpty())
        throw DatabaseError(
            QStringLiteral("Table %1 %2; close the window and open it again").arg(tableName_, why));
    if (!store_->contains(rec)) return false;
    store_->reloadRow(rec);
    if (!store_->passes(rec, ScanSpec{})) return false; // marked deleted
    for (size_t k = 0; k < keys.size(); ++k)
        if (!store_->read(rec, keys[k]->column(), keys[k]->kind()).sameAs(values[k])) return false;
    return true;
}

int64_t Table::beginStoredWrite() {
    requireActive();
    if (!canModify()) throw InvalidOperation(QStringLiteral("Cannot modify a read-only dataset"));
    if (!store_->writable()) throwReadOnly(*store_, tableName_);
    checkBrowseMode();
    return recNo() >= 0 ? int64_t(recAt(size_t(recNo()))) : -1;
}

void Table::writeStored(RowId rec, Field* f, const Variant& v) {
    if (active() && !store_->contains(rec))
        throw DatabaseError(QStringLiteral("Record %1 not found").arg(rec));
    const int64_t cursor = beginStoredWrite();
    const qsizetype at = fields().indexOf(f);
    if (at < 0 || f->isLookup()) throw DatabaseError(QStringLiteral("Field not found in %1").arg(tableName_));
    std::vector<Variant> buffer(size_t(fields().size()));
    buffer[size_t(at)] = f->convert(v); // the field's one rule, as for any other write
    // Only this field is written; the others keep what is stored, whatever it is.
    store_->write(rec, columnValues(buffer, f));
    storedWritten({rec}, cursor);
}

std::vector<ColumnValue> Table::appendedValues(const std::vector<Variant>& values) const {
    std::vector<Variant> buffer;
    qsizetype i = 0;
    for (const Field* g : fields()) {
        buffer.push_back(!g->isLookup() && size_t(i) < values.size() ? g->convert(values[size_t(i)])
                                                                     : Variant());
        if (!g->isLookup()) ++i;
    }
    return columnValues(buffer);
}

RowId Table::appendStored(const std::vector<Variant>& values) {
    const int64_t cursor = beginStoredWrite();
    const RowId rec = store_->append(appendedValues(values));
    storedWritten({rec}, cursor);
    return rec;
}

RowId Table::findOrAppendStored(const QString& keyFields, const std::vector<Variant>& key,
                                const std::vector<Variant>& values, bool* made) {
    std::vector<bool> appended;
    const RowId rec = findOrAppendStoredMany(keyFields, {key}, {values}, &appended).front();
    if (made) *made = appended.front();
    return rec;
}

std::vector<RowId> Table::findOrAppendStoredMany(const QString& keyFields,
                                                 const std::vector<std::vector<Variant>>& keys,
                                                 const std::vector<std::vector<Variant>>& values,
                                                 std::vector<bool>* made) {
    requireActive();
    std::vector<RowId> recs(keys.size());
    std::vector<bool> appended(keys.size(), false);
    store_->underAppendLock([&] {
        std::vector<size_t> missing; // the first of each key not stored yet
        std::vector<size_t> slot(keys.size(), SIZE_MAX);
        auto sameKey = [&](size_t a, size_t b) {
            for (size_t k = 0; k < keys[a].size(); ++k)
                if (!keys[a][k].sameAs(keys[b][k])) return false;
            return true;
        };
        for (size_t i = 0; i < keys.size(); ++i) {
            if (const int64_t found = findStored(keyFields, keys[i]); found >= 0) {
                recs[i] = RowId(found);
                continue;
            }
            // A key twice in the group is made once, by its first entry.
            for (size_t m = 0; m < missing.size() && slot[i] == SIZE_MAX; ++m)
                if (sameKey(missing[m], i)) slot[i] = m;
            if (slot[i] == SIZE_MAX) {
                slot[i] = missing.size();
                missing.push_back(i);
                appended[i] = true;
            }
        }
        if (missing.empty()) return;
        const int64_t cursor = beginStoredWrite();
        std::vector<std::vector<ColumnValue>> rows;
        for (size_t i : missing)
            rows.push_back(appendedValues(values[i]));
        const std::vector<RowId> stored = store_->appendMany(rows);
        for (size_t i = 0; i < keys.size(); ++i)
            if (slot[i] != SIZE_MAX) recs[i] = stored[slot[i]];
        storedWritten(stored, cursor);
    });
    if (made) *made = appended;
    return recs;
}

void Table::storedWritten(const std::vector<RowId>& recs, int64_t cursorRec) {
    // A view built before another program cut the file may hold records that are gone.
    if (store_->cuts() != cutsSeen_) rebuildView();
    for (RowId rec : recs)
        placeInView(rec);
    const int row = cursorRec >= 0 ? rowOf(uint32_t(cursorRec)) : -1;
    if (row < 0 || row != recNo()) {
        // The cursor's record moved within the view or left it: stay on it, else go to the first.
        resetCursor();
        if (row > 0) moveBy(row);
    }
    emit dataSetChanged();
}

} // namespace db
