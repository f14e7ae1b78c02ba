#include "catalogue/CreateTest.h"

#include "widgets/Fonts.h"

TFormCreateTest* FormCreateTest = nullptr;

TFormCreateTest::TFormCreateTest(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormCreateTest"));
    setWindowTitle(QStringLiteral("Создание теста"));
    setClientSize(760, 560);
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
}
