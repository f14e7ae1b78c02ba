#include "widgets/DBGrid.h"

#include "dataset/Dataset.h"
#include "widgets/Handler.h"
#include "widgets/Messages.h"

#include <QComboBox>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScopedValueRollback>
#include <QStyledItemDelegate>
#include <algorithm>

namespace ui {

namespace {
// Typing or F2 opens a cell. Not a click on the current cell: Qt then waits for a possible
// double-click and drops the keys typed meanwhile, and a double-click is the windows' own.
constexpr QAbstractItemView::EditTriggers kEditTriggers =
    QAbstractItemView::AnyKeyPressed | QAbstractItemView::EditKeyPressed;

QString editorText(const QWidget* editor) {
    if (auto* le = qobject_cast<const QLineEdit*>(editor)) return le->text();
    if (auto* cb = qobject_cast<const QComboBox*>(editor)) return cb->currentText();
    return {};
}
} // namespace

// Cell editors: a line edit cut to a text field's size, or for a lookup field a list of the
// dictionary's texts. Opening one puts the record into edit.
class DBGridDelegate : public QStyledItemDelegate {
public:
    explicit DBGridDelegate(DBGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex& index) const override {
        if (!grid_->beginCellEdit(index)) return nullptr;
        db::Field* f = grid_->model_->fieldAt(index.column());
        if (!f) return nullptr;
        QWidget* editor = nullptr;
        if (f->isLookup()) {
            QStringList texts;
            if (!run(grid_, [&] { texts = grid_->model_->lookupTexts(index.column()); })) return nullptr;
            auto* cb = new QComboBox(parent);
            cb->addItems(texts);
            editor = cb;
        } else {
            auto* le = new QLineEdit(parent);
            le->setFrame(false);
            if (f->kind() == db::FieldKind::String && f->size() > 0) le->setMaxLength(f->size());
            editor = le;
        }
        grid_->editorOpened(editor, index);
        return editor;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        const QString text = index.data(Qt::EditRole).toString();
        if (auto* le = qobject_cast<QLineEdit*>(editor)) le->setText(text);
        // No match (an empty key) shows no choice, so opening the list changes nothing.
        else if (auto* cb = qobject_cast<QComboBox*>(editor))
            cb->setCurrentIndex(cb->findText(text));
    }

    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override {
        model->setData(index, editorText(editor), Qt::EditRole);
    }

private:
    DBGrid* grid_;
};

DBGrid::DBGrid(QWidget* parent) : QTableView(parent) {
    model_ = new DBGridModel(this, this);
    setModel(model_);
    setItemDelegate(new DBGridDelegate(this));
    setSelectionMode(SingleSelection);
    setSelectionBehavior(SelectItems);
    setEditTriggers(kEditTriggers);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    // Fixed row heights: nothing measures rows, so a million of them cost nothing to show.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    // Titles start at the left edge, as in the classic grid: a wide text column keeps its title in view.
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    applyHeights();
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
        run(this, [&] { emit titleClicked(column, model_->fieldNameAt(column)); });
    });
    connect(model_, &DBGridModel::columnsChanged, this, &DBGrid::applyWidths);
}

DBGrid::~DBGrid() {
    if (db::Dataset* ds = dataSet()) ds->removeUpdateHooks(this);
}

void DBGrid::setDataSource(db::DataSource* source) {
    for (const auto& c : links_)
        disconnect(c);
    links_.clear();
    source_ = source;
    if (source) {
        links_ << connect(source, &db::DataSource::dataSetChanged, this, &DBGrid::onDataSetChanged);
        links_ << connect(source, &db::DataSource::scrolled, this, &DBGrid::onScrolled);
        links_ << connect(source, &db::DataSource::stateChanged, this, &DBGrid::onStateChanged);
        links_ << connect(source, &db::DataSource::recordChanged, this, [this] {
            if (!followDataSet()) model_->currentRowChanged();
        });
        links_ << connect(source, &QObject::destroyed, this, [this] { attach(nullptr); });
    }
    attach(source ? source->dataSet() : nullptr);
}

db::Dataset* DBGrid::dataSet() const {
    return model_->dataSet();
}

