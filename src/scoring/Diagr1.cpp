#include "scoring/Diagr1.h"

TFormDiagr1* FormDiagr1 = nullptr;

TFormDiagr1::TFormDiagr1(QWidget* parent) : scoring::ChartWindow("FormDiagr1", true, parent) {}
