#pragma once
#include "widgets/Form.h"

// "Диаграмма": the window exists with its caption, size and help context; its controls come later.
class TFormDiagr : public ui::Form {
    Q_OBJECT
public:
    explicit TFormDiagr(QWidget* parent = nullptr);
};

extern TFormDiagr* FormDiagr;
