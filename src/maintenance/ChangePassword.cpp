#include "maintenance/ChangePassword.h"

#include "data/OfficePassword.h"
#include "maintenance/Password.h"
#include "widgets/Fonts.h"
#include "widgets/Handler.h"
#include "widgets/Messages.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TChangePasswordDlg::TChangePasswordDlg(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("ChangePasswordDlg"));
    setWindowTitle(QStringLiteral("Смена пароля"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setClientSize(330, 190);
    setFixedSize(size());
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 14));
    int y = 8;
    auto row = [&](const char* name, const QString& caption) {
        auto* l = new QLabel(caption, this);
        l->setGeometry(10, y, 310, 18);
        auto* e = new QLineEdit(this);
        e->setObjectName(QLatin1String(name));
        e->setEchoMode(QLineEdit::Password);
        e->setGeometry(10, y + 20, 310, 24);
        y += 48;
        return e;
    };
    OldPassword = row("OldPassword", QStringLiteral("Текущий пароль :"));
    NewPassword = row("NewPassword", QStringLiteral("Новый пароль :"));
    RepeatPassword = row("RepeatPassword", QStringLiteral("Новый пароль ещё раз :"));
    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setGeometry(110, y + 4, 100, 28);
    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setGeometry(220, y + 4, 100, 28);
    setDefaultButton(OKBtn);
    setCancelButton(CancelBtn);
    setButtonModalResult(CancelBtn, ui::mrCancel);
    ui::on(OKBtn, &QPushButton::clicked, this, [this] { OKBtnClick(); });
}

void TChangePasswordDlg::OKBtnClick() {
    const QString dir = PasswordFolder();
    if (!office::passwordMatches(dir, OldPassword->text())) {
        ui::ShowError(QStringLiteral("Текущий пароль введён неверно."));
        return;
    }
    if (NewPassword->text().isEmpty()) {
        ui::ShowError(QStringLiteral("Новый пароль не может быть пустым."));
        return;
    }
    if (NewPassword->text() != RepeatPassword->text()) {
        ui::ShowError(QStringLiteral("Новый пароль и его повтор не совпадают."));
        return;
    }
    office::setPassword(dir, NewPassword->text());
    ui::ShowMessage(QStringLiteral("Пароль изменён. Он действует на всех рабочих местах этой базы."));
    setModalResult(ui::mrOk);
}
