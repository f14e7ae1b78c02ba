#pragma once
#include "widgets/Form.h"

// "Тестирование": the window exists with its caption, size and help context; its controls come later.
class TFormTest : public ui::Form {
    Q_OBJECT
public:
    explicit TFormTest(QWidget* parent = nullptr);
};

extern TFormTest* FormTest;
