#pragma once
#include "widgets/Form.h"

// "Список тестов": the window exists with its caption, size and help context; its controls come later.
class TFormNameTest : public ui::Form {
    Q_OBJECT
public:
    explicit TFormNameTest(QWidget* parent = nullptr);
};

extern TFormNameTest* FormNameTest;
