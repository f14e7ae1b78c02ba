#pragma once
#include "widgets/Form.h"

namespace db {
class DataSource;
}
namespace ui {
class DBGrid;
class DBNavigator;
} // namespace ui

// The generic table view: every field of whatever data source it is given.
class TFormTable : public ui::Form {
    Q_OBJECT
public:
    explicit TFormTable(QWidget* parent = nullptr);

    ui::DBGrid* DBGrid1;
    ui::DBNavigator* DBNavigator1;

    // Points the grid and the navigator at the data source, then shows the window. A modal
    // show of the open window fails after the re-pointing, and the window stays open.
    void ShowOn(db::DataSource* ds);
    int ShowModalOn(db::DataSource* ds);
    void setDataSource(db::DataSource* ds);
};

extern TFormTable* FormTable;