void DBGrid::attach(db::Dataset* ds) {
    // Text typed into an open cell goes into its record before the grid shows another dataset;
    // the record stays pending there, to be posted by its next move.
    if (db::Dataset* old = dataSet()) {
        if (ds != old && old->active()) run(this, [this] { writeOpenEditor(); });
        old->removeUpdateHooks(this);
    }
    // Typed text of an open cell goes into the record before every post or move.
    if (ds) ds->addUpdateHook(this, [this] { writeOpenEditor(); });
    editor_ = nullptr;
    model_->setDataSet(ds);
    syncCurrent();
}

// A data source may be pointed at another dataset without telling its controls.
bool DBGrid::followDataSet() {
    db::Dataset* ds = source_ ? source_->dataSet() : nullptr;
    if (ds == dataSet()) return false;
    attach(ds);
    return true;
}

void DBGrid::onDataSetChanged() {
    if (followDataSet()) return;
    editor_ = nullptr; // the reset releases it
    model_->reload();
    syncCurrent();
}

void DBGrid::onScrolled() {
    if (followDataSet()) return;
    model_->cursorMoved();
    syncCurrent();
}

void DBGrid::onStateChanged() {
    if (!followDataSet()) model_->currentRowChanged();
}

void DBGrid::syncCurrent() {
    db::Dataset* ds = dataSet();
    // A hidden grid leaves unread rows unread: it takes its place when shown.
    if (model_->heldBack() || (ds && ds->viewPending() && !isVisible())) return;
    int row = ds && ds->active() ? ds->recNo() : -1;
    if (row < 0 || row >= model_->rowCount() || model_->columnCount() == 0) return;
    int col =
        currentIndex().isValid() ? currentIndex().column() : std::min(lastColumn_, model_->columnCount() - 1);
    QModelIndex idx = model_->index(row, col);
    QScopedValueRollback<bool> guard(syncing_, true);
    if (currentIndex() != idx) {
        QItemSelectionModel::SelectionFlags flags = QItemSelectionModel::ClearAndSelect;
        if (rowSelect_) flags |= QItemSelectionModel::Rows;
        selectionModel()->setCurrentIndex(idx, flags);
    }
    // Scrolling lays the view out; a hidden grid scrolls to its current row when shown.
    if (isVisible()) scrollTo(idx);
}

void DBGrid::applyHeights() {
    QFontMetrics fm(font());
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(fm.height() + 4);
    verticalHeader()->setFixedWidth(std::max(12, fm.horizontalAdvance(QChar(0x25BA)) + 6));
}

void DBGrid::applyWidths() {
    QFontMetrics fm(font());
    QFontMetrics titleFm(horizontalHeader()->font());
    const int digit = fm.horizontalAdvance(QLatin1Char('0'));
    for (int c = 0, n = model_->columnCount(); c < n; ++c) {
        int px = model_->widthPxAt(c);
        if (px <= 0) {
            int chars = model_->widthCharsAt(c);
            px = chars > 0 ? chars * digit + 4 : 64;
            // As wide as the title at least, as the classic grid does.
            px =
                std::max(px, titleFm.horizontalAdvance(model_->headerData(c, Qt::Horizontal).toString()) + 8);
        }
        setColumnWidth(c, px);
    }
}

void DBGrid::changeEvent(QEvent* e) {
    QTableView::changeEvent(e);
    if (e->type() == QEvent::FontChange) {
        applyHeights();
        applyWidths();
    }
}

void DBGrid::showEvent(QShowEvent* e) {
    model_->setHoldPending(false);
    if (model_->heldBack()) {
        // Reading the rows may fail (a query's file gone meanwhile): said like any handler's error,
        // and the grid shows what could be read.
        if (db::Dataset* ds = dataSet()) run(this, [ds] { (void)ds->rowCount(); });
        editor_ = nullptr;
        model_->reload();
        syncCurrent();
    }
    QTableView::showEvent(e);
}

void DBGrid::hideEvent(QHideEvent* e) {
    model_->setHoldPending(true);
    QTableView::hideEvent(e);
}

