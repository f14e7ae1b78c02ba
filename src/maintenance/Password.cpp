#include "maintenance/Password.h"

#include "app/Main.h"
#include "widgets/Fonts.h"
#include "widgets/Handler.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TPasswordDlg* PasswordDlg = nullptr;

namespace {
// Compared exactly: same length, same characters, same case.
const QString kPassword = QStringLiteral("Kestrila");
} // namespace

TPasswordDlg::TPasswordDlg(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("PasswordDlg"));
    setWindowTitle(QStringLiteral("Введите пароль"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setClientSize(287, 114);
    setFixedSize(size());
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 14));

    Label1 = new QLabel(QStringLiteral("Введите пароль :"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(10, 8, 200, 18);
    Password = new QLineEdit(this);
    Password->setObjectName(QStringLiteral("Password"));
    Password->setEchoMode(QLineEdit::Password);
    Password->setGeometry(10, 30, 267, 24);
    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setGeometry(62, 76, 90, 28);
    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setGeometry(164, 76, 90, 28);

    setDefaultButton(OKBtn);
    setCancelButton(CancelBtn);
    setButtonModalResult(OKBtn, ui::mrOk);
    setButtonModalResult(CancelBtn, ui::mrCancel);
    ui::on(OKBtn, &QPushButton::clicked, this, [this] { OKBtnClick(); });
}

void TPasswordDlg::OKBtnClick() {
    // A wrong password says nothing and hides nothing; the typed text stays for next time.
    if (Password->text() == kPassword) FormMain->PasswordConfirmed();
}
