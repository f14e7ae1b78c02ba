#include "registry/Testir.h"

#include "app/Main.h"
#include "widgets/Fonts.h"

TFormTestir* FormTestir = nullptr;

TFormTestir::TFormTestir(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormTestir"));
    setWindowTitle(QStringLiteral("Выбор тестируемого"));
    setClientSize(660, 420);
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
    setHelpContext(3);
}

void TFormTestir::FormActivate() {
    FormMain->TesteeWindowActivated();
}
