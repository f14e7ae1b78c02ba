// The testing window on the sample database: showing questions, storing choices, moving and
// jumping, the answer font, and the failures of a run that cannot start.
#include "TestingWindow.h"
#include "app/AppFixture.h"
#include "app/Main.h"
#include "data/DM.h"
#include "dbf/Os.h"
#include "testing/Test.h"
#include "widgets/DBMemo.h"
#include "widgets/DBText.h"
#include "widgets/RadioGroup.h"
#include "widgets/UpDown.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <cerrno>

namespace {

using TestingTest = AppTest;

QList<int> questionsOf(const QList<RunRow>& rows) {
    QList<int> q;
    for (const auto& r : rows)
        q << r.number;
    return q;
}

int answerTo(const QList<RunRow>& rows, int question) {
    for (const auto& r : rows)
        if (r.number == question) return r.value;
    return -99;
}

void jump(const QString& text) {
    FormTest->EditVopr->setText(text);
}

} // namespace

TEST_F(TestingTest, FirstShowingCreatesTheRunRowAndChoicesAreStoredAtOnce) {
    ASSERT_TRUE(chooseRun(1, 4, 1)); // a testee without answers
    const QString dir = db->dir();
    inTestingWindow([&] {
        EXPECT_EQ(shownQuestion(), 1);
        EXPECT_EQ(FormTest->LabelVopr->text(), QStringLiteral("10"));
        EXPECT_EQ(FormTest->UpDownVopr->max(), 10);
        EXPECT_EQ(FormTest->RadioGroupOtvet->items(),
                  QStringList({"Почти никогда", "Иногда", "Часто", "Почти всегда"}));
        EXPECT_EQ(FormTest->RadioGroupOtvet->itemIndex(), -1);
        auto rows = answerRows(dir, 1, 4, 1);
        ASSERT_EQ(rows.size(), 1);
        EXPECT_EQ(rows[0].number, 1);
        EXPECT_EQ(rows[0].value, -1);
        EXPECT_EQ(rows[0].date, QDate::currentDate());

        chooseOption(2);
        EXPECT_EQ(answerTo(answerRows(dir, 1, 4, 1), 1), 2) << "the third option is position 2";
        chooseOption(0);
        EXPECT_EQ(answerTo(answerRows(dir, 1, 4, 1), 1), 0);

        // Next and back: the choice is shown again and the showing writes nothing.
        FormTest->ButNext->click();
        EXPECT_EQ(shownQuestion(), 2);
        EXPECT_EQ(FormTest->RadioGroupOtvet->itemIndex(), -1);
        FormTest->ButPrior->click();
        EXPECT_EQ(shownQuestion(), 1);
        EXPECT_EQ(FormTest->RadioGroupOtvet->itemIndex(), 0);
        rows = answerRows(dir, 1, 4, 1);
        EXPECT_EQ(questionsOf(rows), QList<int>({1, 2}));
        EXPECT_EQ(answerTo(rows, 1), 0);
        EXPECT_EQ(answerTo(rows, 2), -1);
    });
    EXPECT_TRUE(messages->texts().isEmpty()) << messages->texts().join('|').toStdString();
}

TEST_F(TestingTest, MovingStopsAtBothEndsWithoutSecondRows) {
    ASSERT_TRUE(chooseRun(1, 5, 1));
    inTestingWindow([&] {
        FormTest->ButPrior->click();
        EXPECT_EQ(shownQuestion(), 1);
        jump(QStringLiteral("10"));
        EXPECT_EQ(shownQuestion(), 10);
        chooseOption(3);
        FormTest->ButNext->click();
        FormTest->ButNext->click();
        EXPECT_EQ(shownQuestion(), 10);
        EXPECT_EQ(FormTest->RadioGroupOtvet->itemIndex(), 3);
        // The spinner steps to the neighbouring question.
        FormTest->UpDownVopr->stepDown();
        EXPECT_EQ(shownQuestion(), 9);
    });
    EXPECT_EQ(questionsOf(answerRows(db->dir(), 1, 5, 1)), QList<int>({1, 10, 9}));
    // The window leaves the question table on the last question shown.
    EXPECT_EQ(BD->Table_voprosNVOPR->asInteger(), 9);
}

