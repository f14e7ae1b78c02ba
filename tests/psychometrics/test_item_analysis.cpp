// Item analysis checked against R's psych package and PSPP's RELIABILITY, run at test time on
// the same runs, exported from a crafted database by morv-db export.
#include "TestDb.h"
#include "psychometrics/Columns.h"
#include "psychometrics/ItemAnalysis.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <random>

using namespace psychometrics;

namespace {

constexpr int kTest = 9;
constexpr int kPeople = 80;

// Criterion 1: Likert questions 1..6 (points 0..4), question 5 keyed the wrong way round.
// Criterion 2: questions 7..12 scored 1 or 0 (KR-20). Criterion 3: questions 1, 3 and 8, and a
// key row naming question 99, which the test lacks.
class ItemAnalysisTest : public ::testing::Test {
protected:
    // Made once: a thousand rows take a while to add one at a time.
    static inline std::unique_ptr<TestDb> shared;
    TestDb& db = *shared;

    static void SetUpTestSuite() {
        shared = std::make_unique<TestDb>();
        fill(*shared);
    }
    static void TearDownTestSuite() { shared.reset(); }

    static void fill(TestDb& db) {
        db.add("bd_test.DBF", {1, kTest, QStringLiteral("Шкалы"), 3});
        for (int q = 1; q <= 12; ++q)
            db.add("bd_vopros.DBF", {kTest, q, QStringLiteral("Вопрос %1").arg(q), q <= 6 ? 1 : 2, 1});
        for (int p = 0; p <= 4; ++p)
            db.add("bd_otvet.dbf", {1, QStringLiteral("Вариант %1").arg(p), p});
        db.add("bd_otvet.dbf", {2, QStringLiteral("Да"), 1});
        db.add("bd_otvet.dbf", {2, QStringLiteral("Нет"), 0});
        db.add("bd_org.dbf", {1.0, 1, QStringLiteral("Школа"), QString(), 1.0, 1.0});
        for (int q = 1; q <= 6; ++q)
            db.add("bd_summa.dbf", {kTest, 1, q});
        for (int q = 7; q <= 12; ++q)
            db.add("bd_summa.dbf", {kTest, 2, q});
        for (int q : {1, 3, 8, 99})
            db.add("bd_summa.dbf", {kTest, 3, q});

        std::mt19937 gen(20261208);
        std::normal_distribution<double> normal;
        for (int t = 1; t <= kPeople + 2; ++t) {
            db.add("bd_anket.dbf", {double(t), 1.0, QStringLiteral("Тест%1").arg(t)});
            const double trait = normal(gen);
            for (int q = 1; q <= 12; ++q) {
                int choice;
                if (q <= 6) {
                    const double x = 2 + (q == 5 ? -0.6 : 1.0) * trait + normal(gen);
                    choice = std::clamp(int(std::lround(x)), 0, 4);
                } else {
                    const double p = 1 / (1 + std::exp(-(trait - (q - 9.5) * 0.4) * 1.7));
                    choice = std::uniform_real_distribution<double>()(gen) < p ? 0 : 1; // 0 is "Да" = 1
                }
                // Testee 81 never saw question 2; testee 82 left question 8 without a choice.
                if (t == kPeople + 1 && q == 2) continue;
                if (t == kPeople + 2 && q == 8) choice = -1;
                db.add("bd_rezult.dbf", {1.0, double(t), QDate(2025, 2, 3), kTest, q, choice});
            }
        }
    }

    // The runs' points per question as morv-db export writes them, for the peers to read.
    // The names, not the labels, head PSPP's tables.
    QString exportAnswers(const char* format) {
        const QString file = db.path(QStringLiteral("answers.") + QLatin1String(format));
        QStringList args{"export",    db.dir(),   "--test",   QString::number(kTest),
                         "--answers", "--points", "--format", QLatin1String(format),
                         "--output",  file};
        if (QLatin1String(format) == QLatin1String("csv")) args << "--plain";
        QString out;
        EXPECT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL), args, &out), 0) << out.toStdString();
        return file;
    }

    static QString columns(const std::vector<int>& questions, const QString& sep) {
        QStringList names;
        for (int q : questions)
            names << QStringLiteral("Q%1").arg(q, 3, 10, QLatin1Char('0'));
        return names.join(sep);
    }
};

