#pragma once
#include "widgets/Form.h"

namespace ui {
class DBGrid;
class DBMemo;
class DBNavigator;
} // namespace ui

// Editor of the test description: the table's current view in a grid, the long text below it.
class TForm_bdtest : public ui::Form {
    Q_OBJECT
public:
    explicit TForm_bdtest(QWidget* parent = nullptr);
    // Binds the grid, navigator and memo to the data module (after it exists).
    void BindData();

    ui::DBGrid* DBGrid1;
    ui::DBNavigator* DBNavigator1;
    ui::DBMemo* DBMemo1;
};

extern TForm_bdtest* Form_bdtest;
