#include "Dataset.h"

#include "../Errors.h"
#include "../Fault.h"

#include <QMetaMethod>
#include <algorithm>

namespace db {

Dataset::Dataset(QObject* parent) : QObject(parent) {}

Dataset::~Dataset() = default;

Field* Dataset::findField(const QString& name) const {
    for (Field* f : fields_)
        if (f->fieldName().compare(name, Qt::CaseInsensitive) == 0) return f;
    return nullptr;
}

Field* Dataset::fieldByName(const QString& name) const {
    if (Field* f = findField(name)) return f;
    QString owner = objectName().isEmpty() ? QString() : objectName() + QStringLiteral(": ");
    throw DatabaseError(owner + QStringLiteral("Field '%1' not found").arg(name));
}

void Dataset::clearFields() {
    qDeleteAll(fields_);
    fields_.clear();
}

void Dataset::requireActive() const {
    if (!active())
        throw InvalidOperation(QStringLiteral("Cannot perform this operation on a closed dataset"));
    settle();
}

void Dataset::settleNow() {
    // Nobody has seen the cursor yet: it goes to the first row without a signal. A view that
    // cannot be read stays empty, and the reader is told once.
    viewPending_ = false;
    pos_ = -1;
    eof_ = bof_ = true;
    settleView();
    pos_ = viewSize() > 0 ? 0 : -1;
    eof_ = viewSize() == 0;
}

void Dataset::setState(DataSetState s) {
    if (state_ == s) return;
    state_ = s;
    emit stateChanged();
}

void Dataset::open() {
    if (active()) return;
    viewPending_ = false;
    doOpen();
    state_ = DataSetState::Browse;
    emit stateChanged();
    if (viewPending_) {
        pos_ = -1;
        eof_ = bof_ = true;
        emit scrolled();
    } else {
        resetCursor();
    }
    emit dataSetChanged();
}

void Dataset::close() {
    if (!active()) return;
    buffer_.clear();
    modified_ = false;
    unlockRow();
    doClose();
    viewPending_ = false;
    state_ = DataSetState::Inactive;
    pos_ = -1;
    eof_ = bof_ = true;
    emit stateChanged();
    emit dataSetChanged();
}

void Dataset::resetCursor() {
    pos_ = viewSize() > 0 ? 0 : -1;
    bof_ = true;
    eof_ = viewSize() == 0;
    emit scrolled();
}

void Dataset::goTo(int pos) {
    if (pos_ == pos) return;
    pos_ = pos;
    if (scrollWatchers_.load(std::memory_order_relaxed) > 0) emit scrolled();
}

void Dataset::connectNotify(const QMetaMethod& signal) {
    if (signal == QMetaMethod::fromSignal(&Dataset::scrolled)) scrollWatchers_.fetch_add(1);
}

void Dataset::disconnectNotify(const QMetaMethod& signal) {
    if (signal == QMetaMethod::fromSignal(&Dataset::scrolled)) scrollWatchers_.fetch_sub(1);
}

void Dataset::first() {
    requireActive();
    checkBrowseMode();
    noticeStoredChanges();
    goTo(viewSize() ? 0 : -1);
    bof_ = true;
    eof_ = viewSize() == 0;
}

void Dataset::last() {
    requireActive();
    checkBrowseMode();
    noticeStoredChanges();
    goTo(int(viewSize()) - 1);
    eof_ = true;
    bof_ = viewSize() == 0;
}

void Dataset::next() {
    requireActive();
    checkBrowseMode();
    noticeStoredChanges();
    if (pos_ + 1 < int(viewSize())) {
        goTo(pos_ + 1);
        eof_ = bof_ = false;
    } else {
        eof_ = true;
    }
}

void Dataset::prior() {
    requireActive();
    checkBrowseMode();
    noticeStoredChanges();
    if (pos_ > 0) {
        goTo(pos_ - 1);
        eof_ = bof_ = false;
    } else {
        bof_ = true;
    }
}

int Dataset::moveBy(int n) {
    requireActive();
    checkBrowseMode();
    noticeStoredChanges();
    int size = int(viewSize());
    if (size == 0 || n == 0) {
        eof_ = eof_ || size == 0;
        return 0;
    }
    int target = std::clamp(pos_ + n, 0, size - 1);
    int moved = target - pos_;
    eof_ = n > 0 && pos_ + n > size - 1;
    bof_ = n < 0 && pos_ + n < 0;
    goTo(target);
    return moved;
}

std::vector<const Field*> Dataset::keyFieldsOf(const QString& keyFields,
                                               const std::vector<Variant>& values) const {
    std::vector<const Field*> keys;
    for (const QString& name : keyFields.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        keys.push_back(fieldByName(name.trimmed()));
    if (keys.empty() || keys.size() != values.size())
        throw DatabaseError(
            QStringLiteral("Locate needs one value for each of the fields '%1'").arg(keyFields));
    return keys;
}

bool Dataset::locate(const QString& keyFields, const std::vector<Variant>& values) {
    requireActive();
    checkBrowseMode();
    const std::vector<const Field*> keys = keyFieldsOf(keyFields, values);
    int found = locateFast(keys, values);
    if (found == -2) {
        found = -1;
        for (size_t row = 0, n = viewSize(); row < n && found < 0; ++row) {
            bool all = true;
            for (size_t k = 0; k < keys.size() && all; ++k)
                all = readStored(row, keys[k]).sameAs(values[k]);
            if (all) found = int(row);
        }
    }
    if (found < 0) return false;
    goTo(found);
    eof_ = bof_ = false;
    return true;
}

void Dataset::requireEditing() const {
    if (state_ != DataSetState::Edit && state_ != DataSetState::Insert)
        throw InvalidOperation(QStringLiteral("Dataset not in edit or insert mode"));
}

void Dataset::edit() {
    requireActive();
    if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) return;
    if (viewSize() == 0) {
        insert();
        return;
    }
    if (!canModify()) throw InvalidOperation(QStringLiteral("Cannot modify a read-only dataset"));
    lockRow(size_t(pos_));
    try {
        // Read under the lock: the edit starts from what is stored now.
        buffer_.assign(size_t(fields_.size()), Variant());
        for (qsizetype i = 0; i < fields_.size(); ++i) {
            if (fields_[i]->isLookup()) continue;
            try {
                buffer_[size_t(i)] = readStored(size_t(pos_), fields_[i]);
            } catch (const DatabaseError& e) {
                // A memo text that cannot be read starts empty: what the user types replaces it
                // (reading it for display has said so already).
                if (faultOf(e).fault != Fault::MemoDamaged) throw;
            }
        }
    } catch (...) {
        unlockRow();
        throw;
    }
    modified_ = false;
    setState(DataSetState::Edit);
}

void Dataset::beginNew(int insertPos) {
    requireActive();
    checkBrowseMode();
    if (!canModify()) throw InvalidOperation(QStringLiteral("Cannot modify a read-only dataset"));
    savedPos_ = pos_;
    buffer_.assign(size_t(fields_.size()), Variant());
    modified_ = false;
    pos_ = insertPos;
    eof_ = bof_ = false;
    state_ = DataSetState::Insert;
    emit stateChanged();
    emit dataSetChanged();
    fillMasterFields();
    if (onNewRecord) onNewRecord(*this);
    // Values filled in by the link and the handler alone do not make the row worth keeping.
    modified_ = false;
}

void Dataset::insert() {
    beginNew(std::max(pos_, 0));
}

void Dataset::append() {
    requireActive();
    checkBrowseMode();
    beginNew(int(viewSize()));
}

void Dataset::post() {
    requireActive();
    if (state_ != DataSetState::Edit && state_ != DataSetState::Insert) return;
    updateRecord();
    postBuffer();
}

void Dataset::postBuffer() {
    bool inserting = state_ == DataSetState::Insert;
    int newPos = writeBuffer(buffer_, inserting, size_t(std::max(pos_, 0)));
    unlockRow();
    buffer_.clear();
    modified_ = false;
    state_ = DataSetState::Browse;
    int size = int(viewSize());
    pos_ = newPos >= 0 ? newPos : std::min(std::max(pos_, 0), size - 1);
    eof_ = size == 0;
    bof_ = size == 0;
    emit stateChanged();
    emit dataSetChanged();
    emit scrolled();
}

void Dataset::cancel() {
    if (state_ != DataSetState::Edit && state_ != DataSetState::Insert) return;
    bool inserting = state_ == DataSetState::Insert;
    unlockRow();
    buffer_.clear();
    modified_ = false;
    state_ = DataSetState::Browse;
    if (inserting) {
        int size = int(viewSize());
        pos_ = size == 0 ? -1 : std::clamp(savedPos_, 0, size - 1);
        eof_ = bof_ = size == 0;
    }
    emit stateChanged();
    emit dataSetChanged();
    emit scrolled();
}

void Dataset::deleteRecord() {
    requireActive();
    if (state_ == DataSetState::Insert) {
        cancel();
        return;
    }
    if (viewSize() == 0)
        throw InvalidOperation(QStringLiteral("Cannot perform this operation on an empty dataset"));
    if (!canModify()) throw InvalidOperation(QStringLiteral("Cannot modify a read-only dataset"));
    if (state_ == DataSetState::Edit) {
        buffer_.clear();
        modified_ = false;
        state_ = DataSetState::Browse;
        emit stateChanged();
    }
    try {
        removeRow(size_t(pos_));
    } catch (...) {
        unlockRow();
        throw;
    }
    unlockRow();
    int size = int(viewSize());
    pos_ = size == 0 ? -1 : std::min(pos_, size - 1);
    eof_ = bof_ = size == 0;
    emit dataSetChanged();
    emit scrolled();
}

void Dataset::setFields(const std::vector<Variant>& values) {
    edit();
    size_t i = 0;
    for (Field* f : fields_) {
        if (f->isLookup()) continue;
        if (i >= values.size()) break;
        setCurrentValue(f, values[i++]);
    }
}

void Dataset::checkBrowseMode() {
    if (state_ != DataSetState::Edit && state_ != DataSetState::Insert) return;
    updateRecord();
    if (modified_)
        postBuffer(); // the typed text is in the buffer already
    else
        cancel();
}

void Dataset::setFilter(const QString& text) {
    if (active()) checkBrowseMode();
    compileFilter(text); // throws for a bad text; the old filter stays
    filterText_ = text;
    if (active() && filtered_) {
        rebuildView();
        resetCursor();
        emit dataSetChanged();
    }
}

void Dataset::setFiltered(bool on) {
    if (active()) checkBrowseMode();
    filtered_ = on;
    if (active()) {
        rebuildView();
        resetCursor();
        emit dataSetChanged();
    }
}

void Dataset::filterBy(const QString& text) {
    if (active()) checkBrowseMode();
    try {
        compileFilter(text);
    } catch (...) {
        setFiltered(false);
        throw;
    }
    filterText_ = text;
    setFiltered(true);
}

Variant Dataset::currentValueSlow(const Field* f) const {
    settle();
    // The common case first: browsing, a stored field. The cursor is always inside the view.
    if (state_ == DataSetState::Browse && !f->isLookup())
        return pos_ < 0 ? Variant() : readStored(size_t(pos_), f);
    if (!active()) return {};
    if (f->isLookup()) {
        Field* key = findField(f->keyField());
        if (!key || !f->lookupDataSet()) return {};
        return f->convert(
            f->lookupDataSet()->lookup(f->lookupKeyField(), key->value(), f->lookupResultField()));
    }
    if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) {
        qsizetype i = fields_.indexOf(const_cast<Field*>(f));
        return i >= 0 && size_t(i) < buffer_.size() ? buffer_[size_t(i)] : Variant();
    }
    if (pos_ < 0 || size_t(pos_) >= viewSize()) return {};
    return readStored(size_t(pos_), f);
}

