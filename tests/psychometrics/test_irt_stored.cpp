// Calibration from runs stored in a database, through the same code as morv-db irt, checked
// against eRm on the answers the test stored; and person measures against R's integrate().
#include "TestDb.h"
#include "psychometrics/Columns.h"
#include "psychometrics/ItemAnalysis.h"
#include "psychometrics/irt/StoredRuns.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <random>

using namespace psychometrics;
using namespace psychometrics::irt;

namespace {

constexpr int kTest = 4;
constexpr int kRuns = 150;

bool rHas(const char* package) {
    if (QStandardPaths::findExecutable(QStringLiteral("Rscript")).isEmpty()) return false;
    QProcess r;
    r.start(QStringLiteral("Rscript"),
            {QStringLiteral("-e"), QStringLiteral("quit(status = !requireNamespace('%1', quietly = TRUE))")
                                       .arg(QLatin1String(package))});
    return r.waitForFinished(60000) && r.exitCode() == 0;
}

QStringList rLines(const QString& script) {
    QProcess r;
    r.start(QStringLiteral("Rscript"), {QStringLiteral("-e"), script});
    EXPECT_TRUE(r.waitForFinished(300000));
    EXPECT_EQ(r.exitCode(), 0) << r.readAllStandardError().toStdString();
    return QString::fromUtf8(r.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

// Criterion 1: questions 1..6 answered "Да" (2 points) or "Нет" (0 points), Rasch-simulated;
// criterion 2: questions 1 and 7, question 7 answered "Да" by everybody. Run 1 never saw
// question 3 and run 2 left it without a choice.
class IrtStoredTest : public ::testing::Test {
protected:
    static inline std::unique_ptr<TestDb> shared;
    static inline std::vector<std::vector<int>> answers; // per run: 1/0 for questions 1..6, −1 missing
    TestDb& db = *shared;

    static void SetUpTestSuite() {
        shared = std::make_unique<TestDb>();
        TestDb& d = *shared;
        d.add("bd_test.DBF", {1, kTest, QStringLiteral("Логика"), 2});
        for (int q = 1; q <= 7; ++q)
            d.add("bd_vopros.DBF", {kTest, q, QStringLiteral("Вопрос %1").arg(q), 3, 1});
        d.add("bd_otvet.dbf", {3, QStringLiteral("Да"), 2});
        d.add("bd_otvet.dbf", {3, QStringLiteral("Нет"), 0});
        d.add("bd_org.dbf", {1.0, 1, QStringLiteral("Школа"), QString(), 1.0, 1.0});
        for (int q = 1; q <= 6; ++q)
            d.add("bd_summa.dbf", {kTest, 1, q});
        d.add("bd_summa.dbf", {kTest, 2, 1});
        d.add("bd_summa.dbf", {kTest, 2, 7});
        const double b[] = {-1.2, -0.6, 0, 0.3, 0.8, 1.4};
        std::mt19937 gen(42);
        std::normal_distribution<double> normal;
        std::uniform_real_distribution<double> unit;
        for (int t = 1; t <= kRuns; ++t) {
            d.add("bd_anket.dbf", {double(t), 1.0, QStringLiteral("Тест%1").arg(t)});
            const double theta = normal(gen) * 1.2;
            std::vector<int> row;
            for (int q = 1; q <= 7; ++q) {
                const bool right = q == 7 || unit(gen) < 1 / (1 + std::exp(b[q - 1] - theta));
                int choice = right ? 0 : 1;
                if (q <= 6) row.push_back(right);
                if (q == 3 && t == 1) {
                    row.back() = -1;
                    continue;
                }
                if (q == 3 && t == 2) {
                    row.back() = -1;
                    choice = -1;
                }
                d.add("bd_rezult.dbf", {1.0, double(t), QDate(2025, 3, 4), kTest, q, choice});
            }
            answers.push_back(row);
        }
    }
    static void TearDownTestSuite() { shared.reset(); }
};

TEST_F(IrtStoredTest, StoredRunsCalibrateAsErmDoesOnTheSameAnswers) {
    const CriterionCalibration c = calibrateStoredRuns(db.dir(), kTest, 1, Model::Rasch);
    EXPECT_EQ(c.runs, size_t(kRuns));
    ASSERT_EQ(c.questions, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(c.pointsOfLevel[0], (std::vector<int>{0, 2}));
    EXPECT_EQ(c.fit.personsWithMissing, 2);
    if (!rHas("eRm")) GTEST_SKIP() << "Rscript with eRm is missing: scripts/deps.sh installs r-cran-erm";
    QTemporaryDir dir;
    QFile f(dir.filePath("a.csv"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("I1,I2,I3,I4,I5,I6\n");
    for (const auto& row : answers) {
        QStringList cells;
        for (int v : row)
            cells << (v < 0 ? QStringLiteral("NA") : QString::number(v));
        f.write((cells.join(',') + '\n').toUtf8());
    }
    f.close();
    const QStringList out = rLines(QStringLiteral(R"(
suppressMessages(library(eRm))
m <- RM(as.matrix(read.csv("%1")), sum0 = TRUE); b <- -m$betapar
cat(sprintf("%.12g", c(b - mean(b), m$loglik)), "\n")
)")
                                       .arg(f.fileName()));
    ASSERT_FALSE(out.isEmpty());
    const QStringList v = out.last().split(' ', Qt::SkipEmptyParts);
    ASSERT_EQ(v.size(), 7);
    ASSERT_EQ(c.fit.items.size(), 6u);
    for (size_t i = 0; i < 6; ++i)
        EXPECT_NEAR(c.fit.items[i].parameters.thresholds[0], v[int(i)].toDouble(), 2e-4)
            << "question " << i + 1;
    EXPECT_NEAR(c.fit.logLikelihood, v[6].toDouble(), 1e-3);
}

TEST_F(IrtStoredTest, MorvDbPrintsTheSameCalibrationAndStoresNothing) {
    const CriterionCalibration c = calibrateStoredRuns(db.dir(), kTest, 1, Model::TwoPl);
    const QByteArray before = bytesOf(db.path("bd_rezult.dbf"));
    QString out;
    ASSERT_EQ(
        runCommand(QStringLiteral(MORV_DB_TOOL),
                   {"irt", db.dir(), "--test", QString::number(kTest), "--criterion", "1", "--model", "2pl"},
                   &out),
        0)
        << out.toStdString();
    int items = 0;
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
        const QStringList cells = line.split(',');
        if (cells[0] != QLatin1String("item")) continue;
        const ItemFit& f = c.fit.items.at(size_t(items++));
        EXPECT_EQ(cells[2].toInt(), c.questions[f.column]);
        EXPECT_NEAR(cells[3].toDouble(), f.parameters.a, 1e-8);
        EXPECT_NEAR(cells[5].toDouble(), f.parameters.thresholds[0], 1e-8);
    }
    EXPECT_EQ(items, 6);
    EXPECT_TRUE(out.contains(QStringLiteral(",runs_with_missing_items,2\n"))) << out.toStdString();
    EXPECT_EQ(bytesOf(db.path("bd_rezult.dbf")), before);
}

TEST_F(IrtStoredTest, ItemsEverybodyAnsweredAlikeAreNamed) {
    QString out;
    EXPECT_EQ(runCommand(
                  QStringLiteral(MORV_DB_TOOL),
                  {"irt", db.dir(), "--test", QString::number(kTest), "--criterion", "2", "--model", "rasch"},
                  &out),
              1);
    EXPECT_TRUE(out.contains(QStringLiteral("вопрос 7"))) << out.toStdString();
    EXPECT_EQ(runCommand(
                  QStringLiteral(MORV_DB_TOOL),
                  {"irt", db.dir(), "--test", QString::number(kTest), "--criterion", "3", "--model", "rasch"},
                  &out),
              1);
    EXPECT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL), {"irt", db.dir(), "--test", "4", "--criterion", "1"}),
              2);
    EXPECT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL),
                         {"irt", db.dir(), "--test", "4", "--criterion", "1", "--model", "3pl"}),
              2);
}

