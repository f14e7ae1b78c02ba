#pragma once
#include "widgets/Form.h"

class QLabel;
class QLineEdit;
class QPushButton;
namespace ui {
class Panel;
class StringGrid;
} // namespace ui

// "Статистическая обработка (метод хи-квадрат)": a contingency table typed by the user, its
// totals and expected frequencies kept up to date, and the chi-square with its degrees of freedom.
class TFormX : public ui::Form {
    Q_OBJECT
public:
    explicit TFormX(QWidget* parent = nullptr);

    // More categories than anyone compares by eye, and a grid that stays responsive.
    static constexpr int kMaxCategories = 100;

    ui::Panel *Panel1, *Panel2, *Panel3, *Panel4;
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label7;
    QLineEdit *Edit1, *Edit2, *EditX, *EditN;
    ui::StringGrid *StringGrid1, *StringGrid2, *StringGrid3;
    QPushButton *Button1, *Button2;

    void FormCreate();
    void Edit1Change();
    void StringGrid1SetEditText();
    void Button1Click();
    void Button2Click();

private:
};

extern TFormX* FormX;