void DBGrid::setColumns(const QList<GridColumn>& columns) {
    editor_ = nullptr;
    model_->setColumns(columns);
    syncCurrent();
}

void DBGrid::setReadOnly(bool on) {
    readOnly_ = on;
    model_->setEditable(!on);
    setEditTriggers(on ? NoEditTriggers : kEditTriggers);
}

void DBGrid::setRowSelect(bool on) {
    rowSelect_ = on;
    setSelectionBehavior(on ? SelectRows : SelectItems);
    clearSelection();
    if (currentIndex().isValid()) {
        QItemSelectionModel::SelectionFlags flags = QItemSelectionModel::ClearAndSelect;
        if (on) flags |= QItemSelectionModel::Rows;
        selectionModel()->select(currentIndex(), flags);
    }
}

void DBGrid::setIndicator(bool on) {
    indicator_ = on;
    model_->setIndicator(on);
    verticalHeader()->setVisible(on);
}

void DBGrid::setTitles(bool on) {
    horizontalHeader()->setVisible(on);
}

db::Field* DBGrid::currentField() const {
    return model_->fieldAt(currentIndex().column());
}

void DBGrid::keyboardSearch(const QString&) {
    // Nothing: a search would read every row of the view.
}

bool DBGrid::canChange() const {
    db::Dataset* ds = dataSet();
    return !readOnly_ && ds && ds->active() && ds->canModify();
}

int DBGrid::finishPending(int target) {
    db::Dataset* ds = dataSet();
    const db::DataSetState st = ds->state();
    if (st != db::DataSetState::Edit && st != db::DataSetState::Insert) return target;
    const bool inserting = st == db::DataSetState::Insert;
    const int p = ds->recNo();
    const int before = ds->recordCount(); // stored rows, the new one not counted
    if (inserting && target == p) return p;
    int stored = inserting && target > p ? target - 1 : target;
    ds->checkBrowseMode();
    const int after = ds->recordCount();
    const int np = ds->recNo();
    // Posting or dropping the row may shift the rows around it; find the target again.
    if (inserting) {
        if (after == before + 1 && stored >= np) ++stored;
    } else if (after == before - 1) {
        if (stored > p) --stored;
    } else if (after == before && np != p) {
        if (p < stored && stored <= np)
            --stored;
        else if (np <= stored && stored < p)
            ++stored;
    }
    return stored;
}

void DBGrid::moveTo(int row) {
    db::Dataset* ds = dataSet();
    if (!ds || !ds->active()) return;
    int target = finishPending(row);
    const int n = ds->recordCount();
    if (n == 0) return;
    target = std::clamp(target, 0, n - 1);
    if (target != ds->recNo()) ds->moveBy(target - ds->recNo());
}

void DBGrid::appendRow() {
    db::Dataset* ds = dataSet();
    if (!canChange()) return;
    // Down on a new last row left untouched stays there.
    if (ds->state() == db::DataSetState::Insert && ds->recNo() == ds->rowCount() - 1) {
        ds->updateRecord();
        if (!ds->modified()) return;
    }
    ds->append();
}

void DBGrid::deleteRow() {
    db::Dataset* ds = dataSet();
    if (!canChange()) return;
    // An empty view has nothing to ask about: the data layer says so itself.
    if (!ds->isEmpty() && confirmDelete_ && !Confirm(QStringLiteral("Delete record?"))) return;
    ds->deleteRecord();
}

void DBGrid::writeOpenEditor() {
    if (!editor_ || state() != EditingState || !editorIndex_.isValid()) return;
    const QString text = editorText(editor_);
    if (model_->isRefused(editorIndex_.row(), editorIndex_.column(), text)) throw Abort();
    model_->writeText(editorIndex_.row(), editorIndex_.column(), text);
}

bool DBGrid::beginCellEdit(const QModelIndex& index) {
    db::Dataset* ds = dataSet();
    if (readOnly_ || !ds || !ds->active() || index.row() != ds->recNo()) return false;
    return run(this, [&] {
        if (ds->state() == db::DataSetState::Browse) ds->edit();
    });
}

void DBGrid::editorOpened(QWidget* editor, const QModelIndex& index) {
    editor_ = editor;
    editorIndex_ = index;
}