TEST(IrtLevels, AnItemsDistinctPointsBecomeItsLevelsInOrder) {
    // Three runs of questions 3 and 8: points 5, 0, 2 and 0, none, 4.
    std::vector<std::vector<int>> levels;
    const Responses r = responsesOf({3, 8}, {5, 0, 0, psychometrics::kUnanswered, 2, 4}, 3, &levels);
    EXPECT_EQ(levels, (std::vector<std::vector<int>>{{0, 2, 5}, {0, 4}}));
    EXPECT_EQ(r.scores, (std::vector<int8_t>{2, 0, 0, int8_t(kMissing), 1, 1}));
    EXPECT_EQ(r.labels, (std::vector<int>{3, 8}));
}

TEST(IrtPerson, EapAndMlAgreeWithNumericalIntegrationInR) {
    if (QStandardPaths::findExecutable(QStringLiteral("Rscript")).isEmpty())
        GTEST_SKIP() << "Rscript is missing";
    const std::vector<ItemParameters> items{{1.3, {-0.5}}, {0.7, {0.8}}, {1, {-1, 0.2, 1.1}}, {1.8, {0.1}}};
    const std::vector<int> scores{1, 0, 2, kMissing};
    const PersonEstimate e = estimatePerson(items, scores);
    // The generalised partial credit model written out afresh in R.
    const QStringList out = rLines(QStringLiteral(R"(
pr <- function(t, a, d, x) { z <- c(0, cumsum(a * (t - d))); exp(z[x + 1] - max(z)) / sum(exp(z - max(z))) }
lik <- function(t) pr(t, 1.3, -0.5, 1) * pr(t, 0.7, 0.8, 0) * pr(t, 1, c(-1, 0.2, 1.1), 2)
post <- function(t) sapply(t, lik) * dnorm(t)
n <- integrate(post, -Inf, Inf, rel.tol = 1e-12)$value
m <- integrate(function(t) t * post(t), -Inf, Inf, rel.tol = 1e-12)$value / n
v <- integrate(function(t) (t - m)^2 * post(t), -Inf, Inf, rel.tol = 1e-12)$value / n
ml <- optimize(function(t) log(lik(t)), c(-10, 10), maximum = TRUE, tol = 1e-12)$maximum
cat(sprintf("%.12g", c(m, sqrt(v), ml)), "\n")
)"));
    ASSERT_FALSE(out.isEmpty());
    const QStringList v = out.last().split(' ', Qt::SkipEmptyParts);
    ASSERT_EQ(v.size(), 3);
    EXPECT_NEAR(e.eap, v[0].toDouble(), 1e-4);
    EXPECT_NEAR(e.eapSe, v[1].toDouble(), 1e-4);
    ASSERT_TRUE(e.ml.has_value());
    EXPECT_NEAR(*e.ml, v[2].toDouble(), 1e-5);
    // A full score has no finite ML estimate; the EAP still has one.
    EXPECT_FALSE(estimatePerson(items, {1, 1, 3, 1}).ml.has_value());
}

} // namespace