// Numbers a peer printed, one "name value…" line each, by name.
std::map<QString, std::vector<double>> parseLines(const QString& out) {
    std::map<QString, std::vector<double>> m;
    for (const QString& line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QStringList cells = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (cells.size() < 2) continue;
        const QString name = cells.takeFirst();
        for (const QString& c : cells) {
            bool ok = false;
            const double v = c.toDouble(&ok);
            m[name].push_back(ok ? v : NAN);
        }
    }
    return m;
}

const CriterionAnalysis& criterion(const TestAnalysis& t, int k) {
    return t.criteria.at(size_t(k - 1));
}

std::vector<int> questionsOf(const CriterionAnalysis& c) {
    std::vector<int> q;
    for (const Item& i : c.items)
        q.push_back(i.question);
    return q;
}

TEST_F(ItemAnalysisTest, AgreesWithRPsych) {
    ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("Rscript")).isEmpty())
        << "Rscript is missing: scripts/deps.sh installs r-cran-psych";
    const TestAnalysis ours = analyseTest(db.dir(), kTest);
    const QString csv = exportAnswers("csv");
    for (int k = 1; k <= 3; ++k) {
        const CriterionAnalysis& c = criterion(ours, k);
        // Listwise deletion, as psych leaves it to the caller; KR-20 by its own formula with
        // p·q and the total's population variance.
        const QString script = QStringLiteral(R"(
suppressMessages(library(psych))
d <- read.csv("%1")
x <- na.omit(d[, c(%2)])
a <- psych::alpha(x, check.keys = FALSE, warnings = FALSE)
f <- function(v) paste(sprintf("%.15g", v), collapse = " ")
cat("n", nrow(x), "\n")
cat("alpha", f(a$total$raw_alpha), f(a$total$std.alpha), "\n")
cat("rdrop", f(a$item.stats$r.drop), "\n")
cat("dropped", f(a$alpha.drop$raw_alpha), "\n")
cat("mean", f(a$item.stats$mean), "\n")
cat("sd", f(a$item.stats$sd), "\n")
k <- ncol(x); p <- colMeans(x); tot <- rowSums(x)
cat("kr20", f(k / (k - 1) * (1 - sum(p * (1 - p)) / mean((tot - mean(tot))^2))), "\n")
)")
                                   .arg(csv, columns(questionsOf(c), QStringLiteral(", "))
                                                 .replace(QRegularExpression(QStringLiteral("(Q\\d+)")),
                                                          QStringLiteral("\"\\1\"")));
        QProcess r;
        r.start(QStringLiteral("Rscript"), {QStringLiteral("-e"), script});
        ASSERT_TRUE(r.waitForFinished(120000));
        const QString out = QString::fromUtf8(r.readAllStandardOutput());
        ASSERT_EQ(r.exitCode(), 0) << r.readAllStandardError().toStdString();
        auto peer = parseLines(out);
        SCOPED_TRACE("criterion " + std::to_string(k) + "\n" + out.toStdString());
        ASSERT_EQ(peer["n"].size(), 1u);
        EXPECT_EQ(double(c.complete), peer["n"][0]);
        ASSERT_TRUE(c.scale.alpha && c.scale.standardizedAlpha);
        EXPECT_NEAR(*c.scale.alpha, peer["alpha"].at(0), 1e-6);
        EXPECT_NEAR(*c.scale.standardizedAlpha, peer["alpha"].at(1), 1e-6);
        ASSERT_EQ(peer["rdrop"].size(), c.items.size());
        for (size_t i = 0; i < c.items.size(); ++i) {
            const ItemFigures& f = c.items[i].figures;
            EXPECT_NEAR(f.mean, peer["mean"].at(i), 1e-9);
            EXPECT_NEAR(f.sd, peer["sd"].at(i), 1e-9);
            ASSERT_TRUE(f.itemRest && f.alphaIfDropped);
            EXPECT_NEAR(*f.itemRest, peer["rdrop"].at(i), 1e-6) << "item " << c.items[i].question;
            EXPECT_NEAR(*f.alphaIfDropped, peer["dropped"].at(i), 1e-6) << "item " << c.items[i].question;
        }
        EXPECT_EQ(c.scale.dichotomous, k == 2);
        if (k == 2) {
            EXPECT_NEAR(*c.scale.alpha, peer["kr20"].at(0), 1e-9);
        }
    }
}

