#include "stats/X.h"

#include "widgets/Fonts.h"

TFormX* FormX = nullptr;

TFormX::TFormX(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormX"));
    setWindowTitle(QStringLiteral("Статистическая обработка (метод хи-квадрат)"));
    setClientSize(655, 407);
    setFixedSize(size());
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
}
