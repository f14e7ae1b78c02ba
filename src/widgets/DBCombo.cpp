#include "widgets/DBCombo.h"

#include "widgets/Handler.h"

#include <QKeyEvent>
#include <QSignalBlocker>

namespace ui {

// ---- DBComboBox

DBComboBox::DBComboBox(QWidget* parent) : QComboBox(parent), FieldControl(this) {
    connect(&link_, &FieldLink::dataChanged, this, &DBComboBox::dataChanged);
    connect(&link_, &FieldLink::stateChanged, this, &DBComboBox::dataChanged);
    // activated comes from the user only (popup, keys, wheel), never from our own setCurrentIndex.
    connect(this, &QComboBox::activated, this, &DBComboBox::choose);
}

void DBComboBox::setItems(const QStringList& items) {
    QSignalBlocker block(this);
    clear();
    addItems(items);
    dataChanged();
}

void DBComboBox::dataChanged() {
    const QString t = link_.text();
    const int i = t.isEmpty() ? -1 : findText(t, Qt::MatchExactly | Qt::MatchCaseSensitive);
    // A stored value outside the list is still shown, as the empty box's placeholder.
    setPlaceholderText(i < 0 ? t : QString());
    setCurrentIndex(i);
}

void DBComboBox::choose(int index) {
    const QString t = itemText(index);
    if (index < 0 || t == link_.text() || !link_.canModify()) {
        dataChanged();
        return;
    }
    db::Field* f = link_.field();
    if (!run(this, [&] {
            f->dataSet()->edit();
            f->setAsString(t);
        }))
        dataChanged();
}

// ---- LookupLink

LookupLink::LookupLink(QWidget* control) : control_(control), data_(control) {
    connect(&data_, &FieldLink::dataChanged, this, [this] {
        connectList(); // a lookup data field brings its own dictionary
        emit valueChanged();
        emit recordMoved();
    });
    connect(&data_, &FieldLink::stateChanged, this, [this] {
        connectList();
        emit valueChanged();
    });
}

void LookupLink::setListSource(db::DataSource* source) {
    disconnect(sourceLink_);
    listSource_ = source;
    // The source may be pointed at another dataset, or lose its dataset.
    if (source)
        sourceLink_ = connect(source, &db::DataSource::dataSetChanged, this, &LookupLink::connectList);
    connectList();
}

void LookupLink::setKeyField(const QString& name) {
    keyField_ = name;
    rebuild();
}

void LookupLink::setListField(const QString& name) {
    listField_ = name;
    rebuild();
}

db::Dataset* LookupLink::listDataSet() const {
    return listDs_;
}

db::Field* LookupLink::keyTarget() const {
    db::Field* f = data_.field();
    if (f && f->isLookup()) return f->dataSet()->findField(f->keyField());
    return f;
}

bool LookupLink::canModify() const {
    db::Field* k = keyTarget();
    return k && !k->isLookup() && k->dataSet()->active() && k->dataSet()->canModify();
}

QString LookupLink::listKeyName() const {
    if (!keyField_.isEmpty()) return keyField_;
    db::Field* f = data_.field();
    return f && f->isLookup() ? f->lookupKeyField() : QString();
}

QString LookupLink::listTextName() const {
    if (!listField_.isEmpty()) return listField_;
    db::Field* f = data_.field();
    return f && f->isLookup() ? f->lookupResultField() : QString();
}

void LookupLink::connectList() {
    db::Dataset* ds = nullptr;
    if (listSource_) {
        ds = listSource_->dataSet();
    } else if (db::Field* f = data_.field(); f && f->isLookup()) {
        ds = f->lookupDataSet();
    }
    // The same list, unless its dataset was deleted while its rows are still shown.
    if (ds == listDs_ && (ds || (keys_.empty() && texts_.isEmpty()))) return;
    for (auto& c : listLinks_)
        disconnect(c);
    listLinks_.clear();
    listDs_ = ds;
    if (ds) listLinks_ << connect(ds, &db::Dataset::dataSetChanged, this, &LookupLink::rebuild);
    rebuild();
}

void LookupLink::rebuild() {
    texts_.clear();
    keys_.clear();
    db::Dataset* ds = listDs_;
    if (ds && ds->active()) {
        db::Field* key = ds->findField(listKeyName());
        db::Field* text = ds->findField(listTextName());
        if (key && text) {
            run(control_, [&] {
                for (int row = 0, n = ds->rowCount(); row < n; ++row) {
                    keys_.push_back(ds->valueAt(row, key));
                    texts_ << text->format(ds->valueAt(row, text));
                }
            });
            texts_ = texts_.mid(0, qsizetype(keys_.size())); // both as far as reading got
            keys_.resize(size_t(texts_.size()));
        }
    }
    emit listChanged();
}

db::Variant LookupLink::currentKey() const {
    db::Field* k = keyTarget();
    if (!k || !k->dataSet()->active()) return {};
    db::Variant v;
    run(control_, [&] { v = k->value(); });
    return v;
}

int LookupLink::currentRow() const {
    const db::Variant key = currentKey();
    if (key.isNull()) return -1;
    for (size_t i = 0; i < keys_.size(); ++i)
        if (keys_[i].sameAs(key)) return int(i);
    return -1;
}

bool LookupLink::choose(int row) {
    if (row < 0 || size_t(row) >= keys_.size() || !canModify()) {
        emit valueChanged();
        return false;
    }
    const db::Variant key = keys_[size_t(row)];
    if (key.sameAs(currentKey())) return true;
    db::Field* k = keyTarget();
    if (!run(control_, [&] {
            k->dataSet()->edit();
            k->setValue(key);
        })) {
        emit valueChanged();
        return false;
    }
    return true;
}

// ---- DBLookupComboBox

DBLookupComboBox::DBLookupComboBox(QWidget* parent) : QComboBox(parent), LookupControl(this) {
    connect(&link_, &LookupLink::listChanged, this, &DBLookupComboBox::fill);
    connect(&link_, &LookupLink::valueChanged, this, &DBLookupComboBox::showValue);
    connect(this, &QComboBox::activated, this, [this](int row) { link_.choose(row); });
}

void DBLookupComboBox::fill() {
    QSignalBlocker block(this);
    clear();
    addItems(link_.texts());
    showValue();
}

void DBLookupComboBox::showValue() {
    setCurrentIndex(link_.currentRow());
}

// ---- DBLookupListBox

DBLookupListBox::DBLookupListBox(QWidget* parent) : QListWidget(parent), LookupControl(this) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(&link_, &LookupLink::listChanged, this, &DBLookupListBox::fill);
    connect(&link_, &LookupLink::valueChanged, this, &DBLookupListBox::showValue);
    connect(&link_, &LookupLink::recordMoved, this, &DBLookupListBox::followRecord);
    connect(this, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        const int r = row(item);
        if (choose(r)) emit itemClickedKey(link_.keys()[size_t(r)]);
    });
}

void DBLookupListBox::fill() {
    QSignalBlocker block(this);
    clear();
    addItems(link_.texts());
    showValue();
}

void DBLookupListBox::showValue() {
    QSignalBlocker block(this);
    const int r = link_.currentRow();
    if (r < 0) {
        setCurrentRow(-1);
        clearSelection();
        return;
    }
    setCurrentRow(r);
    scrollToItem(item(r));
}

void DBLookupListBox::followRecord() {
    db::Dataset* list = link_.listDataSet();
    if (!list || !list->active() || !list->findField(link_.listKeyName())) return;
    const db::Variant key = link_.currentKey();
    run(this, [&] {
        if (key.isNull() || !list->locate(link_.listKeyName(), {key})) list->first();
    });
}

bool DBLookupListBox::choose(int row) {
    if (link_.choose(row)) return true;
    showValue();
    return false;
}

void DBLookupListBox::keyPressEvent(QKeyEvent* e) {
    const int before = currentRow();
    QListWidget::keyPressEvent(e);
    if (currentRow() != before && currentRow() >= 0) choose(currentRow());
}

} // namespace ui
