#include "app/Fist.h"

#include "app/Picture.h"
#include "widgets/Fonts.h"

#include <QLabel>

TFistForm::TFistForm(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FistForm"));
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
    setClientSize(527, 224);
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
    ui::fill(this, QColor(236, 233, 216));

    const QColor maroon(128, 0, 0);
    auto* top = new QLabel(QStringLiteral("Программа психологического тестирования"), this);
    top->setObjectName(QStringLiteral("Label1"));
    ui::style(top, ui::font(QStringLiteral("Arial"), 23, ui::Bold), maroon);
    ui::fill(top, QColor(214, 208, 180));
    top->setAlignment(Qt::AlignCenter);
    top->setGeometry(0, 0, 527, 36);

    auto* pic = new QLabel(this);
    pic->setObjectName(QStringLiteral("Image1"));
    pic->setPixmap(ProgramPicture());
    pic->setScaledContents(true);
    pic->setGeometry(10, 42, 127, 157);

    auto* lines = new QLabel(this);
    lines->setObjectName(QStringLiteral("Label2"));
    lines->setText(QStringLiteral("Программа разработана командой\n"
                                  "программы психологического тестирования\n"
                                  "для проведения психодиагностических исследований\n\n"
                                  "Москва, 2026"));
    ui::style(lines, ui::font(QStringLiteral("Times New Roman Cyr"), 16, ui::Italic), QColor(0, 0, 128));
    lines->setAlignment(Qt::AlignCenter);
    lines->setGeometry(146, 48, 374, 140);

    auto* bottom = new QLabel(QStringLiteral("Команда разработчиков «Психологическое тестирование»"), this);
    bottom->setObjectName(QStringLiteral("Label3"));
    ui::style(bottom, ui::font(QStringLiteral("Arial"), 13, ui::Bold), maroon);
    ui::fill(bottom, QColor(214, 208, 180));
    bottom->setAlignment(Qt::AlignCenter);
    bottom->setGeometry(0, 202, 527, 22);
}
