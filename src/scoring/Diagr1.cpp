#include "scoring/Diagr1.h"

#include "widgets/Fonts.h"

TFormDiagr1* FormDiagr1 = nullptr;

TFormDiagr1::TFormDiagr1(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormDiagr1"));
    setWindowTitle(QStringLiteral("Диаграмма"));
    setClientSize(663, 415);
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
    setHelpContext(7);
}
