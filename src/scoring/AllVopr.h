#pragma once
#include "widgets/Form.h"

class QFrame;
class QLabel;
class QPushButton;
namespace ui {
class Panel;
class ProgressBar;
} // namespace ui

// "Проверка": checks that the current testee answered every question of the current test, then
// writes one score row per criterion and hands over to the result or diagram window.
class TFormAllVopr : public ui::Form {
    Q_OBJECT
public:
    explicit TFormAllVopr(QWidget* parent = nullptr);

    ui::Panel *Panel1, *Panel2, *Panel3;
    QFrame* Bevel1;
    QPushButton *Button1, *Button2, *Button3;
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6;
    ui::ProgressBar* PB;

    void Button1Click();
    void Button2Click();
    void Button3Click();

    // The scoring steps of Button1Click up to the window that follows; returns the number of
    // criteria of the test (KOLKRIT).
    int ScoreAnswers();

protected:
    void FormActivate() override;
};

extern TFormAllVopr* FormAllVopr;
