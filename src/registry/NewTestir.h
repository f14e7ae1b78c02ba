#pragma once
#include "widgets/Form.h"

// "Анкетные данные": the window exists with its caption, size and help context; its controls come later.
class TFormNewTestir : public ui::Form {
    Q_OBJECT
public:
    explicit TFormNewTestir(QWidget* parent = nullptr);
};

extern TFormNewTestir* FormNewTestir;
