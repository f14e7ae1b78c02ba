#include "widgets/StringGrid.h"

#include "Errors.h"

#include <QAbstractTableModel>
#include <QEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QStyledItemDelegate>
#include <QTimer>
#include <algorithm>
#include <cstdlib>

namespace ui {

// The texts, row by row, and which of them are headers.
class StringGridModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : rows_; }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : cols_; }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid()) return {};
        switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            return text(index.column(), index.row());
        case Qt::BackgroundRole:
            if (isFixed(index.column(), index.row())) return fixedBrush;
            return {};
        default:
            return {};
        }
    }

    bool setData(const QModelIndex& index, const QVariant& value, int role) override {
        if (!index.isValid() || role != Qt::EditRole) return false;
        setText(index.column(), index.row(), value.toString());
        return true;
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        if (!index.isValid()) return Qt::NoItemFlags;
        if (isFixed(index.column(), index.row())) return Qt::ItemIsEnabled;
        Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (editable) f |= Qt::ItemIsEditable;
        return f;
    }

    bool isFixed(int col, int row) const { return col < fixedCols || row < fixedRows; }

    QString text(int col, int row) const {
        if (row < 0 || row >= rows_ || col < 0 || col >= cols_) return {}; // rows_ <= cells_.size()
        return cells_[row].value(col);
    }

    void setText(int col, int row, const QString& s) {
        if (col < 0 || col >= cols_ || row < 0 || row >= rows_)
            throw db::InvalidOperation(QStringLiteral("Grid index out of range"));
        QStringList& line = cells_[row];
        if (line.size() <= col) {
            if (s.isEmpty()) return;
            line.resize(col + 1); // rows grow only as far as their last written cell
        }
        if (line[col] == s) return;
        line[col] = s;
        const QModelIndex i = index(row, col);
        emit dataChanged(i, i, {Qt::DisplayRole, Qt::EditRole});
    }

    void setRows(int n) {
        // Rows cut off keep their texts out of sight: a count retyped digit by digit passes
        // through smaller sizes, and the table typed in must come back.
        if (n > rows_) {
            beginInsertRows({}, rows_, n - 1);
            rows_ = n;
            if (cells_.size() < n) cells_.resize(n);
            endInsertRows();
        } else if (n < rows_) {
            beginRemoveRows({}, n, rows_ - 1);
            rows_ = n;
            endRemoveRows();
        }
    }

    void moveRow(int from, int to) {
        beginMoveRows({}, from, from, {}, to > from ? to + 1 : to);
        cells_.move(from, to);
        endMoveRows();
    }

    void setCols(int n) {
        if (n > cols_) {
            beginInsertColumns({}, cols_, n - 1);
            cols_ = n;
            endInsertColumns();
        } else if (n < cols_) {
            beginRemoveColumns({}, n, cols_ - 1);
            cols_ = n;
            endRemoveColumns();
        }
    }

    // Fixed counts and the editable switch change flags and colours everywhere.
    void refresh() {
        if (rows_ > 0 && cols_ > 0) emit dataChanged(index(0, 0), index(rows_ - 1, cols_ - 1));
    }

    int fixedRows = 1;
    int fixedCols = 1;
    bool editable = false;
    QBrush fixedBrush;

private:
    int rows_ = 0;
    int cols_ = 0;
    QList<QStringList> cells_;
};

// A line edit whose every user change goes to the grid at once.
class StringGridDelegate : public QStyledItemDelegate {
public:
    explicit StringGridDelegate(StringGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex& index) const override {
        auto* e = new QLineEdit(parent);
        e->setFrame(false);
        const QPersistentModelIndex at(index);
        connect(e, &QLineEdit::textEdited, grid_,
                [grid = grid_, at](const QString& t) { grid->edited(at, t); });
        return e;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        // Each keystroke is stored and comes back here; rewriting the same text would move the
        // caret to the end.
        auto* e = static_cast<QLineEdit*>(editor);
        const QString t = index.data(Qt::EditRole).toString();
        if (e->text() != t) e->setText(t);
    }

private:
    StringGrid* grid_;
};

StringGrid::StringGrid(QWidget* parent) : QTableView(parent), model_(new StringGridModel(this)) {
    model_->fixedBrush = palette().button();
    setModel(model_);
    setItemDelegate(new StringGridDelegate(this));
    // The fixed rows and columns are the headers.
    horizontalHeader()->hide();
    verticalHeader()->hide();
    for (QHeaderView* h : {horizontalHeader(), verticalHeader()}) {
        h->setMinimumSectionSize(1);
        h->setSectionResizeMode(QHeaderView::Fixed);
    }
    horizontalHeader()->setDefaultSectionSize(defaultColWidth_);
    verticalHeader()->setDefaultSectionSize(defaultRowHeight_);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setTabKeyNavigation(false);
    model_->setRows(5);
    model_->setCols(5);
    updateEditTriggers();
    keepCurrent();
}

StringGrid::~StringGrid() = default;

