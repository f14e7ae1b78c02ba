#pragma once
#include "widgets/Form.h"

namespace ui {
class DBText;
class Panel;
} // namespace ui

// "Диаграмма": the current test's name in the top strip; the charts come later.
class TFormDiagr : public ui::Form {
    Q_OBJECT
public:
    explicit TFormDiagr(QWidget* parent = nullptr);

    ui::Panel* Panel1;
    ui::DBText* DBText1;
};

extern TFormDiagr* FormDiagr;
