#include "scoring/Diagr.h"

#include "widgets/Fonts.h"

TFormDiagr* FormDiagr = nullptr;

TFormDiagr::TFormDiagr(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormDiagr"));
    setWindowTitle(QStringLiteral("Диаграмма"));
    setClientSize(663, 415);
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
    setHelpContext(7);
}
