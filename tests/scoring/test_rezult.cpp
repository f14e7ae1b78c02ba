// The result window: the level and text of the range of criterion 1 holding the score.
#include "ScoringTest.h"

#include "data/DM.h"
#include "scoring/AllVopr.h"
#include "scoring/Rezult.h"
#include "widgets/DBMemo.h"
#include "widgets/DBText.h"

#include <QLabel>
#include <QTest>

namespace {

struct Shown {
    QString test, level, text;
};

Shown shown() {
    return {FormRezult->DBText2->text(), FormRezult->DBText1->text(), FormRezult->DBMemo1->toPlainText()};
}

} // namespace

class RezultWindow : public ScoringTest {
protected:
    void SetUp() override {
        ScoringTest::SetUp();
        makeTest(1, 1, {1});
        makeTest(2, 1, {1});
        // Matching ranges of another criterion and another test, stored first.
        range(1, 2, QStringLiteral("Другой критерий"), 0, 100);
        range(2, 1, QStringLiteral("Другой тест"), 0, 100);
    }
    Shown open() {
        Shown s;
        whenModal([&](QWidget*) {
            s = shown();
            FormRezult->Close();
        });
        FormRezult->ShowModal();
        return s;
    }
    void setBall(double ball) {
        BD->Table_rez->setFiltered(false);
        BD->Table_rez->first();
        BD->Table_rez->edit();
        BD->Table_rezBALL->setValue(ball);
        BD->Table_rez->post();
    }
};

TEST_F(RezultWindow, ShowsTheRangeHoldingTheScoreBoundsIncluded) {
    range(1, 1, QStringLiteral("A"), 0, 10);
    range(1, 1, QStringLiteral("B"), 11, 20);
    range(1, 1, QStringLiteral("C"), 21, 30);
    scoreRow(1, 1, 0);
    choose(1);
    const std::vector<std::pair<double, QString>> cases = {{10, "A"}, {11, "B"}, {30, "C"},
                                                           {0, "A"},  {31, ""},  {-1, ""}};
    for (const auto& [ball, level] : cases) {
        SCOPED_TRACE(ball);
        setBall(ball);
        const Shown s = open();
        EXPECT_EQ(s.test, QStringLiteral("Тест 1"));
        EXPECT_EQ(s.level, level);
        EXPECT_EQ(s.text, level.isEmpty() ? QString() : QStringLiteral("Текст ") + level);
    }
    EXPECT_TRUE(messages->texts().isEmpty());
}

TEST_F(RezultWindow, OverlappingRangesShowTheFirstStored) {
    range(1, 1, QStringLiteral("0-15"), 0, 15);
    range(1, 1, QStringLiteral("10-20"), 10, 20);
    scoreRow(1, 1, 12);
    choose(1);
    EXPECT_EQ(open().level, QStringLiteral("0-15"));
}

TEST_F(RezultWindow, ReadsOnlyTheCurrentTesteesScoreOfCriterionOne) {
    range(1, 1, QStringLiteral("низкий"), 0, 5);
    range(1, 1, QStringLiteral("высокий"), 6, 10);
    scoreRow(1, 2, 1);                  // criterion 2 stored first
    scoreRow(1, 1, 1, "2020-01-02", 2); // another testee
    scoreRow(2, 1, 1);                  // another test
    scoreRow(1, 1, 8);
    choose(1);
    EXPECT_EQ(open().level, QStringLiteral("высокий"));
}

TEST_F(RezultWindow, ClosesByEscAndTakesTheDialogWithIt) {
    answerSet(1, {2, 1, 0});
    answer(1, 1, 0);
    key(1, 1, 1);
    range(1, 1, QStringLiteral("A"), 0, 1);
    range(1, 1, QStringLiteral("B"), 2, 3);
    choose(1);
    Shown first;
    bool closedByEsc = false;
    score([&](QWidget* w) {
        first = shown();
        QTest::keyClick(w, Qt::Key_Escape);
        settle();
        closedByEsc = !w->isVisible();
    });
    EXPECT_TRUE(closedByEsc);
    EXPECT_FALSE(FormAllVopr->isVisible());
    EXPECT_EQ(first.level, QStringLiteral("B"));

    // Answered again and scored again: the window follows the new score.
    BD->Table_rezult->setFiltered(false);
    BD->Table_rezult->first();
    BD->Table_rezult->edit();
    BD->Table_rezultOTVET->setValue(2);
    BD->Table_rezult->post();
    choose(1);
    Shown second;
    score([&](QWidget*) { second = shown(); });
    EXPECT_EQ(second.level, QStringLiteral("A"));
    EXPECT_EQ(second.text, QStringLiteral("Текст A"));
}

TEST_F(RezultWindow, WithoutAScoreOfCriterionOneNoEarlierLevelStays) {
    range(1, 1, QStringLiteral("A"), 0, 10);
    scoreRow(1, 1, 5);
    choose(1);
    EXPECT_EQ(open().level, QStringLiteral("A"));

    choose(2); // test 2 has no score row for this testee
    const Shown s = open();
    EXPECT_EQ(messages->texts(), QStringList{QStringLiteral("Invalid variant type conversion")});
    EXPECT_EQ(s.level, QString());
    EXPECT_EQ(s.text, QString());
}
