#pragma once
#include "widgets/Form.h"

namespace db {
class DataSource;
}
namespace ui {
class DBGrid;
class DBMemo;
class DBNavigator;
} // namespace ui

// A table's current view in a grid, with one long text of the current record below it.
// The two memo editors differ only in their table, text field, caption and grid height.
class TMemoEditor : public ui::Form {
    Q_OBJECT
public:
    TMemoEditor(const char* name, const QString& caption, int gridHeight, QWidget* parent);

    ui::DBGrid* DBGrid1;
    ui::DBNavigator* DBNavigator1;
    ui::DBMemo* DBMemo1;

protected:
    void bind(db::DataSource* source, const QString& memoField);
};
