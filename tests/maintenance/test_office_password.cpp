// The office's own password: kept as a salted hash in the database folder, shared by every
// workstation, with the program's password until it is changed and a growing wait after misses.
#include "../app/AppFixture.h"

#include "Errors.h"
#include "app/Main.h"
#include "app/Startup.h"
#include "data/OfficePassword.h"
#include "maintenance/ChangePassword.h"
#include "maintenance/Password.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

namespace {

// Types a password into the dialog and presses Enter, as the psychologist does.
int tryPassword(const QString& text) {
    whenModal([&](QWidget*) {
        PasswordDlg->Password->clear();
        typeText(PasswordDlg->Password, text);
        // OK waiting out a delay takes no Enter: then leave with Esc.
        const bool waiting = !PasswordDlg->OKBtn->isEnabled();
        QTest::keyClick(PasswordDlg->Password, Qt::Key_Return);
        if (waiting) QTest::keyClick(PasswordDlg->Password, Qt::Key_Escape);
    });
    return PasswordDlg->ShowModal();
}

// Another program instance on the same folder changes the password: a real second process.
int changeElsewhere(const QString& dir, const QString& password) {
    QProcess p;
    p.start(QStringLiteral(MORV_DB_TOOL), {QStringLiteral("password"), dir});
    p.write((password + QLatin1Char('\n')).toUtf8());
    p.closeWriteChannel();
    if (!p.waitForFinished(60000)) return -1;
    return p.exitCode();
}

} // namespace

TEST(OfficePassword, StoresASaltedArgon2idHashAndNeverTheText) {
    QTemporaryDir dir;
    EXPECT_FALSE(office::hasOwnPassword(dir.path()));
    EXPECT_TRUE(office::passwordMatches(dir.path(), QStringLiteral("Kestrila")));
    EXPECT_FALSE(office::passwordMatches(dir.path(), QStringLiteral("kestrila")));

    const QString mine = QStringLiteral("Сосна-2024 с пробелом");
    office::setPassword(dir.path(), mine);
    QFile f(dir.filePath(office::kPasswordFile));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray stored = f.readAll();
    EXPECT_TRUE(stored.startsWith("$argon2id$")) << stored.toStdString();
    EXPECT_FALSE(stored.contains(mine.toUtf8()));
    EXPECT_FALSE(stored.contains("Сосна"));
    EXPECT_TRUE(office::passwordMatches(dir.path(), mine));
    EXPECT_FALSE(office::passwordMatches(dir.path(), QStringLiteral("Kestrila")));
    EXPECT_FALSE(office::passwordMatches(dir.path(), mine + QLatin1Char(' ')));
    EXPECT_FALSE(office::passwordMatches(dir.path(), mine.toLower()));

    // The same password again gets another salt, so two offices' files never match.
    office::setPassword(dir.path(), mine);
    f.close();
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_NE(f.readAll(), stored);
    EXPECT_TRUE(QDir(dir.path()).entryList({QStringLiteral("*.new")}, QDir::Files | QDir::Hidden).isEmpty());

    // A damaged file opens nothing, not even the program's password.
    f.close();
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("$argon2id$v=19$garbage\n");
    f.close();
    EXPECT_FALSE(office::passwordMatches(dir.path(), mine));
    EXPECT_FALSE(office::passwordMatches(dir.path(), QStringLiteral("Kestrila")));
    EXPECT_THROW(office::setPassword(dir.path(), QString()), db::DatabaseError);
}

TEST_F(AppTest, APasswordChangedOnAnotherWorkstationIsTheOneThatOpensTheTables) {
    TFormMain* m = FormMain;
    EXPECT_EQ(tryPassword(QStringLiteral("Kestrila")), ui::mrOk);
    EXPECT_TRUE(m->N1->isVisible());

    ASSERT_EQ(changeElsewhere(db->dir(), QStringLiteral("Ясень77")), 0);
    // A second run of the program on the same folder: the old password opens nothing.
    DestroyApplicationForms();
    CreateApplicationForms();
    m = FormMain;
    EXPECT_EQ(tryPassword(QStringLiteral("Kestrila")), ui::mrOk);
    EXPECT_FALSE(m->N1->isVisible());
    EXPECT_EQ(tryPassword(QStringLiteral("Ясень77")), ui::mrOk);
    EXPECT_TRUE(m->N1->isVisible());
    EXPECT_TRUE(messages->entries.empty()) << "wrong passwords are refused silently";

    // Changed here: the current one is asked for first, the new one twice.
    auto change = [&](const QString& old, const QString& fresh, const QString& again) {
        whenModal([&](QWidget* w) {
            auto* dlg = static_cast<TChangePasswordDlg*>(w);
            typeText(dlg->OldPassword, old);
            typeText(dlg->NewPassword, fresh);
            typeText(dlg->RepeatPassword, again);
            dlg->OKBtn->click();
            if (dlg->isVisible()) dlg->CancelBtn->click();
        });
        m->ChangePassword->trigger();
    };
    change(QStringLiteral("Kestrila"), QStringLiteral("Дуб"), QStringLiteral("Дуб"));
    change(QStringLiteral("Ясень77"), QStringLiteral("Дуб"), QStringLiteral("Дуб!"));
    EXPECT_EQ(messages->texts(),
              (QStringList{"Текущий пароль введён неверно.", "Новый пароль и его повтор не совпадают."}));
    EXPECT_TRUE(office::passwordMatches(db->dir(), QStringLiteral("Ясень77")));
    messages->clear();
    change(QStringLiteral("Ясень77"), QStringLiteral("Дуб"), QStringLiteral("Дуб"));
    EXPECT_TRUE(office::passwordMatches(db->dir(), QStringLiteral("Дуб")));
    EXPECT_FALSE(office::passwordMatches(db->dir(), QStringLiteral("Ясень77")));
}

TEST_F(AppTest, WrongPasswordsInARowMakeOkWaitLongerEachTime) {
    std::vector<int> asked;
    const auto saved = TPasswordDlg::FailureDelayMs;
    TPasswordDlg::FailureDelayMs = [&](int failures) {
        asked.push_back(failures);
        return failures < 2 ? 0 : 100 * failures;
    };
    EXPECT_EQ(tryPassword(QStringLiteral("Kestrila")), ui::mrOk); // starts the count afresh
    EXPECT_EQ(tryPassword(QStringLiteral("one")), ui::mrOk);
    EXPECT_TRUE(PasswordDlg->OKBtn->isEnabled());
    EXPECT_EQ(tryPassword(QStringLiteral("two")), ui::mrOk);
    // Now OK waits: even the right password, typed at once, is not taken.
    EXPECT_FALSE(PasswordDlg->OKBtn->isEnabled());
    FormMain->N1->setVisible(false);
    EXPECT_EQ(tryPassword(QStringLiteral("Kestrila")), ui::mrCancel);
    EXPECT_FALSE(FormMain->N1->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(PasswordDlg->OKBtn->isEnabled(), 2000);
    EXPECT_EQ(tryPassword(QStringLiteral("three")), ui::mrOk);
    EXPECT_EQ(asked, (std::vector<int>{1, 2, 3}));
    QTRY_VERIFY_WITH_TIMEOUT(PasswordDlg->OKBtn->isEnabled(), 2000);
    EXPECT_EQ(tryPassword(QStringLiteral("Kestrila")), ui::mrOk);
    EXPECT_TRUE(FormMain->N1->isVisible());
    EXPECT_EQ(PasswordFailures(), 0);
    TPasswordDlg::FailureDelayMs = saved;
}