void Dataset::setCurrentValue(Field* f, const Variant& v) {
    requireActive();
    requireEditing();
    if (f->isLookup())
        throw InvalidOperation(QStringLiteral("Field '%1' cannot be modified").arg(f->fieldName()));
    Variant converted = f->convert(v);
    qsizetype i = fields_.indexOf(f);
    if (i < 0) throw DatabaseError(QStringLiteral("Field '%1' not found").arg(f->fieldName()));
    buffer_[size_t(i)] = converted;
    modified_ = true;
    emit recordChanged(f);
}

void Dataset::addUpdateHook(QObject* owner, std::function<void()> hook) {
    updateHooks_.emplace_back(owner, std::move(hook));
}

void Dataset::removeUpdateHooks(QObject* owner) {
    std::erase_if(updateHooks_, [owner](const auto& h) { return h.first == owner || h.first.isNull(); });
}

void Dataset::updateRecord() {
    if (state_ != DataSetState::Edit && state_ != DataSetState::Insert) return;
    // A copy: a hook may remove hooks (a control destroyed while writing).
    const auto hooks = updateHooks_;
    for (const auto& [owner, hook] : hooks)
        if (owner) hook();
}

Variant Dataset::valueAt(int row, const Field* f) const {
    if (!active() || row < 0 || row >= rowCount()) return {};
    if (state_ == DataSetState::Insert) {
        // The row being inserted sits at the cursor; stored rows after it shift down by one.
        if (row == pos_) return currentValue(f);
        if (row > pos_) --row;
    } else if (state_ == DataSetState::Edit && row == pos_) {
        return currentValue(f);
    }
    if (f->isLookup()) {
        Field* key = findField(f->keyField());
        if (!key || !f->lookupDataSet()) return {};
        return f->convert(f->lookupDataSet()->lookup(f->lookupKeyField(), readStored(size_t(row), key),
                                                     f->lookupResultField()));
    }
    return readStored(size_t(row), f);
}

