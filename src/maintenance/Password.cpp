#include "maintenance/Password.h"

#include "app/Main.h"
#include "data/OfficePassword.h"
#include "dataset/Aliases.h"
#include "widgets/Fonts.h"
#include "widgets/Handler.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

TPasswordDlg* PasswordDlg = nullptr;

std::function<int(int)> TPasswordDlg::FailureDelayMs = [](int failures) {
    // Two slips cost nothing; then 1, 2, 4 … seconds, at most half a minute.
    return failures < 3 ? 0 : std::min(1000 << std::min(failures - 3, 5), 30000);
};

QString PasswordFolder() {
    return db::Aliases::resolve(QStringLiteral("morv"));
}

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

namespace {
int failures = 0;
} // namespace

int PasswordFailures() {
    return failures;
}

bool CheckPsychologistPassword(const QString& typed, QPushButton* ok) {
    if (office::passwordMatches(PasswordFolder(), typed)) {
        failures = 0;
        return true;
    }
    // Guessing gets slower: OK waits a growing while before it takes the next try.
    const int delay = TPasswordDlg::FailureDelayMs(++failures);
    if (delay > 0) {
        ok->setEnabled(false);
        QTimer::singleShot(delay, ok, [ok] { ok->setEnabled(true); });
    }
    return false;
}

void TPasswordDlg::OKBtnClick() {
    // A wrong password says nothing and hides nothing; the typed text stays for next time.
    if (CheckPsychologistPassword(Password->text(), OKBtn)) FormMain->PasswordConfirmed();
}
