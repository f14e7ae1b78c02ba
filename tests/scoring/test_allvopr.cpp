// The check and scoring dialog: the completeness check, the score rows it writes and the window
// that follows.
#include "ScoringTest.h"

#include "data/DM.h"
#include "scoring/AllVopr.h"
#include "scoring/Diagr.h"
#include "scoring/Rezult.h"
#include "widgets/DBText.h"
#include "widgets/ProgressBar.h"

#include <QDate>
#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace {

struct Checked {
    QString verdict, line;
    bool resultShown = false, resultEnabled = false, cancelShown = false, checkShown = true;
    int position = -1;
};

Checked seen() {
    TFormAllVopr* f = FormAllVopr;
    Checked c;
    c.verdict = f->Label6->text();
    if (f->Label3->isVisible() && f->Label4->isVisible())
        c.line = f->Label3->text() + ' ' + f->Label5->text() + ' ' + f->Label4->text();
    c.resultShown = f->Button1->isVisible();
    c.resultEnabled = f->Button1->isEnabled();
    c.cancelShown = f->Button2->isVisible();
    c.checkShown = f->Button3->isVisible();
    c.position = f->PB->position();
    return c;
}

const QString kAll = QStringLiteral("На все вопросы имеются ответы.");
const QString kNotAll = QStringLiteral("Не на все вопросы имеются ответы.");

} // namespace

class AllVoprCheck : public ScoringTest {
protected:
    // Test 1 with questions 1..5, all answered.
    void SetUp() override {
        ScoringTest::SetUp();
        answerSet(1, {2, 1, 0});
    }
    Checked run() {
        Checked c;
        check([&] { c = seen(); });
        return c;
    }
};

TEST_F(AllVoprCheck, OpensWithOnlyTheCheckAndNeitherEnterNorEscActs) {
    makeTest(1, 1, {1, 2, 3});
    choose(1);
    bool stillOpen = false;
    Checked before;
    whenModal([&](QWidget* w) {
        before = seen();
        // With the focus on no button, Enter could only reach the hidden default button.
        w->setFocus();
        QTest::keyClick(w, Qt::Key_Return);
        QTest::keyClick(w, Qt::Key_Escape);
        settle();
        stillOpen = w->isVisible();
        FormAllVopr->Close();
    });
    // Left over from an earlier opening: activation must clear it.
    FormAllVopr->Label6->setText(QStringLiteral("старое"));
    FormAllVopr->Button1->setEnabled(false);
    FormAllVopr->ShowModal();
    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(before.checkShown);
    EXPECT_FALSE(before.resultShown);
    EXPECT_FALSE(before.cancelShown);
    EXPECT_TRUE(before.verdict.isEmpty());
    EXPECT_TRUE(before.line.isEmpty());
    EXPECT_TRUE(FormAllVopr->Button1->isEnabled());
    EXPECT_TRUE(messages->texts().isEmpty());
}

TEST_F(AllVoprCheck, CompleteRunEnablesTheResult) {
    makeTest(1, 1, {1, 2, 3, 4, 5});
    for (int q = 1; q <= 5; ++q)
        answer(1, q, q % 3);
    answer(1, 2, -1, 2); // another testee's gap is not ours
    choose(1);
    const Checked c = run();
    EXPECT_EQ(c.verdict, kAll);
    EXPECT_EQ(c.line, QStringLiteral("Проверено 5 вопросов"));
    EXPECT_TRUE(c.resultShown && c.resultEnabled && c.cancelShown);
    EXPECT_FALSE(c.checkShown);
    EXPECT_EQ(c.position, 5);
}

TEST_F(AllVoprCheck, AnyUnansweredQuestionDisablesTheResult) {
    struct Case {
        const char* what;
        std::vector<int> questions; // of the test
        std::vector<std::pair<int, int>> answers;
        int position;
    };
    const std::vector<Case> cases = {
        {"no row, not last", {1, 2, 3, 4}, {{1, 0}, {2, 1}, {4, 2}}, 4},
        {"no choice, not last", {1, 2, 3, 4}, {{1, 0}, {2, -1}, {3, 1}, {4, 2}}, 4},
        {"last missing", {1, 2, 3, 4}, {{1, 0}, {2, 1}, {3, 1}}, 4},
        {"gap in the numbering", {1, 2, 4}, {{1, 0}, {2, 1}, {4, 2}}, 4},
    };
    int test = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        makeTest(++test, 1, k.questions);
        for (auto [q, a] : k.answers)
            answer(test, q, a);
        choose(test);
        const Checked c = run();
        EXPECT_EQ(c.verdict, kNotAll);
        EXPECT_EQ(c.line, QStringLiteral("Проверено 4 вопросов"));
        EXPECT_TRUE(c.resultShown);
        EXPECT_FALSE(c.resultEnabled);
        EXPECT_EQ(c.position, k.position);
    }
}

