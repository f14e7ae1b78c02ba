#include "widgets/DBGridModel.h"

#include <QFont>

#include "Errors.h"
#include "dataset/Dataset.h"
#include "widgets/Handler.h"

namespace ui {

namespace {
// A memo cell shows the start of its text on one line; the rest is for the memo editors.
constexpr int kMemoChars = 200;

// The texts a lookup field's dictionary offers, in its view order, as the field shows them.
QStringList dictionaryTexts(const db::Field* f, const db::Dataset& dict, const db::Field& result) {
    QStringList out;
    for (int row = 0, n = dict.rowCount(); row < n; ++row)
        out << f->format(f->convert(dict.valueAt(row, &result)));
    return out;
}

db::Variant lookupKey(const db::Field* f, const QString& text) {
    if (text.isEmpty()) return {};
    db::Dataset* dict = f->lookupDataSet();
    if (!dict)
        throw db::DatabaseError(QStringLiteral("Field '%1' has no lookup dataset").arg(f->fieldName()));
    const db::Field* result = dict->fieldByName(f->lookupResultField());
    const db::Field* key = dict->fieldByName(f->lookupKeyField());
    const int row = int(dictionaryTexts(f, *dict, *result).indexOf(text));
    if (row < 0)
        throw db::DatabaseError(
            QStringLiteral("'%1' is not a value of field '%2'").arg(text, f->displayLabel()));
    return dict->valueAt(row, key);
}
} // namespace

DBGridModel::DBGridModel(QObject* context, QObject* parent) : QAbstractTableModel(parent), context_(context) {
    bold_.setBold(true); // only the weight: the rest comes from the grid's own font
}

void DBGridModel::setDataSet(db::Dataset* ds) {
    dataset_ = ds;
    reload();
}

void DBGridModel::setColumns(const QList<GridColumn>& columns) {
    own_ = columns;
    reload();
}

void DBGridModel::setIndicator(bool on) {
    indicator_ = on;
    if (indicatorRow_ >= 0 && indicatorRow_ < rows_)
        emit headerDataChanged(Qt::Vertical, indicatorRow_, indicatorRow_);
}

QList<DBGridModel::Column> DBGridModel::buildColumns() const {
    QList<Column> out;
    db::Dataset* ds = dataset_;
    if (!own_.isEmpty()) {
        for (const GridColumn& gc : own_) {
            db::Field* f = ds ? ds->findField(gc.fieldName) : nullptr;
            QString title = gc.title.isEmpty() ? (f ? f->displayLabel() : gc.fieldName) : gc.title;
            out.append({gc.fieldName, title, gc.widthPx, f});
        }
    } else if (ds && ds->active()) {
        for (db::Field* f : ds->fields())
            if (f->visible()) out.append({f->fieldName(), f->displayLabel(), 0, f});
    }
    return out;
}

int DBGridModel::cursorRow() const {
    if (!dataset_ || !dataset_->active() || heldBack_ || (holdPending_ && dataset_->viewPending())) return -1;
    return dataset_->recNo();
}

void DBGridModel::reload() {
    // Rows a dataset reads on first use may fail to come: said before the reset begins, so the
    // grid keeps what it showed.
    heldBack_ = holdPending_ && dataset_ && dataset_->active() && dataset_->viewPending();
    const int rows = dataset_ && dataset_->active() && !heldBack_ ? dataset_->rowCount() : 0;
    beginResetModel();
    QList<Column> cols = buildColumns();
    bool changed = cols.size() != columns_.size();
    for (qsizetype i = 0; !changed && i < cols.size(); ++i) {
        const Column &a = cols[i], &b = columns_[i];
        changed =
            a.fieldName != b.fieldName || a.title != b.title || a.widthPx != b.widthPx || a.field != b.field;
    }
    columns_ = cols;
    rows_ = rows;
    indicatorRow_ = cursorRow();
    endResetModel();
    if (changed) emit columnsChanged();
}

void DBGridModel::cursorMoved() {
    int old = indicatorRow_;
    indicatorRow_ = cursorRow();
    if (old == indicatorRow_) return;
    if (old >= 0 && old < rows_) emit headerDataChanged(Qt::Vertical, old, old);
    if (indicatorRow_ >= 0 && indicatorRow_ < rows_)
        emit headerDataChanged(Qt::Vertical, indicatorRow_, indicatorRow_);
}

void DBGridModel::currentRowChanged() {
    cursorMoved();
    int r = indicatorRow_;
    if (r < 0 || r >= rows_) return;
    emit headerDataChanged(Qt::Vertical, r, r);
    if (!columns_.isEmpty()) emit dataChanged(index(r, 0), index(r, int(columns_.size()) - 1));
}

db::Field* DBGridModel::fieldAt(int column) const {
    return column >= 0 && column < columns_.size() ? columns_[column].field.data() : nullptr;
}

QString DBGridModel::fieldNameAt(int column) const {
    return column >= 0 && column < columns_.size() ? columns_[column].fieldName : QString();
}

int DBGridModel::widthPxAt(int column) const {
    return column >= 0 && column < columns_.size() ? columns_[column].widthPx : 0;
}

int DBGridModel::widthCharsAt(int column) const {
    db::Field* f = fieldAt(column);
    return f ? f->displayWidth() : 0;
}

QStringList DBGridModel::lookupTexts(int column) const {
    db::Field* f = fieldAt(column);
    db::Dataset* dict = f && f->isLookup() ? f->lookupDataSet() : nullptr;
    const db::Field* result = dict ? dict->findField(f->lookupResultField()) : nullptr;
    return result ? dictionaryTexts(f, *dict, *result) : QStringList();
}

QString DBGridModel::cellText(int row, const db::Field* f) const {
    QString s = f->format(dataset_->valueAt(row, f));
    if (f->kind() == db::FieldKind::Memo) {
        s.truncate(kMemoChars);
        s.replace(QLatin1String("\r\n"), QLatin1String(" "));
        s.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    }
    return s;
}

void DBGridModel::writeText(int row, int column, const QString& text) {
    db::Dataset* ds = dataset_;
    db::Field* f = fieldAt(column);
    if (!ds || !ds->active() || !f || f->kind() == db::FieldKind::Memo) return;
    if (row != ds->recNo()) return; // only the current record takes input
    if (text == cellText(row, f)) return;
    ds->edit();
    if (f->isLookup())
        ds->fieldByName(f->keyField())->setValue(lookupKey(f, text));
    else
        f->setAsString(text);
}

bool DBGridModel::takeWriteFailed() {
    bool failed = writeFailed_;
    writeFailed_ = false;
    return failed;
}

int DBGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int DBGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(columns_.size());
}

