#include "Table.h"

#include "../Errors.h"
#include "Aliases.h"
#include "dbf/DbfFile.h"
#include "dbf/KeyIndex.h"
#include "dbf/Os.h"

#include <cerrno>

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>

namespace db {

namespace {

// Says why: a tag the engine cannot keep names itself and the remedy.
QString readOnlyMessage(const dbf::DbfFile& file, const QString& table) {
    const QString why = QString::fromStdString(file.readOnlyReason());
    return why.isEmpty() ? QStringLiteral("Table %1 is read-only").arg(table)
                         : QStringLiteral("Table %1 is read-only: %2").arg(table, why);
}
FieldKind kindFor(const dbf::FieldDef& d) {
    switch (d.type) {
    case 'C':
        return FieldKind::String;
    case 'D':
        return FieldKind::Date;
    case 'L':
        return FieldKind::Boolean;
    case 'M':
        return FieldKind::Memo;
    case 'F':
        return FieldKind::Float;
    default:
        if (d.decimals > 0 || d.length > 9) return FieldKind::Float;
        return d.length <= 6 ? FieldKind::Smallint : FieldKind::Integer; // N(6,0) is how smallint is stored
    }
}
bool numericType(char t) {
    return t == 'N' || t == 'F';
}
// Below this many records a plain scan is as quick as the key index.
constexpr uint32_t kIndexedFrom = 2048;
} // namespace

Table::Table(QObject* parent) : Dataset(parent) {}

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
        throw DatabaseError(QStringLiteral("Cannot open table %1: %2")
                                .arg(QDir::toNativeSeparators(d.filePath(name)),
                                     QString::fromStdString(dbf::os::reason(err))));
    if (!QFileInfo(dir).isReadable())
        throw DatabaseError(QStringLiteral("Cannot open table %1: cannot list directory %2: %3")
                                .arg(QDir::toNativeSeparators(d.filePath(name)),
                                     QDir::toNativeSeparators(dir),
                                     QString::fromStdString(dbf::os::reason(EACCES))));
    QString via = databaseName_.isEmpty() ? QString() : QStringLiteral(" (alias %1)").arg(databaseName_);
    throw DatabaseError(
        QStringLiteral("Table %1 not found in %2%3").arg(name, QDir::toNativeSeparators(dir), via));
}

void Table::doOpen() {
    file_ = dbf::DbfFile::openShared(filePath().toStdString(), readOnly_);
    try {
        if (fields().isEmpty() || defaultFields_) {
            clearFields();
            for (const auto& d : file_->fields()) {
                QString name = QString::fromStdString(d.name);
                auto* f =
                    new Field(this, objectName() + name, name, kindFor(d), d.type == 'C' ? d.length : 0);
                Dataset::addField(f);
            }
            defaultFields_ = true;
        }
        for (Field* f : fields()) {
            if (f->isLookup()) continue;
            int c = file_->fieldIndex(f->fieldName().toStdString());
            if (c < 0)
                throw DatabaseError(QStringLiteral("%1: Field '%2' not found in %3")
                                        .arg(objectName(), f->fieldName(), tableName_));
            f->setColumn(c);
        }
        sortColumn_ = -1;
        if (!indexName_.isEmpty()) {
            sortColumn_ = file_->fieldIndex(indexName_.toStdString());
            if (sortColumn_ < 0)
                throw DatabaseError(
                    QStringLiteral("Index tag '%1' not found for %2").arg(indexName_, tableName_));
        }
        detailColumn_ = master_ ? sortColumn_ : -1;
        keyColumns_.clear();
        for (const QString& name : keyIndexFields_.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            int c = file_->fieldIndex(name.trimmed().toStdString());
            if (c < 0)
                throw DatabaseError(QStringLiteral("Key field '%1' not found in %2").arg(name, tableName_));
            keyColumns_.push_back(c);
        }
        numberColumn_ = numberField_.isEmpty() ? -1 : file_->fieldIndex(numberField_.toStdString());
        numberScopeColumn_ = numberScope_.isEmpty() ? -1 : file_->fieldIndex(numberScope_.toStdString());
        if ((!numberField_.isEmpty() && numberColumn_ < 0) ||
            (!numberScope_.isEmpty() && numberScopeColumn_ < 0))
            throw DatabaseError(
                QStringLiteral("Number field '%1' not found in %2").arg(numberField_, tableName_));
        if (master_ && detailColumn_ < 0)
            throw DatabaseError(QStringLiteral("%1: a detail table needs an index tag").arg(objectName()));
        compileFilter(filter()); // the text was only checked for syntax while closed
        rebuildView();
    } catch (...) {
        file_.reset();
        view_.clear();
        identity_ = false;
        throw;
    }
}

