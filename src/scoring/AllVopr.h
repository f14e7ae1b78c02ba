#pragma once
#include "widgets/Form.h"

// "Проверка": the window exists with its caption, size and help context; its controls come later.
class TFormAllVopr : public ui::Form {
    Q_OBJECT
public:
    explicit TFormAllVopr(QWidget* parent = nullptr);
};

extern TFormAllVopr* FormAllVopr;
