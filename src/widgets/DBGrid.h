#pragma once
#include "dataset/Dataset.h"
#include "widgets/DBGridModel.h"

#include <QMetaObject>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QTableView>

namespace db {
class DataSource;
class Dataset;
class Field;
} // namespace db

namespace ui {

class DBGridDelegate;

// The data grid: a table over a data source whose current row and dataset cursor stay in step.
// Insert starts a row at the cursor, Down on the last row appends one, Ctrl+Delete deletes the
// current row (asking "Delete record?" first), Esc cancels a pending change. Moving off a row
// posts it when changed and drops it when it was a new row left untouched.
class DBGrid : public QTableView {
    Q_OBJECT
public:
    explicit DBGrid(QWidget* parent = nullptr);
    ~DBGrid() override;

    void setDataSource(db::DataSource* source);
    db::DataSource* dataSource() const { return source_; }

    // Own columns; an empty list goes back to every visible field.
    void setColumns(const QList<GridColumn>& columns);
    const QList<GridColumn>& columns() const { return model_->ownColumns(); }

    void setReadOnly(bool on);
    bool isReadOnly() const { return readOnly_; }
    void setRowSelect(bool on);
    bool rowSelect() const { return rowSelect_; }
    // The column at the left that marks the current row and its state (no row numbers).
    void setIndicator(bool on);
    bool indicator() const { return indicator_; }
    // The title row over the columns.
    void setTitles(bool on);
    void setConfirmDelete(bool on) { confirmDelete_ = on; }
    bool confirmDelete() const { return confirmDelete_; }

    // Field of the current column; nullptr when there is none.
    db::Field* currentField() const;
    DBGridModel* gridModel() const { return model_; }

    void keyboardSearch(const QString& search) override;

signals:
    void titleClicked(int column, const QString& fieldName);
    void cellDoubleClicked();

protected:
    void keyPressEvent(QKeyEvent* e) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    void commitData(QWidget* editor) override;
    void changeEvent(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    friend class DBGridDelegate;
    db::Dataset* dataSet() const;
    void attach(db::Dataset* ds);
    void onDataSetChanged();
    void onScrolled();
    void onStateChanged();
    bool followDataSet();
    void syncCurrent();
    void applyWidths();
    void applyHeights();
    bool canChange() const;

    // The cursor to a row as the grid shows it.
    void moveTo(int row);
    // Finishes a pending edit or insert; returns where the row shown at target now is.
    int finishPending(int target);
    void appendRow();
    void deleteRow();
    // Writes the text of the open cell editor into the record; throws when it does not convert.
    void writeOpenEditor();
    // Called by the delegate: the record goes into edit before a cell editor opens.
    bool beginCellEdit(const QModelIndex& index);
    void editorOpened(QWidget* editor, const QModelIndex& index);

    DBGridModel* model_;
    QPointer<db::DataSource> source_;
    QList<QMetaObject::Connection> links_;
    QPointer<QWidget> editor_;
    QPersistentModelIndex editorIndex_;
    int lastColumn_ = 0;
    bool syncing_ = false;
    bool readOnly_ = false;
    bool rowSelect_ = false;
    bool indicator_ = true;
    bool confirmDelete_ = true;
};

} // namespace ui
