#pragma once
#include "scoring/ChartWindow.h"

// "Диаграмма": the bar chart of the current testee's scores in the current test; a click on the
// test's name shows the same scores as a pie.
class TFormDiagr : public scoring::ChartWindow {
    Q_OBJECT
public:
    explicit TFormDiagr(QWidget* parent = nullptr);

    void DBText1Click();
};

extern TFormDiagr* FormDiagr;
