#include "DbfStore.h"

#include "../Errors.h"
#include "../Fault.h"
#include "Filter.h"
#include "dbf/DbfFile.h"
#include "dbf/FieldText.h"
#include "dbf/NumberText.h"

#include <algorithm>
#include <cmath>

namespace db {

namespace {
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

DbfStore::DbfStore(const std::string& path, bool readOnly) : file_(dbf::DbfFile::openShared(path, readOnly)) {
    for (const auto& d : file_->fields())
        columns_.push_back({QString::fromStdString(d.name), kindFor(d), d.type == 'C' ? d.length : 0});
}

int DbfStore::columnIndex(const QString& name) const {
    return file_->fieldIndex(name.toStdString());
}

bool DbfStore::writable() const {
    return file_->writable();
}

QString DbfStore::readOnlyReason() const {
    return QString::fromStdString(file_->readOnlyReason());
}

void DbfStore::bindFilter(FilterExpr& e) const {
    e.bind(*file_);
}

void DbfStore::refresh() {
    file_->refresh();
}

uint32_t DbfStore::cuts() const {
    return file_->cuts();
}

QString DbfStore::detachedReason() const {
    return file_->detached() ? QString::fromStdString(file_->detachedReason()) : QString();
}

bool DbfStore::contains(RowId id) const {
    return id < file_->recordCount();
}

bool DbfStore::passes(RowId rec, const ScanSpec& how) const {
    if (file_->isDeleted(rec)) return false;
    if (how.detailColumn >= 0) {
        double v;
        if (how.detailNull || !file_->readNumber(rec, how.detailColumn, v) || v != how.detailKey)
            return false;
    }
    if (how.filter && !how.filter->empty() && !how.filter->matches(*file_, rec)) return false;
    return true;
}

double DbfStore::sortKey(RowId rec, int column) const {
    double v;
    if (!file_->readNumber(rec, column, v)) return -HUGE_VAL;
    return v;
}

bool DbfStore::before(RowId a, RowId b, const ScanSpec& how) const {
    if (how.sortColumn < 0) return a < b;
    double ka = sortKey(a, how.sortColumn), kb = sortKey(b, how.sortColumn);
    return ka < kb || (ka == kb && a < b);
}

void DbfStore::scan(const ScanSpec& how, RowSet& out) {
    std::vector<RowId>& view = out.ids;
    view.clear();
    out.all = false;
    out.allCount = 0;
    uint32_t n = file_->recordCount();
    std::vector<int> cols;
    std::vector<double> vals;
    if (n >= kIndexedFrom && how.filter && how.filter->equalityTerms(cols, vals)) {
        // "A=1 and B=2" over a big table: take the candidates from the key index, then check them.
        std::vector<dbf::KeyIndex::Part> parts(vals.size());
        for (size_t i = 0; i < vals.size(); ++i) {
            parts[i].isNumber = true;
            parts[i].number = vals[i];
        }
        for (RowId r : indexCandidates(cols, parts))
            if (passes(r, how)) view.push_back(r);
    } else {
        bool plain = how.detailColumn < 0 && (!how.filter || how.filter->empty());
        if (plain) {
            uint32_t r = 0;
            while (r < n && !file_->isDeleted(r))
                ++r;
            if (r == n && how.sortColumn < 0) {
                out.all = true;
                out.allCount = n;
                view.shrink_to_fit();
                return;
            }
            view.reserve(n);
        }
        for (uint32_t r = 0; r < n; ++r)
            if (passes(r, how)) view.push_back(r);
    }
    if (how.sortColumn >= 0 && orderByTag(how.tag, view)) return;
    if (how.sortColumn >= 0) {
        std::vector<std::pair<double, RowId>> keyed;
        keyed.reserve(view.size());
        for (RowId r : view)
            keyed.emplace_back(sortKey(r, how.sortColumn), r);
        std::sort(keyed.begin(), keyed.end());
        for (size_t i = 0; i < keyed.size(); ++i)
            view[i] = keyed[i].second;
    }
}

bool DbfStore::orderByTag(const std::string& tag, std::vector<RowId>& view) {
    // The selected tag of the production index gives the order, as it does for every other
    // program on the folder; without one the same order is sorted here.
    std::vector<uint32_t> order;
    if (!file_->tagOrder(tag, order)) return false;
    std::vector<char> shown(file_->recordCount(), 0);
    for (RowId r : view)
        shown[r] = 1;
    std::vector<RowId> sorted;
    sorted.reserve(view.size());
    for (uint32_t r : order)
        if (r < shown.size() && shown[r]) sorted.push_back(r);
    if (sorted.size() != view.size()) return false; // a tag that leaves rows out cannot order them all
    view = std::move(sorted);
    return true;
}

Variant DbfStore::read(RowId rec, int c, FieldKind kind) const {
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
        if (kind == FieldKind::Float || kind == FieldKind::String) return Variant(v);
        return Variant(roundHalfEven(v));
    }
    }
}

