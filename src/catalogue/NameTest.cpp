#include "catalogue/NameTest.h"

#include "widgets/Fonts.h"

TFormNameTest* FormNameTest = nullptr;

TFormNameTest::TFormNameTest(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormNameTest"));
    setWindowTitle(QStringLiteral("Список тестов"));
    setClientSize(632, 453);
    // A dialog border; the title bar carries no buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(size());
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
    setHelpContext(4);
    setPopupHelp(true);
}
