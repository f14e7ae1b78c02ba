#pragma once
#include "widgets/Form.h"

// "Создание теста": the window exists with its caption, size and help context; its controls come later.
class TFormCreateTest : public ui::Form {
    Q_OBJECT
public:
    explicit TFormCreateTest(QWidget* parent = nullptr);
};

extern TFormCreateTest* FormCreateTest;