namespace {
// Number and date columns, most of every table: parsed in place in the record the file holds,
// since a scan reads millions of them.
const char* fieldOf(const ColumnReader& r, RowId id) {
    return static_cast<const dbf::DbfFile*>(r.source)->record(uint32_t(id)) + r.offset;
}
Variant readWhole(const ColumnReader& r, RowId id) {
    const char* f = fieldOf(r, id);
    if (int64_t whole; dbf::number::parseShortWhole(f, f + r.length, whole)) return Variant(whole);
    double v;
    return dbf::number::parseNumberAt(f, f + r.length, v) ? Variant(roundHalfEven(v)) : Variant();
}
Variant readReal(const ColumnReader& r, RowId id) {
    const char* f = fieldOf(r, id);
    double v;
    return dbf::number::parseNumberAt(f, f + r.length, v) ? Variant(v) : Variant();
}
Variant readDay(const ColumnReader& r, RowId id) {
    const QDate date = dbf::parseDate({fieldOf(r, id), r.length});
    return date.isValid() ? Variant(date) : Variant();
}
} // namespace

ColumnReader DbfStore::reader(int c, FieldKind kind) const {
    ColumnReader r = RecordStore::reader(c, kind);
    if (c >= 0 && numericType(file_->fields()[size_t(c)].type)) {
        r.source = file_.get();
        r.read = kind == FieldKind::Float || kind == FieldKind::String ? &readReal : &readWhole;
    } else if (c >= 0 && file_->fields()[size_t(c)].type == 'D') {
        r.source = file_.get();
        r.read = &readDay;
    }
    if (r.source == file_.get()) { // where the field lies in the records the file holds
        r.offset = 1 + file_->fields()[size_t(c)].offset;
        r.length = file_->fields()[size_t(c)].length;
    }
    return r;
}