TEST_F(AllVoprCheck, FailuresStopTheCheckWithTheirMessages) {
    makeTest(1, 1, {});        // no questions
    makeTest(2, 1, {5, 6, 3}); // last stored below the first
    makeTest(3, 1, {1, 2});
    {
        choose(1);
        const Checked c = run();
        EXPECT_EQ(messages->texts(), QStringList{QStringLiteral("Invalid variant type conversion")});
        EXPECT_TRUE(c.checkShown);
        EXPECT_FALSE(c.resultShown);
        EXPECT_TRUE(c.verdict.isEmpty());
    }
    {
        messages->clear();
        choose(2);
        const Checked c = run();
        EXPECT_EQ(messages->texts(), QStringList{QStringLiteral("TProgressBar property out of range")});
        EXPECT_FALSE(c.resultShown);
        EXPECT_TRUE(c.line.isEmpty());
    }
    {
        // An institution without testees.
        messages->clear();
        db->add(QStringLiteral("bd_org.dbf"), {2.0, 1, QStringLiteral("Пустое")});
        choose(3);
        BD->Table_org->locate(QStringLiteral("NOM_ORG"), {2});
        BD->Table_anket->filterBy(QStringLiteral("NOMU=2"));
        const Checked c = run();
        EXPECT_EQ(messages->texts(), QStringList{QStringLiteral("Invalid variant type conversion")});
        EXPECT_FALSE(c.resultShown);
        EXPECT_EQ(c.position, 1); // no question examined
    }
}

class AllVoprScore : public ScoringTest {
protected:
    void SetUp() override {
        ScoringTest::SetUp();
        answerSet(1, {2, 1, 0});
        answerSet(2, {1, 3, 5});
    }
    // Balls of the score rows of testee 1 in test, by criterion, read from the file.
    std::map<int, QString> balls(int test) const {
        const QStringList testa = stored("bd_rez.dbf", "NOMTESTA"), krit = stored("bd_rez.dbf", "KRIT"),
                          ball = stored("bd_rez.dbf", "BALL"), who = stored("bd_rez.dbf", "NOMTESTIR");
        std::map<int, QString> out;
        for (qsizetype i = 0; i < ball.size(); ++i)
            if (testa[i].toInt() == test && who[i].toInt() == 1) out[krit[i].toInt()] = ball[i];
        return out;
    }
    void expectReadable() {
        QString report;
        EXPECT_EQ(peerCheck(db->dir(), &report), 0) << report.toStdString();
    }
};

