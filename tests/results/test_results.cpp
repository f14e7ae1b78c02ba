// A run's rules without a window: scoring into the tables, the level of a score, and what the
// archive reads back for the reports.
#include "TestDb.h"
#include "dataset/Table.h"
#include "results/Archive.h"
#include "stats/Descriptive.h"

#include <QObject>
#include <gtest/gtest.h>

using results::Archive;
using results::RunKey;

namespace {

class ResultsTest : public ::testing::Test {
protected:
    TestDb db;

    void SetUp() override {
        db.add("bd_org.dbf", {1.0, 1, QStringLiteral("Школа №5"), QStringLiteral("Начальные классы")});
        db.add("bd_sprav.dbf", {2, 3, QStringLiteral("Среднее специальное")});
        db.add("bd_anket.dbf", {1.0, 1.0, QStringLiteral("Иванова"), QStringLiteral("Анна"),
                                QStringLiteral("Петровна"), QStringLiteral("Ж"), 1990, 3});
        db.add("bd_anket.dbf", {2.0, 1.0, QStringLiteral("Сидоров")});
        // Test 7: two criteria, questions 1..3 of answer set 1 (points 0, 2, 5).
        db.add("bd_test.DBF", {1, 7, QStringLiteral("Тревожность"), 2});
        for (int q = 1; q <= 3; ++q)
            db.add("bd_vopros.DBF", {7, q, QStringLiteral("Вопрос %1").arg(q), 1, 1});
        for (int p : {0, 2, 5})
            db.add("bd_otvet.dbf", {1, QStringLiteral("Вариант с %1").arg(p), p});
    }
    void answer(int q, int choice, int testee = 1) {
        db.add("bd_rezult.dbf", {1.0, double(testee), QDate(2024, 5, 6), 7, q, choice});
    }
    void key(int krit, int q) { db.add("bd_summa.dbf", {7, krit, q}); }
    void range(int krit, const char* level, int min, int max) {
        db.add("bd_analiz.dbf", {7, krit, QString::fromUtf8(level), double(min), double(max),
                                 QStringLiteral("Текст ") + QString::fromUtf8(level)});
    }
    void scoreRow(int krit, double ball, QDate date, int testee = 1, int test = 7) {
        db.add("bd_rez.dbf", {1.0, double(testee), date, test, krit, ball});
    }

    // Scores a run through tables of the test's own, as a window would through the program's.
    void score(const RunKey& run, int criteria, QDate today) {
        QObject owner;
        auto open = [&](const char* file) {
            auto* t = new db::Table(&owner);
            t->setDatabaseName(QStringLiteral("morv"));
            t->setTableName(QString::fromLatin1(file));
            t->open();
            return t;
        };
        results::RunTables t(open("bd_vopros.DBF"), open("bd_otvet.dbf"), open("bd_rezult.dbf"),
                             open("bd_summa.dbf"), open("bd_rez.dbf"));
        results::scoreRun(t, run, criteria, today);
    }
};

TEST_F(ResultsTest, ScoringSumsEveryKeyRowAndKeepsTheFirstDate) {
    answer(1, 2);  // 5 points
    answer(2, 1);  // 2 points
    answer(3, -1); // shown, not answered: nothing
    key(1, 1);
    key(1, 1); // counted once per key row
    key(1, 3);
    key(2, 2);
    key(3, 1); // criterion 3 is no criterion of a two-criterion test
    score({1, 1, 7}, 2, QDate(2024, 5, 6));
    QList<RunRow> rows = runRows(db.dir(), "bd_rez.dbf", 1, 1, 7);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].number, 1);
    EXPECT_EQ(rows[0].value, 10);
    EXPECT_EQ(rows[1].value, 2);

    // Scoring again updates the rows in place; their date stays.
    db.add("bd_summa.dbf", {7, 2, 1});
    score({1, 1, 7}, 2, QDate(2025, 1, 1));
    rows = runRows(db.dir(), "bd_rez.dbf", 1, 1, 7);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[1].value, 7);
    EXPECT_EQ(rows[1].date, QDate(2024, 5, 6));
    // The other testee has no answers and was never scored.
    EXPECT_TRUE(runRows(db.dir(), "bd_rez.dbf", 1, 2, 7).isEmpty());
}