QVariant DBGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !dataset_) return {};
    const db::Field* f = fieldAt(index.column());
    if (!f) return role == Qt::DisplayRole || role == Qt::EditRole ? QVariant(QString()) : QVariant();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        // Painting cannot show a message: a row that cannot be read shows empty.
        try {
            return cellText(index.row(), f);
        } catch (const std::exception&) {
            return QString();
        }
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::AlignVCenter | (f->isNumeric() ? Qt::AlignRight : Qt::AlignLeft));
    case Qt::FontRole:
        if (index.column() < own_.size() && own_[index.column()].bold) return bold_;
        return {};
    default:
        return {};
    }
}

QString DBGridModel::indicatorAt(int row) const {
    if (!indicator_ || row != indicatorRow_ || !dataset_) return {};
    switch (dataset_->state()) {
    case db::DataSetState::Insert:
        return QStringLiteral("*");
    case db::DataSetState::Edit:
        return QStringLiteral("I");
    case db::DataSetState::Browse:
        return QString(QChar(0x25BA));
    case db::DataSetState::Inactive:
        break;
    }
    return {};
}

QVariant DBGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal) {
        if (role == Qt::DisplayRole && section >= 0 && section < columns_.size())
            return columns_[section].title;
        return {};
    }
    if (role == Qt::DisplayRole) return indicatorAt(section);
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignCenter);
    return {};
}

Qt::ItemFlags DBGridModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags fl = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    const db::Field* f = fieldAt(index.column());
    db::Dataset* ds = dataset_;
    if (!editable_ || !f || !ds || !ds->canModify() || f->kind() == db::FieldKind::Memo) return fl;
    if (f->isLookup() && (!f->lookupDataSet() || !ds->findField(f->keyField()))) return fl;
    return fl | Qt::ItemIsEditable;
}

bool DBGridModel::isRefused(int row, int column, const QString& text) const {
    return refused_.row == row && refused_.column == column && refused_.text == text;
}

bool DBGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole) return false;
    const QString text = value.toString();
    if (isRefused(index.row(), index.column(), text)) {
        writeFailed_ = true;
        return false;
    }
    bool ok = run(context_, [&] { writeText(index.row(), index.column(), text); });
    if (!ok) {
        writeFailed_ = true;
        refused_ = {index.row(), index.column(), text};
        QMetaObject::invokeMethod(
            this, [this] { refused_ = {}; }, Qt::QueuedConnection);
    }
    return ok;
}

} // namespace ui
