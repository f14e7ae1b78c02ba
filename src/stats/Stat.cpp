#include "stats/Stat.h"

#include "widgets/Fonts.h"

TFormStat* FormStat = nullptr;

TFormStat::TFormStat(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormStat"));
    setWindowTitle(QStringLiteral("Статистика"));
    setClientSize(592, 507);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
}
