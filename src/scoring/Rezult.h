#pragma once
#include "widgets/Form.h"

// "Результат тестирования": the window exists with its caption, size and help context; its controls come
// later.
class TFormRezult : public ui::Form {
    Q_OBJECT
public:
    explicit TFormRezult(QWidget* parent = nullptr);
};

extern TFormRezult* FormRezult;