int DbfStore::keyParts(const std::vector<int>& cols, const std::vector<Variant>& values,
                       std::vector<dbf::KeyIndex::Part>& parts, std::vector<std::string>& texts) const {
    texts.assign(cols.size(), std::string());
    parts.assign(cols.size(), dbf::KeyIndex::Part());
    for (size_t k = 0; k < cols.size(); ++k) {
        const int c = cols[k];
        if (c < 0) return -2;
        const dbf::FieldDef& d = file_->fields()[size_t(c)];
        const Variant& v = values[k];
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

std::vector<RowId> DbfStore::indexCandidates(const std::vector<int>& cols,
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

int DbfStore::candidates(const std::vector<int>& cols, const std::vector<Variant>& values,
                         std::vector<RowId>& out) const {
    std::vector<std::string> texts;
    std::vector<dbf::KeyIndex::Part> parts;
    const int ready = keyParts(cols, values, parts, texts);
    if (ready == 1) out = indexCandidates(cols, parts);
    return ready;
}

int64_t DbfStore::find(const std::vector<int>& cols, const std::vector<FieldKind>& kinds,
                       const std::vector<Variant>& values) const {
    auto matches = [&](RowId rec) {
        if (file_->isDeleted(rec)) return false;
        for (size_t k = 0; k < cols.size(); ++k)
            if (!read(rec, cols[k], kinds[k]).sameAs(values[k])) return false;
        return true;
    };
    const uint32_t n = file_->recordCount();
    if (n >= kIndexedFrom) {
        std::vector<RowId> found;
        const int ready = candidates(cols, values, found);
        if (ready == -1) return -1;
        if (ready == 1) {
            for (RowId rec : found) // ascending record numbers
                if (matches(rec)) return rec;
            return -1;
        }
    }
    for (RowId rec = 0; rec < n; ++rec)
        if (matches(rec)) return rec;
    return -1;
}

// The memo text as stored; a text that cannot be read counts as one the new value replaces (it
// goes to a new block, and the damaged one is left alone).
std::optional<QString> DbfStore::storedMemo(RowId rec, int column) const {
    try {
        return file_->readMemo(rec, column);
    } catch (const DatabaseError& e) {
        if (faultOf(e).fault != Fault::MemoDamaged) throw;
        return std::nullopt;
    }
}

std::string DbfStore::encodeRecord(const std::vector<ColumnValue>& values, RowId rec, bool inserting) const {
    std::string bytes =
        inserting ? file_->blankRecord() : std::string(file_->record(rec), file_->recordLength());
    struct PendingMemo {
        int column;
        std::string text;
        uint32_t oldBlock;
    };
    std::vector<PendingMemo> memos;
    for (const ColumnValue& cv : values) {
        const int c = cv.column;
        if (c < 0) continue;
        const dbf::FieldDef& d = file_->fields()[size_t(c)];
        const Variant& v = cv.value;
        std::string text;
        switch (d.type) {
        case 'C': {
            QString badChar;
            if (!dbf::encode(v.toString(), file_->codePage(), text, &badChar))
                throw cannotHold(cv.name, badChar);
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
            if (!inserting && s == storedMemo(rec, c)) continue; // unchanged: keep the block
            std::string enc;
            QString badChar;
            if (!dbf::encode(s, file_->codePage(), enc, &badChar)) throw cannotHold(cv.name, badChar);
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

void DbfStore::giveFreeNumber(const NumberRule& rule, std::string& record, uint32_t count) const {
    auto fieldText = [&](int c) {
        const dbf::FieldDef& d = file_->fields()[size_t(c)];
        return std::string_view(record).substr(1 + d.offset, d.length);
    };
    double mine = 0, scope = 0;
    if (!dbf::parseNumber(fieldText(rule.column), mine)) return; // no number to keep unique
    const bool scoped = rule.scopeColumn >= 0;
    if (scoped && !dbf::parseNumber(fieldText(rule.scopeColumn), scope)) return;
    bool taken = false;
    double top = 0;
    for (uint32_t r = 0; r < count; ++r) {
        if (file_->isDeleted(r)) continue;
        double v = 0, s = 0;
        if (scoped && (!file_->readNumber(r, rule.scopeColumn, s) || s != scope)) continue;
        if (!file_->readNumber(r, rule.column, v)) continue;
        taken = taken || v == mine;
        top = std::max(top, v);
    }
    if (!taken) return;
    const dbf::FieldDef& d = file_->fields()[size_t(rule.column)];
    record.replace(1 + d.offset, d.length, file_->formatNumber(rule.column, top + 1));
}

void DbfStore::storeRecord(const std::function<void()>& write) {
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

RowId DbfStore::append(const std::vector<ColumnValue>& values, const NumberRule& rule) {
    RowId rec = 0;
    storeRecord([&] {
        std::string bytes = encodeRecord(values, 0, true);
        if (rule.column >= 0)
            rec = file_->appendRecord(bytes, [&](std::string& r, uint32_t n) { giveFreeNumber(rule, r, n); });
        else
            rec = file_->appendRecord(bytes);
    });
    return rec;
}

std::vector<RowId> DbfStore::appendMany(const std::vector<std::vector<ColumnValue>>& rows) {
    std::vector<RowId> ids;
    storeRecord([&] {
        std::vector<std::string> records;
        for (const auto& row : rows)
            records.push_back(encodeRecord(row, 0, true));
        const RowId first = file_->appendRecords(records);
        for (size_t i = 0; i < rows.size(); ++i)
            ids.push_back(first + RowId(i));
    });
    return ids;
}

void DbfStore::write(RowId rec, const std::vector<ColumnValue>& values) {
    storeRecord([&] { file_->writeRecord(rec, encodeRecord(values, rec, false)); });
}

void DbfStore::setDeleted(RowId rec, bool deleted) {
    file_->setDeleted(rec, deleted);
}

bool DbfStore::lockRow(RowId rec) {
    return file_->lockRecord(rec);
}

void DbfStore::unlockRow(RowId rec) {
    file_->unlockRecord(rec);
}

void DbfStore::reloadRow(RowId rec) {
    file_->reloadRecord(rec);
}

void DbfStore::underAppendLock(const std::function<void()>& fn) {
    file_->underAppendLock(fn);
}

} // namespace db
