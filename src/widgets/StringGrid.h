#pragma once
#include <QTableView>

class QLineEdit;

namespace ui {

class StringGridModel;

// A grid of texts addressed column first. The first fixedRows() rows and fixedCols() columns
// are its headers: grey, never current and never edited. Cells keep their texts when the grid
// grows; cells cut off by shrinking read as empty but come back when it grows again. Every change the user
// makes in the in-place editor, keystroke by keystroke, is stored at once and then reported by setEditText();
// setCell() from code reports nothing.
class StringGrid : public QTableView {
    Q_OBJECT
public:
    explicit StringGrid(QWidget* parent = nullptr);
    ~StringGrid() override;

    // At least 1; a count that leaves no unfixed column or row lowers the fixed count.
    int colCount() const;
    void setColCount(int n);
    int rowCount() const;
    void setRowCount(int n);
    // Must stay below the count ("Fixed column count must be less than column count").
    int fixedCols() const;
    void setFixedCols(int n);
    int fixedRows() const;
    void setFixedRows(int n);

    // Outside the grid a read gives "" and a write throws "Grid index out of range".
    QString cell(int col, int row) const;
    void setCell(int col, int row, const QString& text);

    // Setting a default size resets every column (row) to it.
    int defaultColWidth() const { return defaultColWidth_; }
    void setDefaultColWidth(int w);
    int defaultRowHeight() const { return defaultRowHeight_; }
    void setDefaultRowHeight(int h);
    int colWidth(int col) const { return columnWidth(col); }
    void setColWidth(int col, int w) { setColumnWidth(col, w); }

    bool isEditable() const;
    void setEditable(bool on);
    // The editor opens as soon as an editable cell becomes current while the grid has focus.
    bool alwaysShowEditor() const { return alwaysShowEditor_; }
    void setAlwaysShowEditor(bool on);

    // Dragging the line below a row in the fixed columns (right of a column in the fixed rows)
    // resizes it; dragging a row by its fixed cell moves the whole row, texts and all.
    void setRowSizing(bool on);
    void setColSizing(bool on);
    void setRowMoving(bool on) { rowMoving_ = on; }
    // Moves the row from to the place of the row to; both must be below the fixed rows.
    void moveRow(int from, int to);

    // The current cell, -1 when there is none.
    int col() const { return currentIndex().column(); }
    int row() const { return currentIndex().row(); }
    void setCurrentCell(int col, int row);
    // The open in-place editor, or nullptr.
    QLineEdit* editor() const;

signals:
    void setEditText(int col, int row, const QString& text);

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    void focusInEvent(QFocusEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    friend class StringGridDelegate;
    void edited(const QPersistentModelIndex& index, const QString& text);
    bool isFixed(const QModelIndex& index) const;
    bool focused() const;
    void showEditor();
    void keepCurrent();
    void updateEditTriggers();
    int rowEdgeAt(QPoint p) const;
    int colEdgeAt(QPoint p) const;

    StringGridModel* model_;
    int defaultColWidth_ = 64;
    int defaultRowHeight_ = 24;
    bool alwaysShowEditor_ = false;
    bool rowSizing_ = false, colSizing_ = false, rowMoving_ = false;
    enum class Drag { None, RowSize, ColSize, RowMove };
    Drag drag_ = Drag::None;
    int dragIndex_ = -1;
    QPoint dragFrom_;
    int dragSize_ = 0;
};

} // namespace ui