int StringGrid::colCount() const {
    return model_->columnCount();
}
int StringGrid::rowCount() const {
    return model_->rowCount();
}
int StringGrid::fixedCols() const {
    return model_->fixedCols;
}
int StringGrid::fixedRows() const {
    return model_->fixedRows;
}

void StringGrid::setColCount(int n) {
    n = std::max(n, 1);
    if (n <= model_->fixedCols) setFixedCols(n - 1);
    model_->setCols(n);
    keepCurrent();
}

void StringGrid::setRowCount(int n) {
    n = std::max(n, 1);
    if (n <= model_->fixedRows) setFixedRows(n - 1);
    model_->setRows(n);
    keepCurrent();
}

void StringGrid::setFixedCols(int n) {
    if (n < 0) throw db::InvalidOperation(QStringLiteral("Grid index out of range"));
    if (n >= colCount())
        throw db::InvalidOperation(QStringLiteral("Fixed column count must be less than column count"));
    model_->fixedCols = n;
    model_->refresh();
    keepCurrent();
}

void StringGrid::setFixedRows(int n) {
    if (n < 0) throw db::InvalidOperation(QStringLiteral("Grid index out of range"));
    if (n >= rowCount())
        throw db::InvalidOperation(QStringLiteral("Fixed row count must be less than row count"));
    model_->fixedRows = n;
    model_->refresh();
    keepCurrent();
}

QString StringGrid::cell(int col, int row) const {
    return model_->text(col, row);
}

void StringGrid::setCell(int col, int row, const QString& text) {
    model_->setText(col, row, text);
}

void StringGrid::setDefaultColWidth(int w) {
    defaultColWidth_ = w;
    horizontalHeader()->setDefaultSectionSize(w);
    for (int c = 0; c < colCount(); ++c)
        setColumnWidth(c, w);
}

void StringGrid::setDefaultRowHeight(int h) {
    defaultRowHeight_ = h;
    verticalHeader()->setDefaultSectionSize(h);
    for (int r = 0; r < rowCount(); ++r)
        setRowHeight(r, h);
}

bool StringGrid::isEditable() const {
    return model_->editable;
}

void StringGrid::setEditable(bool on) {
    model_->editable = on;
    model_->refresh();
    updateEditTriggers();
    showEditor();
}

void StringGrid::setAlwaysShowEditor(bool on) {
    alwaysShowEditor_ = on;
    showEditor();
}

void StringGrid::updateEditTriggers() {
    setEditTriggers(model_->editable
                        ? QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                              QAbstractItemView::AnyKeyPressed | QAbstractItemView::EditKeyPressed
                        : QAbstractItemView::NoEditTriggers);
}

void StringGrid::setCurrentCell(int col, int row) {
    const QModelIndex i = model_->index(row, col);
    if (!i.isValid() || isFixed(i)) throw db::InvalidOperation(QStringLiteral("Grid index out of range"));
    setCurrentIndex(i);
    // Also when the cell already was current: a grid focused in a window not yet active has had
    // no focus event to open it.
    showEditor();
}

QLineEdit* StringGrid::editor() const {
    const QModelIndex i = currentIndex();
    return i.isValid() ? qobject_cast<QLineEdit*>(indexWidget(i)) : nullptr;
}

void StringGrid::edited(const QPersistentModelIndex& index, const QString& text) {
    if (!index.isValid()) return;
    // Stored first: the hook reads the grid and expects to find the new text there.
    model_->setText(index.column(), index.row(), text);
    emit setEditText(index.column(), index.row(), text);
}

bool StringGrid::isFixed(const QModelIndex& index) const {
    return model_->isFixed(index.column(), index.row());
}

bool StringGrid::focused() const {
    // The window's focus widget, not the application's: it counts in an inactive window too.
    const QWidget* f = window()->focusWidget();
    return f && (f == this || isAncestorOf(f));
}

void StringGrid::showEditor() {
    const QModelIndex i = currentIndex();
    if (alwaysShowEditor_ && model_->editable && i.isValid() && !isFixed(i) && focused() && !indexWidget(i))
        edit(i);
}

void StringGrid::keepCurrent() {
    // The classic grid always has a current cell below and right of the headers.
    const QModelIndex i = currentIndex();
    if (i.isValid() && !isFixed(i)) return;
    const int r = std::max(i.row(), model_->fixedRows);
    const int c = std::max(i.column(), model_->fixedCols);
    if (r < rowCount() && c < colCount()) setCurrentIndex(model_->index(r, c));
}

QModelIndex StringGrid::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    const QModelIndex i = QTableView::moveCursor(action, modifiers);
    if (!i.isValid() || !isFixed(i)) return i;
    const QModelIndex inside =
        model_->index(std::max(i.row(), model_->fixedRows), std::max(i.column(), model_->fixedCols));
    return inside.isValid() ? inside : currentIndex();
}

void StringGrid::setRowSizing(bool on) {
    rowSizing_ = on;
    viewport()->setMouseTracking(rowSizing_ || colSizing_); // the sizing cursor over a line
}