TEST_F(AllVoprScore, SumsThePointsOfTheChosenOptionsPerCriterion) {
    makeTest(1, 3, {1, 2, 3, 4, 5});
    for (int q = 1; q <= 5; ++q)
        answer(1, q, q == 5 ? 2 : 0);
    // Another test's key with the same question numbers must not count.
    key(2, 1, 3);
    key(1, 1, 3);
    key(1, 1, 5);
    key(11, 1, 1);
    key(1, 2, 1);
    key(1, 2, 1); // twice in one key: counts twice
    key(1, 2, 5);
    // criterion 3 has no key rows
    choose(1);
    bool dialogBehind = false;
    QString name;
    EXPECT_EQ(score([&](QWidget*) {
                  dialogBehind = FormAllVopr->isVisible();
                  name = FormDiagr->DBText1->text();
              }),
              QStringLiteral("FormDiagr"));
    EXPECT_TRUE(dialogBehind);
    EXPECT_FALSE(FormAllVopr->isVisible());
    EXPECT_EQ(name, QStringLiteral("Тест 1"));
    const auto b = balls(1);
    ASSERT_EQ(b.size(), 3u);
    EXPECT_EQ(b.at(1).toDouble(), 2); // 2 + 0
    EXPECT_EQ(b.at(2).toDouble(), 4); // 2 + 2 + 0
    EXPECT_EQ(b.at(3).toDouble(), 0);
    EXPECT_EQ(stored("bd_rez.dbf", "DATA"),
              QStringList(3, QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"))));
    EXPECT_EQ(stored("bd_rez.dbf", "NOMU"), QStringList(3, QStringLiteral("1")));
    EXPECT_TRUE(messages->texts().isEmpty());
    expectReadable();
}

TEST_F(AllVoprScore, ScoringAgainUpdatesInPlaceAndKeepsTheDate) {
    makeTest(1, 2, {1, 2});
    answer(1, 1, 0);
    answer(1, 2, 1);
    key(1, 1, 1);
    key(1, 2, 2);
    scoreRow(1, 1, 99, "2021-03-04");
    scoreRow(1, 1, 7, "2021-03-04", 2); // another testee's row stays
    choose(1);
    score();
    EXPECT_EQ(stored("bd_rez.dbf", "DATA").first(), QStringLiteral("04.03.2021"));
    EXPECT_EQ(balls(1).at(1).toDouble(), 2);
    EXPECT_EQ(balls(1).at(2).toDouble(), 1);
    EXPECT_EQ(stored("bd_rez.dbf", "BALL").size(), 3);

    // The testee answers differently; a second scoring overwrites and adds nothing.
    BD->Table_rezult->setFiltered(false);
    ASSERT_TRUE(BD->Table_rezult->locate(QStringLiteral("NOMTESTIR;NOMVOPR"), {1.0, 2}));
    BD->Table_rezult->edit();
    BD->Table_rezultOTVET->setValue(2);
    BD->Table_rezult->post();
    choose(1);
    score();
    EXPECT_EQ(stored("bd_rez.dbf", "BALL").size(), 3);
    EXPECT_EQ(balls(1).at(2).toDouble(), 0);
    EXPECT_EQ(stored("bd_rez.dbf", "DATA").first(), QStringLiteral("04.03.2021"));
    EXPECT_EQ(stored("bd_rez.dbf", "BALL").at(1).toDouble(), 7);
    expectReadable();
}

TEST_F(AllVoprScore, TheNumberOfCriteriaChoosesTheNextWindow) {
    makeTest(1, 1, {1});
    makeTest(2, 0, {1});
    for (int t : {1, 2})
        answer(t, 1, 1);
    key(1, 1, 1);
    key(2, 1, 1);
    choose(1);
    EXPECT_EQ(score(), QStringLiteral("FormRezult"));
    choose(2);
    EXPECT_EQ(score(), QStringLiteral("FormDiagr"));
    EXPECT_TRUE(balls(2).empty());
    EXPECT_EQ(balls(1).size(), 1u);
}

TEST_F(AllVoprScore, CancelAfterTheCheckWritesNothing) {
    makeTest(1, 1, {1});
    answer(1, 1, 0);
    key(1, 1, 1);
    choose(1);
    bool closed = false;
    whenModal([&](QWidget* w) {
        clickButton(w, "Button3");
        QTest::keyClick(w, Qt::Key_Escape);
        settle();
        closed = !w->isVisible();
        if (!closed) FormAllVopr->Close();
    });
    FormAllVopr->ShowModal();
    EXPECT_TRUE(closed);
    EXPECT_EQ(FormAllVopr->ModalResult(), ui::mrCancel);
    EXPECT_TRUE(stored("bd_rez.dbf", "BALL").isEmpty());
}

TEST_F(AllVoprScore, KeyRowsWithoutAnAnswerOrQuestionOrCriterionAddNothing) {
    // Question 9 has an answer row but is no question of the test; question 6 is one, stored
    // past the last checked, without an answer row; question 7 likewise, left without a choice.
    // The cursors would stand on other rows, or on the first option.
    makeTest(1, 1, {1, 2, 3, 6, 7, 4});
    answer(1, 7, -1);
    for (int q : {1, 2, 3, 4, 9})
        answer(1, q, 0);
    key(1, 1, 1);
    key(1, 1, 9);
    key(1, 1, 6);
    key(1, 1, 7);
    key(1, 2, 1); // criterion 2 of a one-criterion test
    key(1, 0, 1);
    choose(1);
    score();
    const auto b = balls(1);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b.at(1).toDouble(), 2);
}

TEST_F(AllVoprScore, AnIndexPastTheLastOptionCountsAsTheLast) {
    makeTest(1, 1, {1, 2}, 2);
    answer(1, 1, 7);
    answer(1, 2, 1);
    key(1, 1, 1);
    key(1, 1, 2);
    choose(1);
    score();
    EXPECT_EQ(balls(1).at(1).toDouble(), 5 + 3);
}
