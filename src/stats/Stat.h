#pragma once
#include "widgets/Form.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
namespace db {
class Query;
}
namespace ui {
class DBGrid;
class Panel;
} // namespace ui

// "Статистика": mean, mean deviation, variance and standard deviation of two query results, and
// their correlation. Each result is text in an edit that the next step reads back as shown.
class TFormStat : public ui::Form {
    Q_OBJECT
public:
    explicit TFormStat(QWidget* parent = nullptr);

    ui::Panel *Panel1, *Panel2, *Panel3;
    QLabel* Label1;
    QPushButton* Button7;
    QPlainTextEdit *MemoSQL1, *MemoSQL2;
    QPushButton *ButtonExec1, *ButtonExec2;
    ui::DBGrid *DBGrid1, *DBGrid2;
    QPushButton *ButtonSred, *ButtonSO, *ButtonDisp, *ButtonSto;
    QLineEdit *EditSred, *EditSO, *EditDisp, *EditSto;
    QPushButton *Button1, *Button2, *Button3, *Button4;
    QLineEdit *EditSred2, *EditSO2, *EditDisp2, *EditStO2;
    QPushButton* Button5;
    QLineEdit* EditR;
    QPushButton* Button6;

    void ButtonExec1Click();
    void ButtonExec2Click();
    void ButtonSredClick();
    void ButtonSOClick();
    void ButtonDispClick();
    void ButtonStoClick();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void Button5Click();
    void Button6Click();
    void Button7Click();

protected:
    void FormActivate() override;

private:
    // One query with its memo and its four result edits.
    struct Series {
        int number;
        db::Query* query;
        QPlainTextEdit* memo;
        QLineEdit *sred, *so, *disp, *sto;
    };
    Series series1() const;
    Series series2() const;

    void buildSeries(QWidget* panel, int x, const char* memo, const char* exec, const char* grid,
                     QPlainTextEdit*& memoOut, QPushButton*& execOut, ui::DBGrid*& gridOut);

    void reopen(const Series& s);
    void execute(const Series& s);
    void mean(const Series& s);
    void meanDeviation(const Series& s);
    void variance(const Series& s);
    void standardDeviation(const Series& s);
};

extern TFormStat* FormStat;
