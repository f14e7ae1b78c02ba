#include "maintenance/Unit1.h"

#include "data/DM.h"

TForm_bdtest* Form_bdtest = nullptr;

TForm_bdtest::TForm_bdtest(QWidget* parent)
    : TMemoEditor("Form_bdtest", QStringLiteral("Редактирование описания теста"), 153, parent) {
    bind(BD->DS_test, QStringLiteral("XARAKT"));
}
