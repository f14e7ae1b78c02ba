#include "scoring/AllVopr.h"

#include "widgets/Fonts.h"

TFormAllVopr* FormAllVopr = nullptr;

TFormAllVopr::TFormAllVopr(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormAllVopr"));
    setWindowTitle(QStringLiteral("Проверка"));
    setClientSize(394, 225);
    // A dialog border; the title bar carries no buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(size());
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
    setHelpContext(7);
}
