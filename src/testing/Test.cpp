#include "testing/Test.h"

#include "widgets/Fonts.h"

TFormTest* FormTest = nullptr;

TFormTest::TFormTest(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormTest"));
    setWindowTitle(QStringLiteral("Тестирование"));
    setClientSize(578, 412);
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
    setHelpContext(6);
    setPopupHelp(true);
}
