#pragma once
#include "widgets/Form.h"

// "Статистика": the window exists with its caption, size and help context; its controls come later.
class TFormStat : public ui::Form {
    Q_OBJECT
public:
    explicit TFormStat(QWidget* parent = nullptr);
};

extern TFormStat* FormStat;