Variant Dataset::lookup(const QString& keyField, const Variant& key, const QString& resultField) const {
    if (!active() || key.isNull()) return {};
    settle();
    const Field* k = findField(keyField);
    const Field* r = findField(resultField);
    if (!k || !r) return {};
    for (size_t row = 0, n = viewSize(); row < n; ++row)
        if (readStored(row, k).sameAs(key)) return readStored(row, r);
    return {};
}

DataSource::DataSource(QObject* parent, Dataset* ds) : QObject(parent) {
    setDataSet(ds);
}

void DataSource::setDataSet(Dataset* ds) {
    if (ds == dataset_) return;
    for (auto& c : links_)
        disconnect(c);
    links_.clear();
    dataset_ = ds;
    if (ds) {
        links_ << connect(ds, &Dataset::dataSetChanged, this, &DataSource::dataSetChanged);
        links_ << connect(ds, &Dataset::scrolled, this, &DataSource::scrolled);
        links_ << connect(ds, &Dataset::recordChanged, this, &DataSource::recordChanged);
        links_ << connect(ds, &Dataset::stateChanged, this, &DataSource::stateChanged);
        links_ << connect(ds, &QObject::destroyed, this, [this] {
            emit dataSetChanged();
            emit stateChanged();
        });
    }
    // The controls on this source show another dataset now.
    emit dataSetChanged();
    emit stateChanged();
}

} // namespace db
