#include "registry/Org.h"

#include "app/Main.h"
#include "widgets/Fonts.h"

TFormOrg* FormOrg = nullptr;

TFormOrg::TFormOrg(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormOrg"));
    setWindowTitle(QStringLiteral("Выбор учреждения"));
    setClientSize(660, 420);
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
    setHelpContext(2);
    setPopupHelp(true);
}

void TFormOrg::FormActivate() {
    FormMain->InstitutionWindowActivated();
}
