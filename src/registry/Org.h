#pragma once
#include "widgets/Form.h"

class QLabel;
class QPushButton;
namespace ui {
class DBGrid;
class DBNavigator;
class Panel;
} // namespace ui

// "Выбор учреждения": the list of institutions. Closing it, in any way, pins the testee list to
// the institution it stands on.
class TFormOrg : public ui::Form {
    Q_OBJECT
public:
    explicit TFormOrg(QWidget* parent = nullptr);

    ui::Panel *Panel1, *Panel2, *Panel3;
    QLabel* Label1;
    ui::DBGrid* DBGrid1;
    QPushButton *ButtonNew, *Button1, *ButtonSelect;
    ui::DBNavigator* DBNavigator;

    void ButtonNewClick();
    void Button1Click();
    void ButtonSelectClick();

    // The testee filter that shows no testee at all, for an institution without a number.
    static const QString kNoInstitution;
    // The testee filter for the current institution.
    static QString PinText();

protected:
    void FormActivate() override;
    void FormClose(ui::CloseAction& action) override;

private:
    // Filters the testees to the current institution's number.
    void pinTestees();
};

extern TFormOrg* FormOrg;