TEST_F(ItemAnalysisTest, AgreesWithPsppReliability) {
    const TestAnalysis ours = analyseTest(db.dir(), kTest);
    const QString sav = exportAnswers("sav");
    for (int k = 1; k <= 3; ++k) {
        const CriterionAnalysis& c = criterion(ours, k);
        const QString syntax = db.path(QStringLiteral("rel%1.sps").arg(k));
        const QString out = db.path(QStringLiteral("rel%1.csv").arg(k));
        QFile f(syntax);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("GET FILE='%1'.\nSET FORMAT=F24.15 TVARS=NAMES.\n"
                               "RELIABILITY /VARIABLES=%2 /MODEL=ALPHA /SUMMARY=TOTAL.\n")
                    .arg(sav, columns(questionsOf(c), QStringLiteral(" ")))
                    .toUtf8());
        f.close();
        QString log;
        ASSERT_EQ(runCommand(QStringLiteral("pspp"), {syntax, "-o", out, "-O", "format=csv"}, &log), 0)
            << log.toStdString();
        QFile result(out);
        ASSERT_TRUE(result.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(result.readAll()).split(QLatin1Char('\n'));
        SCOPED_TRACE("criterion " + std::to_string(k) + "\n" + lines.join('\n').toStdString());
        // "Valid,n,…" of the case summary; "alpha,items" after the statistics' heading; then one
        // line per item: name, scale mean and variance if deleted, corrected r, alpha if deleted.
        std::optional<double> valid, alpha;
        std::map<QString, QStringList> items;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QStringList cells = lines[i].split(QLatin1Char(','));
            if (cells[0] == QLatin1String("Valid")) valid = cells.value(1).toDouble();
            if (lines[i].startsWith(QLatin1String("Cronbach's Alpha,N of Items")))
                alpha = lines.value(i + 1).split(QLatin1Char(',')).value(0).toDouble();
            if (cells.size() == 5 && cells[0].startsWith(QLatin1Char('Q'))) items[cells[0]] = cells;
        }
        ASSERT_TRUE(valid && alpha);
        EXPECT_EQ(double(c.complete), *valid);
        EXPECT_NEAR(*c.scale.alpha, *alpha, 1e-6);
        ASSERT_EQ(items.size(), c.items.size());
        for (const Item& it : c.items) {
            const QStringList& cells = items[QStringLiteral("Q%1").arg(it.question, 3, 10, QLatin1Char('0'))];
            EXPECT_NEAR(*it.figures.itemRest, cells.value(3).toDouble(), 1e-6) << "item " << it.question;
            EXPECT_NEAR(*it.figures.alphaIfDropped, cells.value(4).toDouble(), 1e-6)
                << "item " << it.question;
        }
    }
}

TEST_F(ItemAnalysisTest, RunsWithAMissingItemAreLeftOutPerCriterion) {
    const TestAnalysis t = analyseTest(db.dir(), kTest);
    EXPECT_EQ(t.runs, size_t(kPeople + 2));
    // Testee 81 lacks question 2 (criterion 1 only); testee 82 has no choice for question 8
    // (criteria 2 and 3).
    EXPECT_EQ(criterion(t, 1).complete, size_t(kPeople + 1));
    EXPECT_EQ(criterion(t, 1).leftOut, 1u);
    EXPECT_EQ(criterion(t, 2).leftOut, 1u);
    EXPECT_EQ(criterion(t, 3).leftOut, 1u);
    EXPECT_EQ(criterion(t, 3).strayKeyRows, 1);
    EXPECT_EQ(questionsOf(criterion(t, 3)), (std::vector<int>{1, 3, 8}));
    // The item keyed the wrong way round is marked, and only it.
    const CriterionAnalysis& c1 = criterion(t, 1);
    for (size_t i = 0; i < c1.items.size(); ++i)
        EXPECT_EQ(c1.flagged(i), c1.items[i].question == 5) << "item " << c1.items[i].question;
}

