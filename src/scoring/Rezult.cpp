#include "scoring/Rezult.h"

#include "widgets/Fonts.h"

TFormRezult* FormRezult = nullptr;

TFormRezult::TFormRezult(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormRezult"));
    setWindowTitle(QStringLiteral("Результат тестирования"));
    setClientSize(691, 246);
    setFixedSize(size());
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
    setHelpContext(7);
    setPopupHelp(true);
}
