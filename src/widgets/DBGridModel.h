#pragma once
#include "dataset/Dataset.h"
#include <QAbstractTableModel>
#include <QFont>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>

namespace db {
class Dataset;
class Field;
} // namespace db

namespace ui {

// A column of its own for a grid: the field it shows, its title (empty: the field's display
// label), its width in pixels (0: the field's display width) and whether its cells are bold.
struct GridColumn {
    QString fieldName;
    QString title;
    int widthPx = 0;
    bool bold = false;
};

// The grid's view of a dataset: reads rows by view position through Dataset::valueAt, never
// moving the cursor, so only the rows on screen are ever read. The row count is taken at each
// reset only, which keeps the model consistent while the dataset is between its signals.
class DBGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // context: the control whose handlers report errors (see ui::run).
    explicit DBGridModel(QObject* context, QObject* parent = nullptr);

    void setDataSet(db::Dataset* ds);
    db::Dataset* dataSet() const { return dataset_; }

    // Own columns; an empty list shows every visible field of the dataset.
    void setColumns(const QList<GridColumn>& columns);
    const QList<GridColumn>& ownColumns() const { return own_; }

    void setEditable(bool on) { editable_ = on; }
    void setIndicator(bool on);

    // nullptr for a column whose field does not exist
    db::Field* fieldAt(int column) const;
    QString fieldNameAt(int column) const;
    // The width asked for in pixels, or 0 when the field's display width decides.
    int widthPxAt(int column) const;
    // Display width in characters of the column's field (0 without a field).
    int widthCharsAt(int column) const;

    // Texts a lookup column may take: the result field over the lookup dataset's view.
    QStringList lookupTexts(int column) const;

    // Following the dataset's signals.
    void reload();            // view rebuilt, opened or closed: the rows and columns again
    void cursorMoved();       // the indicator moves along
    void currentRowChanged(); // the current record's values or state changed
    // While the grid is hidden, rows a dataset has not read yet stay unread: the grid shows
    // none until it is shown, and reloads then.
    void setHoldPending(bool hold) { holdPending_ = hold; }
    // The last reload left rows unread.
    bool heldBack() const { return heldBack_; }

    // Writes a cell's text into the current record (editing it first); throws the data layer's
    // errors. Text equal to what the cell shows changes nothing, so an untouched new row stays
    // untouched.
    void writeText(int row, int column, const QString& text);
    // true once after a setData that failed (the grid then keeps the editor open)
    bool takeWriteFailed();
    // The text just refused for a cell, until the current event is done: one user action that
    // tries to write it twice (the editor losing focus, then the move) is told once.
    bool isRefused(int row, int column, const QString& text) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

signals:
    // The columns' fields, titles or widths changed (not just the rows).
    void columnsChanged();

private:
    struct Column {
        QString fieldName;
        QString title;
        int widthPx = 0;
        QPointer<db::Field> field;
    };
    QList<Column> buildColumns() const;
    QString cellText(int row, const db::Field* f) const;
    QString indicatorAt(int row) const;
    int cursorRow() const;

    QObject* context_;
    QPointer<db::Dataset> dataset_;
    QList<GridColumn> own_;
    QFont bold_;
    QList<Column> columns_;
    int rows_ = 0;
    int indicatorRow_ = -1;
    bool editable_ = true;
    bool indicator_ = true;
    bool writeFailed_ = false;
    bool holdPending_ = true;
    bool heldBack_ = false;
    struct Refused {
        int row = -1, column = -1;
        QString text;
    } refused_;
};

} // namespace ui
