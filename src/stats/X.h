#pragma once
#include "widgets/Form.h"

// "Статистическая обработка (метод хи-квадрат)": the window exists with its caption, size and help context;
// its controls come later.
class TFormX : public ui::Form {
    Q_OBJECT
public:
    explicit TFormX(QWidget* parent = nullptr);
};

extern TFormX* FormX;