void StringGrid::setColSizing(bool on) {
    colSizing_ = on;
    viewport()->setMouseTracking(rowSizing_ || colSizing_);
}

void StringGrid::moveRow(int from, int to) {
    const int n = rowCount();
    if (from < model_->fixedRows || to < model_->fixedRows || from >= n || to >= n)
        throw db::InvalidOperation(QStringLiteral("Grid index out of range"));
    if (from == to) return;
    const int fromHeight = rowHeight(from);
    // The heights travel with the rows, as the texts do.
    const int step = to > from ? 1 : -1;
    for (int r = from; r != to; r += step)
        setRowHeight(r, rowHeight(r + step));
    setRowHeight(to, fromHeight);
    model_->moveRow(from, to);
}

// The row whose lower line is under p inside the fixed columns, or -1.
int StringGrid::rowEdgeAt(QPoint p) const {
    const QModelIndex i = indexAt(p);
    if (!i.isValid() || i.column() >= model_->fixedCols) return -1;
    for (int r : {i.row() - 1, i.row()})
        if (r >= 0 && std::abs(p.y() - (rowViewportPosition(r) + rowHeight(r))) <= 2) return r;
    return -1;
}

// The column whose right line is under p inside the fixed rows, or -1.
int StringGrid::colEdgeAt(QPoint p) const {
    const QModelIndex i = indexAt(p);
    if (!i.isValid() || i.row() >= model_->fixedRows) return -1;
    for (int c : {i.column() - 1, i.column()})
        if (c >= 0 && std::abs(p.x() - (columnViewportPosition(c) + columnWidth(c))) <= 2) return c;
    return -1;
}

void StringGrid::mousePressEvent(QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    const QModelIndex i = indexAt(p);
    if (e->button() == Qt::LeftButton) {
        int at = -1;
        if (rowSizing_ && (at = rowEdgeAt(p)) >= 0)
            drag_ = Drag::RowSize;
        else if (colSizing_ && (at = colEdgeAt(p)) >= 0)
            drag_ = Drag::ColSize;
        else if (rowMoving_ && i.isValid() && i.column() < model_->fixedCols && i.row() >= model_->fixedRows)
            drag_ = Drag::RowMove, at = i.row();
        if (drag_ != Drag::None) {
            dragIndex_ = at;
            dragFrom_ = p;
            dragSize_ = drag_ == Drag::ColSize ? columnWidth(at) : rowHeight(at);
            e->accept();
            return;
        }
    }
    if (i.isValid() && isFixed(i)) {
        e->accept(); // a header cell never becomes current
        return;
    }
    QTableView::mousePressEvent(e);
}

void StringGrid::mouseMoveEvent(QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    // Relative to the press, so that the line does not jump to the pointer.
    if (drag_ == Drag::RowSize) setRowHeight(dragIndex_, std::max(1, dragSize_ + p.y() - dragFrom_.y()));
    if (drag_ == Drag::ColSize) setColumnWidth(dragIndex_, std::max(1, dragSize_ + p.x() - dragFrom_.x()));
    if (drag_ != Drag::None) {
        e->accept();
        return;
    }
    if (e->buttons() == Qt::NoButton && (rowSizing_ || colSizing_)) {
        if (rowSizing_ && rowEdgeAt(p) >= 0)
            viewport()->setCursor(Qt::SplitVCursor);
        else if (colSizing_ && colEdgeAt(p) >= 0)
            viewport()->setCursor(Qt::SplitHCursor);
        else
            viewport()->unsetCursor();
    }
    // Dragging over a header would make it current.
    const QModelIndex i = indexAt(e->position().toPoint());
    if (e->buttons() != Qt::NoButton && i.isValid() && isFixed(i)) {
        e->accept();
        return;
    }
    QTableView::mouseMoveEvent(e);
}

void StringGrid::mouseReleaseEvent(QMouseEvent* e) {
    if (drag_ == Drag::None) {
        QTableView::mouseReleaseEvent(e);
        return;
    }
    if (drag_ == Drag::RowMove) {
        const int to = rowAt(e->position().toPoint().y());
        if (to >= model_->fixedRows) moveRow(dragIndex_, to);
    }
    drag_ = Drag::None;
    dragIndex_ = -1;
    e->accept();
}

void StringGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    showEditor();
}

void StringGrid::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    QTableView::closeEditor(editor, hint);
    // Enter or Esc close the editor; with the editor always shown it comes back at once. Later,
    // so that the closing one is gone first.
    if (alwaysShowEditor_) QTimer::singleShot(0, this, [this] { showEditor(); });
}

void StringGrid::focusInEvent(QFocusEvent* e) {
    QTableView::focusInEvent(e);
    showEditor();
}

void StringGrid::changeEvent(QEvent* e) {
    QTableView::changeEvent(e);
    if (e->type() == QEvent::PaletteChange) {
        model_->fixedBrush = palette().button();
        model_->refresh();
    }
}

} // namespace ui