TEST_F(ItemAnalysisTest, MorvDbAnalysePrintsTheFiguresAsCsv) {
    QString out;
    ASSERT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL),
                         {"analyse", db.dir(), "--test", QString::number(kTest)}, &out),
              0)
        << out.toStdString();
    const TestAnalysis t = analyseTest(db.dir(), kTest);
    const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    // A heading, then per criterion its line and one per item.
    ASSERT_EQ(lines.size(), 1 + 3 + 6 + 6 + 3);
    const QStringList head = lines[0].split(QLatin1Char(','));
    const QStringList c2 = lines[1 + 7].split(QLatin1Char(','));
    ASSERT_EQ(c2.size(), head.size());
    EXPECT_EQ(c2[head.indexOf("kind")], QStringLiteral("criterion"));
    EXPECT_EQ(c2[head.indexOf("n")].toULongLong(), criterion(t, 2).complete);
    EXPECT_EQ(c2[head.indexOf("left_out")], QStringLiteral("1"));
    EXPECT_EQ(c2[head.indexOf("kr20")], QStringLiteral("1"));
    EXPECT_NEAR(c2[head.indexOf("alpha")].toDouble(), *criterion(t, 2).scale.alpha, 1e-11);
    const QStringList item5 = lines[1 + 5].split(QLatin1Char(','));
    EXPECT_EQ(item5[head.indexOf("question")], QStringLiteral("5"));
    EXPECT_EQ(item5[head.indexOf("flag")], QStringLiteral("1"));
    EXPECT_NEAR(item5[head.indexOf("r_drop")].toDouble(), *criterion(t, 1).items[4].figures.itemRest, 1e-11);
    // Bad usage is 2, a test that is not there 1 with the reason.
    EXPECT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL), {"analyse", db.dir()}), 2);
    EXPECT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL), {"analyse", db.dir(), "--test", "x"}), 2);
    EXPECT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL), {"analyse", db.dir(), "--test", "77"}, &out), 1);
    EXPECT_TRUE(out.contains(QStringLiteral("Теста № 77 нет в базе данных."))) << out.toStdString();
}

TEST(ItemWeights, AQuestionKeyedTwiceWeighsTwiceAndItemsAddUpToTheScore) {
    TestDb db;
    db.add("bd_test.DBF", {1, 2, QStringLiteral("Вес"), 1});
    for (int q = 1; q <= 3; ++q)
        db.add("bd_vopros.DBF", {2, q, QStringLiteral("Вопрос %1").arg(q), 1, 1});
    for (int p : {0, 1, 3})
        db.add("bd_otvet.dbf", {1, QStringLiteral("Вариант %1").arg(p), p});
    for (int q = 1; q <= 3; ++q)
        db.add("bd_summa.dbf", {2, 1, q});
    const int choices[][3] = {{0, 1, 2}, {2, 2, 1}, {1, 0, 0}, {2, 1, 2}, {0, 0, 1}};
    for (int t = 0; t < 5; ++t)
        for (int q = 1; q <= 3; ++q)
            db.add("bd_rezult.dbf", {1.0, double(t + 1), QDate(2025, 2, 3), 2, q, choices[t][q - 1]});
    const Item once = analyseTest(db.dir(), 2).criteria[0].items[1];
    db.add("bd_summa.dbf", {2, 1, 2});
    const CriterionAnalysis c = analyseTest(db.dir(), 2).criteria[0];
    ASSERT_EQ(c.items.size(), 3u);
    EXPECT_EQ(c.items[1].weight, 2);
    EXPECT_DOUBLE_EQ(c.items[1].figures.mean, 2 * once.figures.mean);
    EXPECT_DOUBLE_EQ(c.items[1].figures.sd, 2 * once.figures.sd);
    // The totals are the scores the scoring gives: 0+1+3, 3+3+1, 1+0+0, 3+1+3, 0+0+1 with the
    // middle question twice.
    const double totals[] = {0 + 2 + 3, 3 + 6 + 1, 1 + 0 + 0, 3 + 2 + 3, 0 + 0 + 1};
    double mean = 0;
    for (double v : totals)
        mean += v / 5;
    EXPECT_DOUBLE_EQ(c.scale.totalMean, mean);
}