void DBGrid::keyPressEvent(QKeyEvent* e) {
    db::Dataset* ds = dataSet();
    const auto mods = e->modifiers() & ~Qt::KeypadModifier;
    if (ds && ds->active()) {
        const bool pending = ds->state() == db::DataSetState::Edit || ds->state() == db::DataSetState::Insert;
        if (e->key() == Qt::Key_Insert && mods == Qt::NoModifier && canChange()) {
            run(this, [&] { ds->insert(); });
            e->accept();
            return;
        }
        if (e->key() == Qt::Key_Delete && mods == Qt::ControlModifier && canChange()) {
            run(this, [&] { deleteRow(); });
            e->accept();
            return;
        }
        if (e->key() == Qt::Key_Escape && mods == Qt::NoModifier && pending) {
            run(this, [&] { ds->cancel(); });
            e->accept();
            return;
        }
    }
    QTableView::keyPressEvent(e);
}

QModelIndex DBGrid::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    db::Dataset* ds = dataSet();
    if (!ds || !ds->active()) return QTableView::moveCursor(action, modifiers);
    const QModelIndex cur = currentIndex();
    const int col = cur.isValid() ? cur.column() : 0;
    const int rows = model_->rowCount();
    if (action == MoveDown && (rows == 0 || (cur.isValid() && cur.row() == rows - 1))) {
        run(this, [&] { appendRow(); });
        return model_->index(ds->recNo(), col);
    }
    const QModelIndex target = QTableView::moveCursor(action, modifiers);
    if (!target.isValid()) return target;
    const int row = target.row(), column = target.column();
    const bool ok = run(this, [&] {
        if (row != ds->recNo())
            moveTo(row);
        else if (column != col)
            writeOpenEditor();
    });
    if (!ok) return cur;
    return model_->index(ds->recNo(), column);
}

void DBGrid::mousePressEvent(QMouseEvent* e) {
    db::Dataset* ds = dataSet();
    const QModelIndex idx = indexAt(e->position().toPoint());
    if (ds && ds->active() && idx.isValid() && idx.row() != ds->recNo()) {
        const int row = idx.row();
        const bool ok = run(this, [&] { moveTo(row); });
        // When posting or dropping a row shifted the rows, the one under the mouse is not
        // the one clicked: stay where the cursor went.
        if (!ok || ds->recNo() != row) {
            if (ok) {
                QModelIndex there = model_->index(ds->recNo(), idx.column());
                QScopedValueRollback<bool> guard(syncing_, true);
                if (there.isValid()) setCurrentIndex(there);
            }
            // A refused value stays in its open editor: taking the focus from it would only
            // commit it again and repeat the message.
            if (!ok && editor_)
                editor_->setFocus(Qt::MouseFocusReason);
            else
                setFocus(Qt::MouseFocusReason);
            e->accept();
            return;
        }
    }
    QTableView::mousePressEvent(e);
}

void DBGrid::mouseDoubleClickEvent(QMouseEvent* e) {
    QTableView::mouseDoubleClickEvent(e);
    run(this, [&] { emit cellDoubleClicked(); });
}

void DBGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (current.isValid()) lastColumn_ = current.column();
    if (syncing_ || !current.isValid()) return;
    db::Dataset* ds = dataSet();
    if (!ds || !ds->active() || current.row() == ds->recNo()) return;
    // A current row set other than by keys or mouse: the cursor follows.
    const int row = current.row();
    if (!run(this, [&] { moveTo(row); }))
        QMetaObject::invokeMethod(this, &DBGrid::syncCurrent, Qt::QueuedConnection);
}

void DBGrid::commitData(QWidget* editor) {
    model_->takeWriteFailed();
    QTableView::commitData(editor);
}

void DBGrid::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    // A value that did not convert stays in its editor, to be corrected.
    if (model_->takeWriteFailed() && hint != QAbstractItemDelegate::RevertModelCache && editor) {
        editor->setFocus();
        return;
    }
    if (editor == editor_) {
        editor_ = nullptr;
        editorIndex_ = QPersistentModelIndex();
    }
    QTableView::closeEditor(editor, hint);
}

} // namespace ui
