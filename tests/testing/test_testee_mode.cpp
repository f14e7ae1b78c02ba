// Testee mode: the run full screen, nothing that leaves it (Esc, Alt+F4, the close box, the
// window's state) until it is finished or the psychologist's password is typed, and a thank-you
// screen at the end that only the password closes.
#include "TestingWindow.h"
#include "app/AppFixture.h"
#include "app/Main.h"
#include "testing/Test.h"
#include "testing/TesteeMode.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

using TesteeModeTest = AppTest;

bool fullScreen(QWidget* w) {
    return w->windowState() & Qt::WindowFullScreen;
}

// Every way out a testee could try; the window must still be there, full screen, afterwards.
void tryToLeave(QWidget* w) {
    QWidget* focus = w->focusWidget() ? w->focusWidget() : w;
    QTest::keyClick(focus, Qt::Key_Escape);
    QTest::keyClick(focus, Qt::Key_F4, Qt::AltModifier);
    QTest::keyClick(focus, Qt::Key_Space, Qt::AltModifier);
    QTest::keyClick(focus, Qt::Key_F1);
    QCloseEvent byWindowManager; // what the close box and Alt+F4 of a window manager send
    QApplication::sendEvent(w, &byWindowManager);
    EXPECT_FALSE(byWindowManager.isAccepted());
    EXPECT_FALSE(w->close());
    w->showNormal();
    w->showMinimized();
    settle();
    QTRY_VERIFY_WITH_TIMEOUT(fullScreen(w), 2000);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), w);
}

void typePassword(QWidget* dialog, const QString& text) {
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("Password"));
    ASSERT_NE(edit, nullptr);
    typeText(edit, text);
    clickButton(dialog, "OKBtn");
}

} // namespace

TEST_F(TesteeModeTest, NothingButThePsychologistsPasswordEndsTheRun) {
    ASSERT_TRUE(chooseRun(1, 4, 1));
    FormMain->TestChosen();
    FormMain->PasswordConfirmed();
    bool ran = false;
    whenModal([&](QWidget* w) {
        ran = true;
        ASSERT_EQ(w, FormTest);
        QTRY_VERIFY_WITH_TIMEOUT(fullScreen(FormTest), 2000);
        EXPECT_TRUE(FormTest->windowFlags() & Qt::FramelessWindowHint);
        EXPECT_FALSE(FormTest->ButtonClose->isVisible());
        EXPECT_TRUE(FormTest->ButNext->isVisible());
        chooseOption(1);
        FormTest->ButNext->click();
        EXPECT_EQ(shownQuestion(), 2);
        tryToLeave(FormTest);

        // A wrong password keeps the run; the right one ends it.
        whenModal([&](QWidget* ask) {
            typePassword(ask, QStringLiteral("kestrila"));
            EXPECT_TRUE(ask->isVisible());
            clickButton(ask, "CancelBtn");
        });
        clickButton(FormTest, "ButtonPsychologist");
        EXPECT_TRUE(FormTest->isVisible());
        whenModal([&](QWidget* ask) { typePassword(ask, QStringLiteral("Kestrila")); });
        clickButton(FormTest, "ButtonPsychologist");
    });
    EXPECT_EQ(testing::runTesteeMode(), testing::TesteeEnd::Password);
    EXPECT_TRUE(ran);
    EXPECT_FALSE(FormTest->isVisible());
    // The window is itself again for an ordinary run.
    EXPECT_FALSE(FormTest->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_FALSE(fullScreen(FormTest));
    const QList<RunRow> rows = answerRows(db->dir(), 1, 4, 1);
    ASSERT_FALSE(rows.isEmpty());
    EXPECT_EQ(rows[0].number, 1);
    EXPECT_EQ(rows[0].value, 1) << "the choice made in testee mode is stored";
    inTestingWindow([] {
        EXPECT_TRUE(FormTest->ButtonClose->isVisible());
        EXPECT_FALSE(FormTest->findChild<QPushButton*>("ButtonFinish")->isVisible());
    });
}

TEST_F(TesteeModeTest, AFinishedRunWaitsOnTheThankYouScreenForThePassword) {
    ASSERT_TRUE(chooseRun(1, 4, 1));
    FormMain->TestChosen();
    FormMain->PasswordConfirmed();
    bool thanked = false;
    whenModal([&](QWidget* w) {
        ASSERT_EQ(w, FormTest);
        chooseOption(0);
        whenModal([&](QWidget* thanks) {
            thanked = true;
            EXPECT_EQ(thanks->objectName(), "FormThanks");
            QTRY_VERIFY_WITH_TIMEOUT(fullScreen(thanks), 2000);
            EXPECT_FALSE(FormTest->isVisible());
            tryToLeave(thanks);
            typePassword(thanks, QStringLiteral("wrong"));
            EXPECT_TRUE(thanks->isVisible());
            typePassword(thanks, QStringLiteral("Kestrila"));
        });
        clickButton(FormTest, "ButtonFinish"); // the confirmation is answered yes
    });
    FormMain->TesteeMode->trigger();
    EXPECT_TRUE(thanked);
    EXPECT_TRUE(
        messages->texts().contains("Завершить тестирование? Изменить ответы после этого будет нельзя."));
    EXPECT_TRUE(QApplication::topLevelWidgets().contains(FormMain));
}