TEST_F(TestingTest, RetestShowsEarlierChoicesAndOverwritesThemInPlace) {
    ASSERT_TRUE(chooseRun(1, 1, 1)); // stored run of 2024-02-05, answers 1213120232
    const int before = answerRowCount(db->dir());
    inTestingWindow([&] {
        EXPECT_EQ(FormTest->RadioGroupOtvet->itemIndex(), 1);
        chooseOption(3);
        jump(QStringLiteral("4"));
        EXPECT_EQ(FormTest->RadioGroupOtvet->itemIndex(), 3);
        chooseOption(0);
    });
    const auto rows = answerRows(db->dir(), 1, 1, 1);
    EXPECT_EQ(questionsOf(rows), QList<int>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(answerTo(rows, 1), 3);
    EXPECT_EQ(answerTo(rows, 4), 0);
    EXPECT_EQ(answerTo(rows, 2), 2);
    for (const auto& r : rows)
        EXPECT_EQ(r.date, QDate(2024, 2, 5)) << "question " << r.number;
    EXPECT_EQ(answerRowCount(db->dir()), before);
}

TEST_F(TestingTest, RunRowsAreFoundWhateverFilterIsLeftOnTheTable) {
    ASSERT_TRUE(chooseRun(1, 2, 1)); // answers 3032023120
    BD->Table_rezult->filterBy(QStringLiteral("NOMU=3 and NOMTESTIR=2"));
    BD->Table_rezult->next();
    const int64_t cursorQuestion = BD->Table_rezultNOMVOPR->asInteger();
    const int rowsInView = BD->Table_rezult->recordCount();
    const int before = answerRowCount(db->dir());
    inTestingWindow([&] {
        EXPECT_EQ(FormTest->RadioGroupOtvet->itemIndex(), 3);
        chooseOption(1);
        FormTest->ButNext->click();
        EXPECT_EQ(FormTest->RadioGroupOtvet->itemIndex(), 0);
    });
    EXPECT_EQ(answerRowCount(db->dir()), before) << "an existing row was not found";
    EXPECT_EQ(answerTo(answerRows(db->dir(), 1, 2, 1), 1), 1);
    EXPECT_EQ(BD->Table_rezult->filter(), QStringLiteral("NOMU=3 and NOMTESTIR=2"));
    EXPECT_TRUE(BD->Table_rezult->filtered());
    EXPECT_EQ(BD->Table_rezult->recordCount(), rowsInView);
    EXPECT_EQ(BD->Table_rezultNOMVOPR->asInteger(), cursorQuestion);
}

TEST_F(TestingTest, JumpBoxIgnoresNumbersOutsideTheTestAndReportsText) {
    ASSERT_TRUE(chooseRun(1, 4, 1));
    // A gap in the numbering: question 3 is gone.
    ASSERT_TRUE(BD->Table_vopros->locate(QStringLiteral("NVOPR"), {3}));
    BD->Table_vopros->deleteRecord();
    inTestingWindow([&] {
        jump(QStringLiteral("5"));
        EXPECT_EQ(shownQuestion(), 5);
        for (const char* text : {"0", "-1", "11", ""}) {
            jump(QString::fromLatin1(text));
            EXPECT_EQ(shownQuestion(), 5) << text;
        }
        jump(QStringLiteral("3"));
        EXPECT_EQ(shownQuestion(), 5);
        EXPECT_EQ(FormTest->EditVopr->text(), QStringLiteral("5")) << "the question shown again sets the box";
        EXPECT_TRUE(messages->texts().isEmpty());

        FormTest->EditVopr->clear();
        FormTest->EditVopr->setFocus();
        QTest::keyClick(FormTest->EditVopr, Qt::Key_X);
        EXPECT_EQ(messages->texts(), QStringList{QStringLiteral("'x' is not a valid integer value")});
        EXPECT_EQ(shownQuestion(), 5);
    });
    EXPECT_EQ(questionsOf(answerRows(db->dir(), 1, 4, 1)), QList<int>({1, 5}));
}

TEST_F(TestingTest, OptionsFollowTheAnswerSetAndColumnCount) {
    ASSERT_TRUE(chooseRun(1, 4, 1));
    // Answer set 9 with seven options for question 2; question 1 and 3 share set 1.
    for (int i = 1; i <= 7; ++i)
        db->add(QStringLiteral("bd_otvet.dbf"), {9, QStringLiteral("Вариант %1").arg(i), i});
    BD->Table_otvet->refresh();
    Table* v = BD->Table_vopros;
    auto setQuestion = [&](int n, int set, int kol) {
        ASSERT_TRUE(v->locate(QStringLiteral("NVOPR"), {n}));
        v->edit();
        BD->Table_voprosNOTV->setValue(set);
        BD->Table_voprosKOL->setValue(kol);
        v->post();
    };
    setQuestion(1, 1, 0);
    setQuestion(2, 9, 3);
    setQuestion(3, 1, 20);
    inTestingWindow([&] {
        ui::RadioGroup* g = FormTest->RadioGroupOtvet;
        EXPECT_EQ(g->columns(), 1);
        const QStringList first = g->items();
        jump(QStringLiteral("2"));
        ASSERT_EQ(g->count(), 7);
        EXPECT_EQ(g->items().first(), QStringLiteral("Вариант 1"));
        EXPECT_EQ(g->columns(), 3);
        settle();
        // Columns of 3, 3 and 1, filled top to bottom.
        auto pos = [&](int i) { return g->button(i)->geometry().topLeft(); };
        EXPECT_EQ(pos(0).x(), pos(2).x());
        EXPECT_LT(pos(0).y(), pos(1).y());
        EXPECT_EQ(pos(3).y(), pos(0).y());
        EXPECT_GT(pos(3).x(), pos(0).x());
        EXPECT_EQ(pos(6).y(), pos(0).y());
        EXPECT_GT(pos(6).x(), pos(3).x());
        chooseOption(6);
        jump(QStringLiteral("3"));
        EXPECT_EQ(g->columns(), 16);
        EXPECT_EQ(g->items(), first) << "questions of one answer set show the same options";
    });
    EXPECT_EQ(answerTo(answerRows(db->dir(), 1, 4, 1), 2), 6);
    EXPECT_EQ(BD->Table_otvet->filter(), QStringLiteral("NOMOTV=1"));
}

TEST_F(TestingTest, AnswerFontChangesOnlyTheOptionsAndLastsAcrossOpenings) {
    ASSERT_TRUE(chooseRun(1, 4, 1));
    const int memoPx = FormTest->DBMemoTEXTV->font().pixelSize();
    const int headerPx = FormTest->Label1->font().pixelSize();
    inTestingWindow([&] {
        EXPECT_EQ(FormTest->RadioGroupOtvet->font().pixelSize(), 17);
        FormTest->ButtonDown->click();
        EXPECT_EQ(FormTest->answerFontPoints(), 9);
        EXPECT_EQ(FormTest->RadioGroupOtvet->button(0)->font().pixelSize(), 15);
    });
    inTestingWindow([&] {
        EXPECT_EQ(FormTest->RadioGroupOtvet->button(0)->font().pixelSize(), 15);
        FormTest->ButtonUp->click();
        FormTest->ButtonUp->click();
        EXPECT_EQ(FormTest->RadioGroupOtvet->font().pixelSize(), 18);
        for (int i = 0; i < 15; ++i)
            FormTest->ButtonDown->click();
        EXPECT_EQ(FormTest->answerFontPoints(), 1);
        EXPECT_GE(FormTest->RadioGroupOtvet->font().pixelSize(), 1);
        FormTest->ButtonUp->click();
        EXPECT_EQ(FormTest->answerFontPoints(), 2);
    });
    EXPECT_EQ(FormTest->DBMemoTEXTV->font().pixelSize(), memoPx);
    EXPECT_EQ(FormTest->Label1->font().pixelSize(), headerPx);
}

TEST_F(TestingTest, EscAndTitleBarCloseTheWindowAndDropTheOptions) {
    ASSERT_TRUE(chooseRun(1, 4, 1));
    inTestingWindow([&] { QTest::keyClick(FormTest, Qt::Key_Escape); });
    EXPECT_EQ(FormTest->RadioGroupOtvet->count(), 0);
    inTestingWindow([&] { FormTest->close(); });
    EXPECT_EQ(FormTest->RadioGroupOtvet->count(), 0);
}

TEST_F(TestingTest, RunWithoutQuestionsOrTesteeFailsAndWritesNothing) {
    ASSERT_TRUE(chooseRun(1, 4, 1));
    const int before = answerRowCount(db->dir());
    BD->Table_vopros->filterBy(QStringLiteral("NTEST=99"));
    inTestingWindow([&] { EXPECT_EQ(FormTest->RadioGroupOtvet->count(), 0); });
    EXPECT_EQ(messages->texts(), QStringList{QStringLiteral("Invalid variant type conversion")});

    // An earlier run leaves its last answer row behind; a run without a testee must not write it.
    BD->Table_vopros->filterBy(QStringLiteral("NTEST=1"));
    inTestingWindow([] {});
    const auto earlier = answerRows(db->dir(), 1, 4, 1);
    messages->clear();
    BD->Table_anket->filterBy(QStringLiteral("NOMU=99"));
    inTestingWindow([] {
        ASSERT_GT(FormTest->RadioGroupOtvet->count(), 0);
        chooseOption(2);
        EXPECT_EQ(FormTest->RadioGroupOtvet->itemIndex(), -1) << "a choice nothing holds is not shown";
    });
    // The showing fails, and so does the click: without a testee no choice can be stored.
    EXPECT_EQ(messages->texts(), QStringList(2, QStringLiteral("Invalid variant type conversion")));
    EXPECT_EQ(answerRowCount(db->dir()), before + 1);
    ASSERT_EQ(earlier.size(), 1);
    EXPECT_EQ(answerRows(db->dir(), 1, 4, 1)[0].value, -1)
        << "a click without a testee changed a stored answer";
}

TEST_F(TestingTest, ARefusedChoiceIsReportedAndTheStoredOneStaysSelected) {
    ASSERT_TRUE(chooseRun(1, 4, 1));
    inTestingWindow([&] {
        chooseOption(1);
        BD->Table_rezult->setReadOnly(true);
        chooseOption(3);
        ASSERT_EQ(messages->texts().size(), 1);
        EXPECT_TRUE(messages->texts()[0].contains(QStringLiteral("только для просмотра")));
        EXPECT_EQ(FormTest->RadioGroupOtvet->itemIndex(), 1) << "the screen shows what is stored";
        BD->Table_rezult->setReadOnly(false);
        chooseOption(2);
    });
    EXPECT_EQ(answerTo(answerRows(db->dir(), 1, 4, 1), 1), 2);
}

TEST_F(TestingTest, AQuestionWithoutAnAnswerSetShowsNoOptionsAndIsStillRecorded) {
    // A question added in the test builder before any option was chosen keeps a blank set.
    ASSERT_TRUE(chooseRun(1, 4, 1));
    ASSERT_TRUE(BD->Table_vopros->locate(QStringLiteral("NVOPR"), {2}));
    BD->Table_vopros->edit();
    BD->Table_voprosNOTV->setValue(db::Variant());
    BD->Table_vopros->post();
    inTestingWindow([&] {
        jump(QStringLiteral("2"));
        EXPECT_EQ(shownQuestion(), 2);
        EXPECT_EQ(FormTest->RadioGroupOtvet->count(), 0);
        jump(QStringLiteral("3"));
        EXPECT_GT(FormTest->RadioGroupOtvet->count(), 0);
    });
    EXPECT_TRUE(messages->texts().isEmpty()) << messages->texts().join('|').toStdString();
    EXPECT_EQ(answerTo(answerRows(db->dir(), 1, 4, 1), 2), -1);
}

TEST_F(TestingTest, AChoiceTheDiskRefusesIsNeverShownAsChosen) {
    ASSERT_TRUE(chooseRun(1, 4, 1)); // a testee without answers
    const QString dir = db->dir();
    const int before = answerRowCount(dir);
    auto lastMessage = [&] { return messages->texts().isEmpty() ? QString() : messages->texts().last(); };
    // The disk is full when the first question's row is to be made.
    dbf::os::failNext(dbf::os::Call::Write, ENOSPC);
    inTestingWindow([&] {
        // Showing the question says nothing: the click that needs the row says it.
        EXPECT_TRUE(messages->texts().isEmpty()) << messages->texts().join('|').toStdString();
        EXPECT_EQ(answerRowCount(dir), before);
        // Every click that cannot be stored says so and shows nothing chosen.
        for (int option : {2, 0}) {
            dbf::os::failNext(dbf::os::Call::Write, ENOSPC);
            chooseOption(option);
            EXPECT_EQ(FormTest->RadioGroupOtvet->itemIndex(), -1);
            EXPECT_TRUE(lastMessage().contains("bd_rezult") &&
                        lastMessage().contains(QStringLiteral("нет места")))
                << lastMessage().toStdString();
            EXPECT_EQ(answerRowCount(dir), before);
        }
        EXPECT_EQ(messages->texts().size(), 2);
        // With room again the click makes the row with its choice, once.
        chooseOption(1);
        EXPECT_EQ(FormTest->RadioGroupOtvet->itemIndex(), 1);
        auto rows = answerRows(dir, 1, 4, 1);
        ASSERT_EQ(rows.size(), 1);
        EXPECT_EQ(rows[0].value, 1);
        // A changed choice whose write cannot be made safe keeps showing the stored one.
        dbf::os::failNext(dbf::os::Call::Sync, EIO);
        chooseOption(3);
        EXPECT_EQ(FormTest->RadioGroupOtvet->itemIndex(), 1);
        EXPECT_EQ(answerTo(answerRows(dir, 1, 4, 1), 1), 1);
        EXPECT_EQ(messages->texts().size(), 3);
        chooseOption(3);
        EXPECT_EQ(answerTo(answerRows(dir, 1, 4, 1), 1), 3);
    });
    dbf::os::clearFaults();
    EXPECT_EQ(messages->texts().size(), 3);
    QString report;
    EXPECT_EQ(peerCheck(dir, &report), 0) << report.toStdString();
}
