#pragma once
#include "scoring/ChartWindow.h"

// "Диаграмма": the current testee's scores in the current test as a pie.
class TFormDiagr1 : public scoring::ChartWindow {
    Q_OBJECT
public:
    explicit TFormDiagr1(QWidget* parent = nullptr);
};

extern TFormDiagr1* FormDiagr1;
