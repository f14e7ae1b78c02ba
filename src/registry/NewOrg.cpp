#include "registry/NewOrg.h"

#include "widgets/Fonts.h"

TFormNewOrg* FormNewOrg = nullptr;

TFormNewOrg::TFormNewOrg(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormNewOrg"));
    setWindowTitle(QStringLiteral("Реквизиты учреждения"));
    setClientSize(520, 320);
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
    setHelpContext(2);
}
