#include "maintenance/Unit2.h"

#include "data/DM.h"

TForm_bdanaliz* Form_bdanaliz = nullptr;

TForm_bdanaliz::TForm_bdanaliz(QWidget* parent)
    : TMemoEditor("Form_bdanaliz", QStringLiteral("Редактирование текста для анализа результатов"), 145,
                  parent) {
    bind(BD->DS_analiz, QStringLiteral("TEXT"));
}
