#pragma once
#include "widgets/Form.h"

class QLabel;
class QPushButton;
namespace ui {
class DBGrid;
class Panel;
} // namespace ui

// "Выбор типа теста": picks a test type, then opens the list of its tests over itself.
class TTipTestForm : public ui::Form {
    Q_OBJECT
public:
    explicit TTipTestForm(QWidget* parent = nullptr);

    ui::Panel *Panel1, *Panel2;
    QLabel *Label1, *Label2;
    ui::DBGrid* DBGrid1;
    QPushButton *ButtonSelect, *ButtonCancel;

    void ButtonSelectClick();
    void ButtonCancelClick();
    void DBGrid1DblClick();
    void DBGrid1KeyPress(QChar key);

protected:
    void FormActivate() override;
    bool eventFilter(QObject* obj, QEvent* e) override;

private:
    // The three ways of choosing lead here.
    void chooseType();
};

extern TTipTestForm* TipTestForm;
