#include "catalogue/TipTest.h"

#include "widgets/Fonts.h"

TTipTestForm* TipTestForm = nullptr;

TTipTestForm::TTipTestForm(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("TipTestForm"));
    setWindowTitle(QStringLiteral("Выбор типа теста"));
    setClientSize(667, 269);
    // A dialog border; the title bar carries no buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(size());
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
    setHelpContext(5);
    setPopupHelp(true);
}
