#pragma once
#include "widgets/Form.h"

class QLabel;
class QPushButton;
class QScrollArea;
namespace ui {
class DBComboBox;
class DBEdit;
class DBLookupComboBox;
class Panel;
} // namespace ui

// "Анкетные данные": the questionnaire of the current testee, edited in place.
class TFormNewTestir : public ui::Form {
    Q_OBJECT
public:
    explicit TFormNewTestir(QWidget* parent = nullptr);

    QScrollArea* ScrollBox1;
    QLabel* Image1;
    QLabel *Label3, *Label4, *Label5, *Label6, *Label7, *Label8;
    ui::DBEdit *EditFAMTESTIR, *EditNAMETESTIR, *EditOTCHTESTIR, *EditGRTESTIR;
    ui::DBComboBox* DBComboBoxPol;
    ui::DBLookupComboBox* DBLookupComboBox1;
    ui::Panel* Panel1;
    QPushButton *Button1, *Button2;

    void Button1Click();
    void Button2Click();

protected:
    void FormActivate() override;
};

extern TFormNewTestir* FormNewTestir;
