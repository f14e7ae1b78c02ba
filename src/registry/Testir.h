#pragma once
#include "widgets/Form.h"

// "Выбор тестируемого": the window exists with its caption, size and help context; its controls come later.
// Its activation already takes its step of the main window's enabling chain.
class TFormTestir : public ui::Form {
    Q_OBJECT
public:
    explicit TFormTestir(QWidget* parent = nullptr);

protected:
    void FormActivate() override;
};

extern TFormTestir* FormTestir;
