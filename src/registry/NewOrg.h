#pragma once
#include "widgets/Form.h"

class QLabel;
class QPushButton;
class QScrollArea;
namespace ui {
class DBEdit;
class DBLookupComboBox;
class Panel;
} // namespace ui

// "Реквизиты учреждения": the details of the current institution, edited in place. A new
// institution's progress is kept in the main window's NewOrgState.
class TFormNewOrg : public ui::Form {
    Q_OBJECT
public:
    explicit TFormNewOrg(QWidget* parent = nullptr);

    QScrollArea* ScrollBox1;
    QLabel* Image1;
    QLabel *Label2, *Label3, *Label4, *Label5, *Label6;
    ui::DBLookupComboBox *DBLookupComboBox2, *DBLookupComboBox3, *DBLookupComboBox1;
    ui::DBEdit *EditNAMEU, *EditPODRU;
    ui::Panel* Panel1;
    QPushButton *Button1, *Button2;

    void Button1Click();
    void Button2Click();

protected:
    void FormActivate() override;
};

extern TFormNewOrg* FormNewOrg;