TEST_F(ResultsTest, ARunReadsItsLevelsBoundsInclusiveAndTheFirstOverlapWins) {
    range(1, "Низкий", 0, 10);
    range(1, "Средний", 11, 20);
    range(1, "Перекрытый", 5, 15);
    range(2, "Высокий", 21, 30);
    range(2, "Чужой", 0, 100); // criterion 2 ranges never interpret criterion 1
    db.add("bd_analiz.dbf", {8, 1, QStringLiteral("Другой тест"), 0.0, 100.0, QStringLiteral("")});
    scoreRow(1, 11, QDate(2024, 5, 6));
    scoreRow(2, 31, QDate(2024, 5, 7));
    scoreRow(1, 3, QDate(2024, 5, 8)); // a second row of criterion 1: the first in stored order counts

    Archive a;
    const results::RunResult r = a.run({1, 1, 7}, false);
    EXPECT_EQ(r.date, QDate(2024, 5, 8));
    ASSERT_EQ(r.criteria.size(), 2u);
    EXPECT_EQ(r.criteria[0].score, 11);
    ASSERT_TRUE(r.criteria[0].level);
    EXPECT_EQ(r.criteria[0].level->name, "Средний");
    EXPECT_EQ(r.criteria[0].level->text, "Текст Средний");
    EXPECT_EQ(r.criteria[1].score, 31);
    ASSERT_TRUE(r.criteria[1].level);
    EXPECT_EQ(r.criteria[1].level->name, "Чужой");
}

TEST_F(ResultsTest, ALevelIsTheRangeThatHoldsTheScore) {
    range(1, "A", 0, 10);
    range(1, "B", 11, 20);
    range(1, "C", 21, 30);
    db::Table analiz;
    analiz.setDatabaseName(QStringLiteral("morv"));
    analiz.setTableName(QStringLiteral("bd_analiz.dbf"));
    analiz.open();
    auto name = [&](int ball) {
        const std::optional<results::Level> l = results::levelOf(&analiz, 7, 1, ball);
        return l ? l->name : QStringLiteral("-");
    };
    EXPECT_EQ(name(0), "A");
    EXPECT_EQ(name(10), "A");
    EXPECT_EQ(name(11), "B");
    EXPECT_EQ(name(30), "C");
    EXPECT_EQ(name(31), "-");
    EXPECT_EQ(name(-1), "-");
    EXPECT_EQ(results::levelOf(&analiz, 7, 2, 5), std::nullopt);
    EXPECT_EQ(results::levelOf(&analiz, 8, 1, 5), std::nullopt);
}

TEST_F(ResultsTest, AnswersShowTheChosenOptionAndItsPoints) {
    answer(1, 1);
    answer(2, 9);  // past the last option: counts as the last
    answer(3, -1); // not answered
    const results::RunResult r = Archive().run({1, 1, 7}, true);
    EXPECT_FALSE(r.scored());
    EXPECT_EQ(r.date, QDate(2024, 5, 6)); // from the answer rows
    ASSERT_EQ(r.answers.size(), 3u);
    EXPECT_EQ(r.answers[0].text, "Вопрос 1");
    ASSERT_TRUE(r.answers[0].choice);
    EXPECT_EQ(r.answers[0].choice->text, "Вариант с 2");
    EXPECT_EQ(r.answers[0].choice->points, 2);
    ASSERT_TRUE(r.answers[1].choice);
    EXPECT_EQ(r.answers[1].choice->text, "Вариант с 5");
    EXPECT_EQ(r.answers[1].choice->points, 5);
    EXPECT_FALSE(r.answers[2].choice);
    ASSERT_EQ(r.criteria.size(), 2u);
    EXPECT_FALSE(r.criteria[0].score);
}

