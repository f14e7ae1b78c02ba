#include "registry/NewTestir.h"

#include "widgets/Fonts.h"

TFormNewTestir* FormNewTestir = nullptr;

TFormNewTestir::TFormNewTestir(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormNewTestir"));
    setWindowTitle(QStringLiteral("Анкетные данные"));
    setClientSize(520, 340);
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
    setHelpContext(3);
}