void Table::doClose() {
    view_.clear();
    view_.shrink_to_fit();
    identity_ = false;
    file_.reset();
}

void Table::compileFilter(const QString& text) {
    FilterExpr e = FilterExpr::parse(text);
    if (file_) e.bind(*file_);
    filterExpr_ = std::move(e);
}

Variant Table::masterValue() const {
    Dataset* m = master_ ? master_->dataSet() : nullptr;
    if (!m || !m->active()) return {};
    Field* f = m->findField(masterField_);
    return f ? f->value() : Variant();
}

bool Table::passes(uint32_t rec) const {
    if (file_->isDeleted(rec)) return false;
    if (detailColumn_ >= 0 && master_ && master_->dataSet() && master_->dataSet()->active()) {
        double v;
        if (masterKeyNull_ || !file_->readNumber(rec, detailColumn_, v) || v != masterKey_) return false;
    }
    if (filtered() && !filterExpr_.empty() && !filterExpr_.matches(*file_, rec)) return false;
    return true;
}

double Table::sortKey(uint32_t rec) const {
    double v;
    if (!file_->readNumber(rec, sortColumn_, v)) return -HUGE_VAL;
    return v;
}

bool Table::inOrder(uint32_t a, uint32_t b) const {
    if (sortColumn_ < 0) return a < b;
    double ka = sortKey(a), kb = sortKey(b);
    return ka < kb || (ka == kb && a < b);
}

void Table::rebuildView() {
    file_->refresh();
    cutsSeen_ = file_->cuts();
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
    view_.clear();
    identity_ = false;
    uint32_t n = file_->recordCount();
    std::vector<int> cols;
    std::vector<double> vals;
    if (n >= kIndexedFrom && filtered() && filterExpr_.equalityTerms(cols, vals)) {
        // "A=1 and B=2" over a big table: take the candidates from the key index, then check them.
        std::vector<dbf::KeyIndex::Part> parts(vals.size());
        for (size_t i = 0; i < vals.size(); ++i) {
            parts[i].isNumber = true;
            parts[i].number = vals[i];
        }
        for (uint32_t r : indexCandidates(cols, parts))
            if (passes(r)) view_.push_back(r);
    } else {
        bool plain = detailColumn_ < 0 && (!filtered() || filterExpr_.empty());
        if (plain) {
            uint32_t r = 0;
            while (r < n && !file_->isDeleted(r))
                ++r;
            if (r == n && sortColumn_ < 0) {
                identity_ = true;
                identityCount_ = n;
                view_.shrink_to_fit();
                return;
            }
            view_.reserve(n);
        }
        for (uint32_t r = 0; r < n; ++r)
            if (passes(r)) view_.push_back(r);
    }
    if (sortColumn_ >= 0 && orderByTag()) return;
    if (sortColumn_ >= 0) {
        std::vector<std::pair<double, uint32_t>> keyed;
        keyed.reserve(view_.size());
        for (uint32_t r : view_)
            keyed.emplace_back(sortKey(r), r);
        std::sort(keyed.begin(), keyed.end());
        for (size_t i = 0; i < keyed.size(); ++i)
            view_[i] = keyed[i].second;
    }
}

