#include "app/About.h"

#include "app/Picture.h"
#include "widgets/Fonts.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

TAboutBox* AboutBox = nullptr;

TAboutBox::TAboutBox(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("О программе"));
    // A dialog border without title-bar buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setClientSize(388, 211);
    setFixedSize(size());
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));

    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("Panel1"));
    frame->setFrameShape(QFrame::Panel);
    frame->setFrameShadow(QFrame::Sunken);
    frame->setGeometry(8, 8, 372, 161);

    ProgramIcon = new QLabel(frame);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setGeometry(6, 5, 119, 151);
    ProgramIcon->setPixmap(ProgramPicture());
    ProgramIcon->setScaledContents(true);

    const QFont title = ui::font(QStringLiteral("Courier New Cyr"), 20, ui::Bold);
    const QColor maroon(128, 0, 0);
    const QStringList lines = {QStringLiteral("Программа"), QStringLiteral("психологического"),
                               QStringLiteral("тестирования")};
    for (int i = 0; i < lines.size(); ++i) {
        auto* l = new QLabel(lines[i], frame);
        l->setObjectName(QStringLiteral("ProductName%1").arg(i + 1));
        ui::style(l, title, maroon);
        l->setGeometry(134, 10 + 24 * i, 234, 24);
        if (i == 0) ProductName = l;
    }

    Version = new QLabel(QStringLiteral("Версия 1.0"), frame);
    Version->setObjectName(QStringLiteral("Version"));
    ui::style(Version, ui::font(QStringLiteral("MS Sans Serif"), 13, ui::Bold), QColor(0, 0, 128));
    Version->setGeometry(134, 92, 230, 18);

    Copyright =
        new QLabel(QStringLiteral("Разработка: команда программы\nпсихологического тестирования"), frame);
    Copyright->setObjectName(QStringLiteral("Copyright"));
    ui::style(Copyright, ui::font(QStringLiteral("MS Sans Serif"), 12, ui::Bold), QColor(128, 0, 128));
    Copyright->setGeometry(134, 116, 234, 36);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setFont(ui::font(QStringLiteral("MS Sans Serif"), 13, ui::Bold));
    OKButton->setGeometry(156, 177, 76, 27);
    setDefaultButton(OKButton);
    setCancelButton(OKButton);
    setButtonModalResult(OKButton, ui::mrOk);
}
