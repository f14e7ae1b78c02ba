#pragma once
#include "widgets/Form.h"

// "Выбор типа теста": the window exists with its caption, size and help context; its controls come later.
class TTipTestForm : public ui::Form {
    Q_OBJECT
public:
    explicit TTipTestForm(QWidget* parent = nullptr);
};

extern TTipTestForm* TipTestForm;
