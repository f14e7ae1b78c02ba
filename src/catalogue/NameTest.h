#pragma once
#include "widgets/Form.h"

class QLabel;
class QPushButton;
namespace ui {
class DBGrid;
class DBMemo;
class Panel;
} // namespace ui

// "Список тестов": the tests of the chosen type; choosing one makes it the current test.
class TFormNameTest : public ui::Form {
    Q_OBJECT
public:
    explicit TFormNameTest(QWidget* parent = nullptr);

    ui::Panel *Panel1, *Panel2;
    QLabel *Label1, *LabelTipTesta;
    QLabel* LabelLicence; // who made the chosen test, where it was published, its terms; hidden without

    ui::DBGrid* DBGrid1;
    ui::DBMemo* DBMemo1;
    QPushButton* ButtonSelect;

    void ButtonSelectClick();

protected:
    void FormActivate() override;

private:
    void showLicence();
};

extern TFormNameTest* FormNameTest;