bool Table::orderByTag() {
    // The selected tag of the production index gives the order, as it does for every other
    // program on the folder; without one the same order is sorted here.
    std::vector<uint32_t> order;
    if (!file_->tagOrder(indexName_.toStdString(), order)) return false;
    std::vector<char> shown(file_->recordCount(), 0);
    for (uint32_t r : view_)
        shown[r] = 1;
    std::vector<uint32_t> sorted;
    sorted.reserve(view_.size());
    for (uint32_t r : order)
        if (r < shown.size() && shown[r]) sorted.push_back(r);
    if (sorted.size() != view_.size()) return false; // a tag that leaves rows out cannot order them all
    view_ = std::move(sorted);
    return true;
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

void Table::masterMoved() {
    if (!active()) return;
    checkBrowseMode();
    rebuildView();
    resetCursor();
    emit dataSetChanged();
}

Variant Table::readStored(size_t row, const Field* f) const {
    return readRecord(recAt(row), f);
}

Variant Table::readRecord(uint32_t rec, const Field* f) const {
    int c = f->column();
    if (c < 0) return {};
    const dbf::FieldDef& d = file_->fields()[size_t(c)];
    switch (d.type) {
    case 'C':
        return Variant(file_->readString(rec, c));
    case 'D': {
        QDate date = file_->readDate(rec, c);
        return date.isValid() ? Variant(date) : Variant();
    }
    case 'L': {
        int b = file_->readLogical(rec, c);
        return b < 0 ? Variant() : Variant(b == 1);
    }
    case 'M':
        return Variant(file_->readMemo(rec, c));
    default: {
        double v;
        if (!file_->readNumber(rec, c, v)) return {};
        if (f->kind() == FieldKind::Float || f->kind() == FieldKind::String) return Variant(v);
        return Variant(roundHalfEven(v));
    }
    }
}

std::string Table::encodeRecord(const std::vector<Variant>& buffer, uint32_t rec, bool inserting,
                                const Field* only) const {
    std::string bytes =
        inserting ? file_->blankRecord() : std::string(file_->record(rec), file_->recordLength());
    struct PendingMemo {
        int column;
        std::string text;
        uint32_t oldBlock;
    };
    std::vector<PendingMemo> memos;
    const auto& fl = fields();
    for (qsizetype i = 0; i < fl.size(); ++i) {
        const Field* f = fl[i];
        int c = f->column();
        if (f->isLookup() || c < 0 || (only && f != only)) continue;
        const dbf::FieldDef& d = file_->fields()[size_t(c)];
        const Variant& v = buffer[size_t(i)];
        std::string text;
        switch (d.type) {
        case 'C': {
            QString badChar;
            if (!dbf::encode(v.toString(), file_->codePage(), text, &badChar))
                throw DatabaseError(
                    QStringLiteral("Field '%1' cannot hold the character '%2'").arg(f->fieldName(), badChar));
            text.resize(d.length, ' ');
            break;
        }
        case 'D':
            text = dbf::DbfFile::formatDate(v.isNull() ? QDate() : v.toDate());
            break;
        case 'L':
            text = v.isNull() ? " " : (v.toBool() ? "T" : "F");
            break;
        case 'M': {
            uint32_t old = inserting ? 0 : file_->memoBlock(rec, c);
            QString s = v.toString();
            if (!inserting && s == file_->readMemo(rec, c)) continue; // unchanged: keep the block
            std::string enc;
            QString badChar;
            if (!dbf::encode(s, file_->codePage(), enc, &badChar))
                throw DatabaseError(
                    QStringLiteral("Field '%1' cannot hold the character '%2'").arg(f->fieldName(), badChar));
            memos.push_back({c, std::move(enc), old});
            continue;
        }
        default:
            if (v.isNull())
                text.assign(d.length, ' ');
            else
                text = file_->formatNumber(c, v.toDouble());
        }
        bytes.replace(1 + d.offset, d.length, text);
    }
    // Memo texts go to the memo file only once every other value is known to fit.
    for (auto& m : memos) {
        const dbf::FieldDef& d = file_->fields()[size_t(m.column)];
        std::string text(d.length, ' ');
        if (!m.text.empty()) {
            uint32_t block = file_->writeMemo(m.text, m.oldBlock);
            std::string num = std::to_string(block);
            text.replace(d.length - num.size(), num.size(), num);
        }
        bytes.replace(1 + d.offset, d.length, text);
    }
    return bytes;
}

void Table::giveFreeNumber(std::string& record, uint32_t count) const {
    auto fieldText = [&](int c) {
        const dbf::FieldDef& d = file_->fields()[size_t(c)];
        return std::string_view(record).substr(1 + d.offset, d.length);
    };
    double mine = 0, scope = 0;
    if (!dbf::parseNumber(fieldText(numberColumn_), mine)) return; // no number to keep unique
    const bool scoped = numberScopeColumn_ >= 0;
    if (scoped && !dbf::parseNumber(fieldText(numberScopeColumn_), scope)) return;
    bool taken = false;
    double top = 0;
    for (uint32_t r = 0; r < count; ++r) {
        if (file_->isDeleted(r)) continue;
        double v = 0, s = 0;
        if (scoped && (!file_->readNumber(r, numberScopeColumn_, s) || s != scope)) continue;
        if (!file_->readNumber(r, numberColumn_, v)) continue;
        taken = taken || v == mine;
        top = std::max(top, v);
    }
    if (!taken) return;
    const dbf::FieldDef& d = file_->fields()[size_t(numberColumn_)];
    record.replace(1 + d.offset, d.length, file_->formatNumber(numberColumn_, top + 1));
}

void Table::lockRow(size_t row) {
    const uint32_t rec = recAt(row);
    if (!file_->lockRecord(rec)) throw DatabaseError(QString::fromLatin1(dbf::kRecordLocked));
    editLock_ = rec;
    try {
        file_->reloadRecord(rec); // the edit starts from what is stored now
    } catch (...) {
        unlockRow();
        if (file_->cuts() != cutsSeen_) noticeStoredChanges();
        throw;
    }
}

void Table::noticeStoredChanges() {
    // A look costs a stat; a loop of moves looks at most every 20 ms.
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
    if (file_->cuts() == cutsSeen_) {
        if (now - lastLook_ < 20) return;
        lastLook_ = now;
        file_->refresh();
        if (file_->cuts() == cutsSeen_) return;
    }
    rebuildView();
    resetCursor();
    emit dataSetChanged();
    if (file_->detached())
        throw DatabaseError(QStringLiteral("Table %1 %2; close the window and open it again")
                                .arg(tableName_, QString::fromStdString(file_->detachedReason())));
    throw DatabaseError(QStringLiteral("Table %1 was changed by another program: records were removed. The "
                                       "view now shows what is stored")
                            .arg(tableName_));
}

void Table::unlockRow() {
    if (editLock_ >= 0 && file_) file_->unlockRecord(uint32_t(editLock_));
    editLock_ = -1;
}

void Table::storeRecord(const std::function<void()>& write) {
    // Memo texts a failed record write leaves behind would change the memo file for nothing.
    file_->beginMemoWrites();
    try {
        write();
    } catch (...) {
        file_->undoMemoWrites();
        throw;
    }
    file_->endMemoWrites();
}

int Table::writeBuffer(const std::vector<Variant>& buffer, bool inserting, size_t row) {
    if (!file_->writable()) throw DatabaseError(readOnlyMessage(*file_, tableName_));
    uint32_t rec = inserting ? 0 : recAt(row);
    storeRecord([&] {
        std::string bytes = encodeRecord(buffer, rec, inserting);
        if (inserting && numberColumn_ >= 0)
            rec = file_->appendRecord(bytes, [this](std::string& r, uint32_t n) { giveFreeNumber(r, n); });
        else if (inserting)
            rec = file_->appendRecord(bytes);
        else
            file_->writeRecord(rec, bytes);
    });
    return placeInView(rec);
}

std::vector<uint32_t> Table::indexCandidates(const std::vector<int>& cols,
                                             const std::vector<dbf::KeyIndex::Part>& parts) const {
    auto inside = [&](const std::vector<int>& ixCols) {
        return std::all_of(ixCols.begin(), ixCols.end(),
                           [&](int c) { return std::find(cols.begin(), cols.end(), c) != cols.end(); });
    };
    // The declared key, else an index built earlier over some of these fields, else a new one.
    std::vector<int> use = cols;
    if (!keyColumns_.empty() && inside(keyColumns_))
        use = keyColumns_;
    else if (const dbf::KeyIndex* ix = file_->indexWithin(cols))
        use = ix->columns();
    std::vector<dbf::KeyIndex::Part> ordered;
    for (int c : use)
        ordered.push_back(parts[size_t(std::find(cols.begin(), cols.end(), c) - cols.begin())]);
    return file_->keyIndex(use).candidates(dbf::KeyIndex::hashParts(ordered));
}

int Table::rowOf(uint32_t rec) const {
    if (identity_) return rec < identityCount_ ? int(rec) : -1;
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
}

int Table::placeInView(uint32_t rec) {
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
    auto at = std::lower_bound(view_.begin(), view_.end(), rec,
                               [this](uint32_t a, uint32_t b) { return inOrder(a, b); });
    at = view_.insert(at, rec);
    return int(at - view_.begin());
}

void Table::removeRow(size_t row) {
    file_->setDeleted(recAt(row), true);
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

int Table::keyParts(const std::vector<const Field*>& keys, const std::vector<Variant>& values,
                    std::vector<int>& cols, std::vector<dbf::KeyIndex::Part>& parts,
                    std::vector<std::string>& texts) const {
    cols.clear();
    texts.assign(keys.size(), std::string());
    parts.assign(keys.size(), dbf::KeyIndex::Part());
    for (size_t k = 0; k < keys.size(); ++k) {
        int c = keys[k]->column();
        if (keys[k]->isLookup() || c < 0) return -2;
        const dbf::FieldDef& d = file_->fields()[size_t(c)];
        const Variant& v = values[k];
        cols.push_back(c);
        auto& p = parts[k];
        if (numericType(d.type)) {
            p.isNumber = true;
            p.isNull = v.isNull();
            if (!p.isNull) {
                try {
                    p.number = v.toDouble();
                } catch (const ConversionError&) {
                    return -1; // text that is no number equals no stored number
                }
            }
        } else if (d.type == 'C') {
            if (!dbf::encode(v.toString(), file_->codePage(), texts[k])) return -1;
            while (!texts[k].empty() && texts[k].back() == ' ')
                texts[k].pop_back();
            p.bytes = texts[k];
        } else if (d.type == 'D' && !v.isNull()) {
            try {
                texts[k] = dbf::DbfFile::formatDate(v.toDate());
            } catch (const ConversionError&) {
                return -1;
            }
            p.bytes = texts[k];
        } else {
            return -2;
        }
    }
    return 1;
}

int Table::locateFast(const std::vector<const Field*>& keys, const std::vector<Variant>& values) const {
    if (viewSize() < kIndexedFrom) return -2;
    std::vector<int> cols;
    std::vector<std::string> texts;
    std::vector<dbf::KeyIndex::Part> parts;
    int ready = keyParts(keys, values, cols, parts, texts);
    if (ready < 0) return ready;
    int best = -1;
    for (uint32_t rec : indexCandidates(cols, parts)) {
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
    auto matches = [&](uint32_t rec) {
        if (file_->isDeleted(rec)) return false;
        for (size_t k = 0; k < keys.size(); ++k)
            if (!readRecord(rec, keys[k]).sameAs(values[k])) return false;
        return true;
    };
    const uint32_t n = file_->recordCount();
    if (n >= kIndexedFrom) {
        std::vector<int> cols;
        std::vector<std::string> texts;
        std::vector<dbf::KeyIndex::Part> parts;
        int ready = keyParts(keys, values, cols, parts, texts);
        if (ready == -1) return -1;
        if (ready == 1) {
            for (uint32_t rec : indexCandidates(cols, parts)) // ascending record numbers
                if (matches(rec)) return rec;
            return -1;
        }
    }
    for (uint32_t rec = 0; rec < n; ++rec)
        if (matches(rec)) return rec;
    return -1;
}

Variant Table::storedValue(uint32_t rec, const Field* f) const {
    if (!active() || rec >= file_->recordCount())
        throw DatabaseError(QStringLiteral("Record %1 not found").arg(rec));
    return readRecord(rec, f);
}

int64_t Table::beginStoredWrite() {
    requireActive();
    if (!canModify()) throw InvalidOperation(QStringLiteral("Cannot modify a read-only dataset"));
    if (!file_->writable()) throw DatabaseError(readOnlyMessage(*file_, tableName_));
    checkBrowseMode();
    return recNo() >= 0 ? int64_t(recAt(size_t(recNo()))) : -1;
}

void Table::writeStored(uint32_t rec, Field* f, const Variant& v) {
    if (active() && rec >= file_->recordCount())
        throw DatabaseError(QStringLiteral("Record %1 not found").arg(rec));
    const int64_t cursor = beginStoredWrite();
    const qsizetype at = fields().indexOf(f);
    if (at < 0 || f->isLookup()) throw DatabaseError(QStringLiteral("Field not found in %1").arg(tableName_));
    std::vector<Variant> buffer(size_t(fields().size()));
    buffer[size_t(at)] = f->convert(v); // the field's one rule, as for any other write
    // Only this field is encoded; the others keep their stored bytes, whatever they hold.
    storeRecord([&] { file_->writeRecord(rec, encodeRecord(buffer, rec, false, f)); });
    storedWritten(rec, cursor);
}

uint32_t Table::appendStored(const std::vector<Variant>& values) {
    const int64_t cursor = beginStoredWrite();
    std::vector<Variant> buffer;
    qsizetype i = 0;
    for (const Field* g : fields()) {
        buffer.push_back(!g->isLookup() && size_t(i) < values.size() ? g->convert(values[size_t(i)])
                                                                     : Variant());
        if (!g->isLookup()) ++i;
    }
    uint32_t rec = 0;
    storeRecord([&] { rec = file_->appendRecord(encodeRecord(buffer, 0, true)); });
    storedWritten(rec, cursor);
    return rec;
}

uint32_t Table::findOrAppendStored(const QString& keyFields, const std::vector<Variant>& key,
                                   const std::vector<Variant>& values, bool* made) {
    requireActive();
    int64_t rec = -1;
    bool appended = false;
    file_->underAppendLock([&] {
        rec = findStored(keyFields, key);
        if (rec < 0) {
            rec = appendStored(values);
            appended = true;
        }
    });
    if (made) *made = appended;
    return uint32_t(rec);
}

void Table::storedWritten(uint32_t rec, int64_t cursorRec) {
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