TEST_F(ResultsTest, TheTesteeAndTheHistoryNewestFirst) {
    db.add("bd_test.DBF", {1, 8, QStringLiteral("Память"), 1});
    db.add("bd_test.DBF", {1, 9, QStringLiteral("Внимание"), 1});
    scoreRow(1, 4, QDate(2023, 1, 1));
    scoreRow(1, 6, QDate(2024, 3, 1), 1, 8);
    db.add("bd_rezult.dbf", {1.0, 1.0, QDate(2022, 1, 1), 9, 1, -1}); // begun, never scored
    scoreRow(1, 9, QDate(2025, 1, 1), 2, 8);                          // another testee's

    Archive a;
    const std::optional<results::Testee> t = a.testee(1, 1);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->fullName(), "Иванова Анна Петровна");
    EXPECT_EQ(t->sex, "Ж");
    EXPECT_EQ(t->birthYear, 1990);
    EXPECT_EQ(t->education, "Среднее специальное");
    EXPECT_EQ(a.testee(1, 2)->fullName(), "Сидоров");
    EXPECT_FALSE(a.testee(1, 3));
    EXPECT_EQ(a.institution(1)->name, "Школа №5");

    const std::vector<results::RunResult> h = a.history(1, 1);
    ASSERT_EQ(h.size(), 3u);
    EXPECT_EQ(h[0].key.test, 8);
    EXPECT_EQ(h[0].criteria[0].score, 6);
    EXPECT_EQ(h[1].key.test, 7);
    EXPECT_EQ(h[2].key.test, 9);
    EXPECT_FALSE(h[2].scored());
}

TEST_F(ResultsTest, AGroupHasOneScoredRunPerTesteeInNumberOrder) {
    range(1, "Низкий", 0, 10);
    range(1, "Высокий", 11, 99);
    scoreRow(1, 15, QDate(2024, 1, 1), 2);
    scoreRow(2, 1, QDate(2024, 1, 1), 2);
    scoreRow(1, 4, QDate(2024, 2, 1), 1);
    scoreRow(1, 40, QDate(2024, 2, 1), 1); // a second row of criterion 1: the first counts
    scoreRow(1, 5, QDate(2024, 2, 1), 3, 8);
    db.add("bd_rez.dbf", {2.0, 1.0, QDate(2024, 2, 1), 7, 1, 50.0}); // another institution
    const std::vector<results::RunResult> g = Archive().group(1, 7);
    ASSERT_EQ(g.size(), 2u);
    EXPECT_EQ(g[0].key.testee, 1);
    EXPECT_EQ(g[0].criteria[0].score, 4);
    EXPECT_EQ(g[0].criteria[0].level->name, "Низкий");
    EXPECT_FALSE(g[0].criteria[1].score);
    EXPECT_EQ(g[1].key.testee, 2);
    EXPECT_EQ(g[1].criteria[0].level->name, "Высокий");
    EXPECT_EQ(g[1].criteria[1].score, 1);
    EXPECT_FALSE(g[1].criteria[1].level);
    EXPECT_TRUE(Archive().group(1, 9).empty());
}

TEST(Descriptive, SummaryStepsThroughTheShownFigures) {
    // Mean 2/3 shows as 0.6667; the deviations are taken from that figure, as the window does.
    const stats::Summary s = stats::summarize({0, 0, 2});
    EXPECT_EQ(s.count, 3);
    EXPECT_EQ(stats::fixed4(*s.mean), "0.6667");
    EXPECT_EQ(stats::fixed4(*s.meanDeviation), "0.8889");
    // Squares from 0.6667: 0.44448889 * 2 + 1.77768889 = 2.66666667, over n - 1 below 30 values.
    EXPECT_EQ(stats::fixed4(*s.variance), "1.3333");
    EXPECT_EQ(stats::fixed4(*s.standardDeviation), "1.1547");

    std::vector<stats::Real> thirty(30, 1);
    thirty[0] = 31; // mean 2, squares 841 + 29 = 870: over n (29), not n - 1 (30), at 30 values
    EXPECT_EQ(stats::fixed4(*stats::summarize(thirty).variance), "29.0000");

    const stats::Summary one = stats::summarize({5});
    EXPECT_EQ(stats::fixed4(*one.mean), "5.0000");
    EXPECT_FALSE(one.variance);
    EXPECT_FALSE(one.standardDeviation);
    EXPECT_FALSE(stats::summarize({}).mean);
}

} // namespace
