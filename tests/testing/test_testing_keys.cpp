// The testing window by keyboard alone: digits choose an option and store it at once, Page Down
// and Page Up move between questions, digits typed into the jump box jump.
#include "TestingWindow.h"
#include "app/AppFixture.h"
#include "testing/Test.h"
#include "widgets/RadioGroup.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

namespace {

using TestingKeysTest = AppTest;

int answerTo(const QList<RunRow>& rows, int question) {
    for (const auto& r : rows)
        if (r.number == question) return r.value;
    return -99;
}

// A key as the testee presses it: to the control that has the focus, passed up from there.
void press(QWidget* focus, Qt::Key key) {
    QTest::keyClick(focus, key);
}

} // namespace

TEST_F(TestingKeysTest, DigitsChooseAndPageKeysMove) {
    ASSERT_TRUE(chooseRun(1, 4, 1)); // a testee without answers, four options a question
    const QString dir = db->dir();
    inTestingWindow([&] {
        ui::RadioGroup* group = FormTest->RadioGroupOtvet;
        press(group->button(0), Qt::Key_3);
        EXPECT_EQ(group->itemIndex(), 2);
        EXPECT_TRUE(group->button(2)->hasFocus() || !FormTest->isActiveWindow());
        EXPECT_EQ(answerTo(answerRows(dir, 1, 4, 1), 1), 2) << "the third option stored at once";
        // No fifth option: nothing changes.
        press(group->button(2), Qt::Key_5);
        press(group->button(2), Qt::Key_9);
        EXPECT_EQ(group->itemIndex(), 2);
        EXPECT_EQ(answerTo(answerRows(dir, 1, 4, 1), 1), 2);

        press(group->button(2), Qt::Key_PageDown);
        EXPECT_EQ(shownQuestion(), 2);
        EXPECT_EQ(group->itemIndex(), -1);
        press(FormTest->ButNext, Qt::Key_1);
        EXPECT_EQ(answerTo(answerRows(dir, 1, 4, 1), 2), 0);
        press(group->button(0), Qt::Key_PageUp);
        EXPECT_EQ(shownQuestion(), 1);
        EXPECT_EQ(group->itemIndex(), 2) << "the stored choice shown again";
        press(group->button(2), Qt::Key_PageUp);
        EXPECT_EQ(shownQuestion(), 1) << "nothing before the first question";

        // In the jump box a digit is a question's number, not an option.
        FormTest->EditVopr->selectAll();
        press(FormTest->EditVopr, Qt::Key_4);
        EXPECT_EQ(shownQuestion(), 4);
        EXPECT_EQ(answerTo(answerRows(dir, 1, 4, 1), 4), -1);
    });
    EXPECT_TRUE(messages->texts().isEmpty()) << messages->texts().join('|').toStdString();
}