TEST(ItemRows, StoredOrderDoesNotMatterAndAQuestionsFirstRowCounts) {
    // The same runs stored run by run and interleaved question by question give the same figures;
    // a later row of a question changes nothing, even when the first chose nothing.
    const int choices[][3] = {{0, 1, 2}, {2, 2, 1}, {1, 0, 0}, {2, 1, 2}, {0, 0, 1}, {1, 2, 2}};
    auto make = [&](TestDb& db) {
        db.add("bd_test.DBF", {1, 2, QStringLiteral("Порядок"), 1});
        for (int q = 1; q <= 3; ++q) {
            db.add("bd_vopros.DBF", {2, q, QStringLiteral("Вопрос %1").arg(q), 1, 1});
            db.add("bd_summa.dbf", {2, 1, q});
        }
        for (int p : {0, 1, 3})
            db.add("bd_otvet.dbf", {1, QStringLiteral("Вариант %1").arg(p), p});
    };
    auto row = [](TestDb& db, int t, int q, int choice) {
        db.add("bd_rezult.dbf", {1.0, double(t), QDate(2025, 2, 3), 2, q, choice});
    };
    TestDb byRun, byQuestion;
    make(byRun);
    make(byQuestion);
    for (int t = 1; t <= 6; ++t)
        for (int q = 1; q <= 3; ++q)
            row(byRun, t, q, choices[t - 1][q - 1]);
    row(byRun, 7, 1, 1);
    row(byRun, 7, 2, -1);
    row(byRun, 7, 3, 1);
    for (int q = 3; q >= 1; --q)
        for (int t = 7; t >= 1; --t)
            row(byQuestion, t, q, t == 7 ? (q == 2 ? -1 : 1) : choices[t - 1][q - 1]);
    row(byQuestion, 7, 2, 2); // too late: the first row of question 2 chose nothing
    row(byQuestion, 3, 1, 2); // too late as well
    const CriterionAnalysis a = analyseTest(byRun.dir(), 2).criteria[0],
                            b = analyseTest(byQuestion.dir(), 2).criteria[0];
    EXPECT_EQ(a.complete, 6u);
    EXPECT_EQ(b.complete, 6u);
    EXPECT_EQ(b.leftOut, 1u);
    ASSERT_TRUE(a.scale.alpha && b.scale.alpha);
    // The runs come in another order: sums may differ in the last bits.
    EXPECT_NEAR(*a.scale.alpha, *b.scale.alpha, 1e-12);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_NEAR(a.items[i].figures.mean, b.items[i].figures.mean, 1e-12);
        EXPECT_NEAR(*a.items[i].figures.itemRest, *b.items[i].figures.itemRest, 1e-12);
    }
}

TEST(Reliability, UndefinedFiguresStayEmpty) {
    // Two items, the second constant: no correlation with it, no standardized alpha, and with
    // two items no alpha if one were dropped.
    const ScaleFigures f = analyseScale({1, 2, 2, 2, 3, 2, 4, 2}, 2);
    EXPECT_EQ(f.runs, 4u);
    ASSERT_TRUE(f.alpha);
    EXPECT_DOUBLE_EQ(*f.alpha, 0.0); // the total varies exactly as item 1: 2·(1 − v/v)
    EXPECT_FALSE(f.standardizedAlpha);
    EXPECT_FALSE(f.items[1].itemRest);
    EXPECT_FALSE(f.items[0].alphaIfDropped);
    EXPECT_DOUBLE_EQ(f.items[1].sd, 0.0);
    // One run, or no item varying: nothing but the means.
    const ScaleFigures one = analyseScale({3, 4, 5}, 3);
    EXPECT_FALSE(one.alpha);
    EXPECT_DOUBLE_EQ(one.items[2].mean, 5);
    EXPECT_FALSE(analyseScale({1, 1, 1, 1, 1, 1}, 2).alpha);
    EXPECT_FALSE(analyseScale({}, 3).alpha);
}

TEST(Reliability, LargeScoresKeepTheirPrecision) {
    // The same scale shifted by a million gives the same figures: deviations, not raw squares.
    const std::vector<double> small{1, 2, 3, 2, 3, 3, 4, 4, 5, 1, 1, 2};
    std::vector<double> large = small;
    for (double& v : large)
        v += 1e6;
    const ScaleFigures a = analyseScale(small, 3), b = analyseScale(large, 3);
    EXPECT_NEAR(*a.alpha, *b.alpha, 1e-9);
    EXPECT_NEAR(*a.standardizedAlpha, *b.standardizedAlpha, 1e-9);
    EXPECT_NEAR(*a.items[0].itemRest, *b.items[0].itemRest, 1e-9);
}

TEST(ItemAnalysisErrors, MissingTestOrCriteria) {
    TestDb db;
    db.add("bd_test.DBF", {1, 4, QStringLiteral("Без критериев"), 0});
    EXPECT_THROW(analyseTest(db.dir(), 3), AnalysisError);
    EXPECT_THROW(analyseTest(db.dir(), 4), AnalysisError);
}

} // namespace
