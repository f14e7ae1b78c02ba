#pragma once
#include "widgets/Form.h"

// "Диаграмма": the window exists with its caption, size and help context; its controls come later.
class TFormDiagr1 : public ui::Form {
    Q_OBJECT
public:
    explicit TFormDiagr1(QWidget* parent = nullptr);
};

extern TFormDiagr1* FormDiagr1;
