#pragma once
#include "widgets/Form.h"

class QLabel;
class QPushButton;
namespace ui {
class DBMemo;
class DBText;
class Panel;
} // namespace ui

// "Результат тестирования": the level and text of the range of criterion 1 that holds the
// current testee's score in the current test.
class TFormRezult : public ui::Form {
    Q_OBJECT
public:
    explicit TFormRezult(QWidget* parent = nullptr);

    ui::Panel *Panel1, *Panel2, *Panel3;
    QLabel *Label1, *Label2;
    ui::DBText *DBText1, *DBText2;
    ui::DBMemo* DBMemo1;
    QPushButton *ButtonClose, *ButtonPrint;
    QLabel* LabelNorm; // the score's standard scores, or why there are none

    void ButtonCloseClick();
    void ButtonPrintClick();

    int krit = 1; // the criterion shown
    int ball = 0; // its score

protected:
    void FormActivate() override;
};

extern TFormRezult* FormRezult;
