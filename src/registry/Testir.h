#pragma once
#include "widgets/Form.h"

class QLabel;
class QPushButton;
namespace ui {
class DBGrid;
class DBNavigator;
class Panel;
} // namespace ui

// "Выбор тестируемого": the testees of the chosen institution. The one the list stands on when
// the window closes is the current testee.
class TFormTestir : public ui::Form {
    Q_OBJECT
public:
    explicit TFormTestir(QWidget* parent = nullptr);

    ui::Panel *Panel1, *Panel2, *Panel3;
    QLabel* Label1;
    ui::DBGrid* DBGrid1;
    QPushButton *ButtonNewTestir, *ButtonEdit, *ButtonSelect;
    ui::DBNavigator* DBNavigator;

    void ButtonNewTestirClick();
    void ButtonEditClick();
    void ButtonSelectClick();

protected:
    void FormActivate() override;
};

extern TFormTestir* FormTestir;
