// Norms: which group fits a testee, the standard scores at their cut points, percentiles by the
// table's rule and under the normal curve (checked against R), the table of norms on disk, and
// the norms of a sample of the database's scored runs.
#include "TestDb.h"
#include "data/Schema.h"
#include "psychometrics/Norms.h"
#include "psychometrics/Sample.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

using namespace psychometrics;

namespace {

NormGroup meanSd(int krit, const char* sex, std::optional<int> from, std::optional<int> to, double mean,
                 double sd) {
    return {1, krit, QString::fromUtf8(sex), from, to, mean, sd, std::nullopt, {}};
}

// Criterion 1: men and women 18–25 apart, both sexes 26–40, and both sexes of any age with a
// wider spread, which the narrower bands win over.
std::vector<NormGroup> groups() {
    return {meanSd(1, "М", 18, 25, 10, 2), meanSd(1, "Ж", 18, 25, 12, 4), meanSd(1, "", 26, 40, 20, 5),
            meanSd(1, "", 60, std::nullopt, 30, 10)};
}

double zOf(const NormResult& r) {
    EXPECT_TRUE(r.scores && r.scores->z) << r.why.toStdString();
    return r.scores && r.scores->z ? *r.scores->z : NAN;
}

TEST(Norms, TheGroupAtEachBandEdgeAndForEachSex) {
    const auto g = groups();
    // Born 2000: 18 in 2018 and 25 in 2025 are inside the band, 26 in 2026 is the next one.
    EXPECT_DOUBLE_EQ(zOf(standardScores(g, 1, 12, "М", 2000, QDate(2018, 1, 1))), 1.0);
    EXPECT_DOUBLE_EQ(zOf(standardScores(g, 1, 12, "М", 2000, QDate(2025, 12, 31))), 1.0);
    EXPECT_DOUBLE_EQ(zOf(standardScores(g, 1, 12, "Ж", 2000, QDate(2025, 6, 1))), 0.0);
    EXPECT_DOUBLE_EQ(zOf(standardScores(g, 1, 15, "Ж", 2000, QDate(2026, 1, 1))), -1.0);
    EXPECT_DOUBLE_EQ(zOf(standardScores(g, 1, 15, "М", 2000, QDate(2040, 1, 1))), -1.0); // 40
    // A lower-case letter is the same sex.
    EXPECT_DOUBLE_EQ(zOf(standardScores(g, 1, 12, "ж", 2000, QDate(2020, 1, 1))), 0.0);
    // An open upper end.
    EXPECT_DOUBLE_EQ(zOf(standardScores(g, 1, 40, "Ж", 1920, QDate(2020, 1, 1))), 1.0);

    // 17, 41–59, no sex for a band kept by sex, no year of birth, no norms of the criterion.
    for (const NormResult& none : {standardScores(g, 1, 12, "М", 2000, QDate(2017, 12, 31)),
                                   standardScores(g, 1, 12, "М", 2000, QDate(2041, 1, 1)),
                                   standardScores(g, 1, 12, "", 2000, QDate(2020, 1, 1)),
                                   standardScores(g, 1, 12, "М", std::nullopt, QDate(2020, 1, 1)),
                                   standardScores(g, 2, 12, "М", 2000, QDate(2020, 1, 1))}) {
        EXPECT_FALSE(none.scores);
        EXPECT_FALSE(none.why.isEmpty());
    }
    EXPECT_EQ(standardScores(g, 1, 12, "М", 2000, QDate(2041, 1, 1)).why,
              QStringLiteral("нет норм для группы: М, 41 лет"));
    EXPECT_EQ(standardScores(g, 2, 12, "М", 2000, QDate(2020, 1, 1)).why,
              QStringLiteral("для критерия нет норм"));

    // One's own sex wins over both sexes, and a narrower band over a wider one.
    std::vector<NormGroup> overlap{meanSd(1, "", 0, 99, 0, 1), meanSd(1, "", 20, 30, 100, 1),
                                   meanSd(1, "Ж", 0, 99, 50, 1)};
    EXPECT_DOUBLE_EQ(zOf(standardScores(overlap, 1, 50, "Ж", 2000, QDate(2025, 1, 1))), 0.0);
    EXPECT_DOUBLE_EQ(zOf(standardScores(overlap, 1, 100, "М", 2000, QDate(2025, 1, 1))), 0.0);
}

TEST(Norms, TStenAndStanineAtTheirCutPoints) {
    // Sten k and stanine k start at these z (half a standard deviation wide, ends open).
    const double stenCuts[] = {-2, -1.5, -1, -0.5, 0, 0.5, 1, 1.5, 2};
    const double stanineCuts[] = {-1.75, -1.25, -0.75, -0.25, 0.25, 0.75, 1.25, 1.75};
    for (int i = -16; i <= 16; ++i) {
        for (double z : {i * 0.25, i * 0.25 - 1e-9}) {
            int expectedSten = 1, expectedStanine = 1;
            for (double c : stenCuts)
                expectedSten += z >= c;
            for (double c : stanineCuts)
                expectedStanine += z >= c;
            EXPECT_EQ(sten(z), expectedSten) << "z = " << z;
            EXPECT_EQ(stanine(z), expectedStanine) << "z = " << z;
        }
    }
    EXPECT_DOUBLE_EQ(tScore(0), 50);
    EXPECT_DOUBLE_EQ(tScore(-1.5), 35);
    EXPECT_EQ(sten(-7), 1);
    EXPECT_EQ(stanine(9), 9);
}

TEST(Norms, PercentileByTheTablesRule) {
    const std::vector<std::pair<double, double>> rows{{5, 10}, {8, 50}, {12, 90}};
    EXPECT_FALSE(tablePercentile(rows, 4.9)); // below the table
    EXPECT_EQ(tablePercentile(rows, 5), 10);
    EXPECT_EQ(tablePercentile(rows, 7), 10);
    EXPECT_EQ(tablePercentile(rows, 8), 50);
    EXPECT_EQ(tablePercentile(rows, 40), 90);

    // A group with a table and a mean and SD: z from the mean and SD, the percentile from the table.
    NormGroup both = meanSd(1, "", std::nullopt, std::nullopt, 8, 2);
    both.percentiles = rows;
    const NormResult r = standardScores({both}, 1, 11, "М", 1990, QDate(2020, 1, 1));
    ASSERT_TRUE(r.scores);
    EXPECT_DOUBLE_EQ(*r.scores->z, 1.5);
    EXPECT_EQ(*r.scores->percentile, 50);
    EXPECT_TRUE(r.scores->percentileFromTable);
    // A table alone gives normalized scores: z of the percentile.
    NormGroup table{1, 1, {}, {}, {}, {}, {}, {}, rows};
    const NormResult t = standardScores({table}, 1, 8, "Ж", 1990, QDate(2020, 1, 1));
    ASSERT_TRUE(t.scores && t.scores->z);
    EXPECT_NEAR(*t.scores->z, 0, 1e-12);
    EXPECT_EQ(*t.scores->sten, 6);
    EXPECT_FALSE(standardScores({table}, 1, 2, "Ж", 1990, QDate(2020, 1, 1)).scores->z);
}

TEST(Norms, NormalCurveAgreesWithR) {
    QProcess r;
    r.start(QStringLiteral("Rscript"),
            {QStringLiteral("-e"),
             QStringLiteral("cat(sprintf('%.15g', c(100 * pnorm(c(-2.5, -1, 0, 0.3, 1.96)), "
                            "qnorm(c(0.01, 0.1, 0.5, 0.77, 0.99)))))")});
    ASSERT_TRUE(r.waitForFinished(60000));
    ASSERT_EQ(r.exitCode(), 0) << r.readAllStandardError().toStdString();
    const QStringList peer = QString::fromUtf8(r.readAllStandardOutput()).split(QLatin1Char(' '));
    ASSERT_EQ(peer.size(), 10);
    const double z[] = {-2.5, -1, 0, 0.3, 1.96}, p[] = {1, 10, 50, 77, 99};
    for (int i = 0; i < 5; ++i) {
        EXPECT_NEAR(normalPercentile(z[i]), peer[i].toDouble(), 1e-9);
        EXPECT_NEAR(*zOfPercentile(p[i]), peer[5 + i].toDouble(), 1e-9);
    }
    EXPECT_FALSE(zOfPercentile(0));
    EXPECT_FALSE(zOfPercentile(100));
}

class NormTable : public ::testing::Test {
protected:
    TestDb db;
};

TEST_F(NormTable, MadeOnFirstUseWithItsIndexAndReadBack) {
    const QString path = schema::ensureTable(db.dir(), schema::norms());
    EXPECT_TRUE(QFileInfo::exists(path));
    EXPECT_TRUE(QFileInfo::exists(QDir(db.dir()).filePath(QStringLiteral("bd_norm.MDX"))));
    db.add("bd_norm.dbf", {3, 1, QStringLiteral("Ж"), 18, 25, 12.5, 2.5, db::Variant(), db::Variant(), 40.0});
    db.add("bd_norm.dbf", {3, 1, QStringLiteral("Ж"), 18, 25, db::Variant(), db::Variant(), 14.0, 60.0});
    db.add("bd_norm.dbf", {3, 1, QStringLiteral("Ж"), 18, 25, db::Variant(), db::Variant(), 10.0, 30.0});
    db.add("bd_norm.dbf", {4, 1, QString(), db::Variant(), db::Variant(), 1.0, 1.0});
    // Made again: the rows stay; nothing is left of the making.
    schema::ensureTable(db.dir(), schema::norms());
    EXPECT_EQ(QDir(db.dir()).entryList({QStringLiteral(".make-*")}, QDir::AllEntries | QDir::Hidden).size(),
              0);
    const std::vector<NormGroup> g = readNorms(db.dir(), 3);
    ASSERT_EQ(g.size(), 1u);
    EXPECT_EQ(g[0].sex, QStringLiteral("Ж"));
    EXPECT_EQ(g[0].ageFrom, 18);
    EXPECT_EQ(g[0].ageTo, 25);
    EXPECT_EQ(g[0].mean, 12.5);
    EXPECT_EQ(g[0].n, 40.0);
    EXPECT_EQ(g[0].percentiles, (std::vector<std::pair<double, double>>{{10, 30}, {14, 60}}));
    EXPECT_EQ(readNorms(db.dir(), 4).at(0).ageFrom, std::nullopt);
    // Read by a dBASE reader we did not write.
    QString report;
    EXPECT_EQ(peerCheck(db.dir(), &report), 0) << report.toStdString();
}

TEST_F(NormTable, ADatabaseWithoutNormsHasNone) {
    EXPECT_TRUE(readNorms(db.dir(), 1).empty());
    EXPECT_FALSE(QFileInfo::exists(db.path(QStringLiteral("bd_norm.dbf"))));
}

TEST_F(NormTable, SampleOfScoredRunsByGroup) {
    // Four women aged 20 at testing, one man, one woman of 30, one woman without a year of birth.
    const double scores[] = {10, 14, 9, 13};
    int t = 1;
    for (double s : scores) {
        db.add("bd_anket.dbf",
               {double(t), 1.0, QStringLiteral("Ж%1").arg(t), {}, {}, QStringLiteral("Ж"), 2000});
        db.add("bd_rez.dbf", {1.0, double(t), QDate(2020, 5, 1), 5, 1, s});
        db.add("bd_rez.dbf",
               {1.0, double(t), QDate(2020, 5, 1), 5, 1, 99.0}); // a second row: the first counts
        ++t;
    }
    db.add("bd_anket.dbf", {double(t), 1.0, QStringLiteral("М"), {}, {}, QStringLiteral("М"), 2000});
    db.add("bd_rez.dbf", {1.0, double(t++), QDate(2020, 5, 1), 5, 1, 40.0});
    db.add("bd_anket.dbf", {double(t), 1.0, QStringLiteral("Ж30"), {}, {}, QStringLiteral("Ж"), 1990});
    db.add("bd_rez.dbf", {1.0, double(t++), QDate(2020, 5, 1), 5, 1, 50.0});
    db.add("bd_anket.dbf", {double(t), 1.0, QStringLiteral("Жбезгода"), {}, {}, QStringLiteral("Ж")});
    db.add("bd_rez.dbf", {1.0, double(t++), QDate(2020, 5, 1), 5, 1, 60.0});
    db.add("bd_rez.dbf", {1.0, 1.0, QDate(2020, 5, 1), 5, 2, 70.0}); // another criterion

    const SampleNorm young = sampleNorm(db.dir(), 5, 1, QStringLiteral("Ж"), 18, 25);
    EXPECT_EQ(young.n, 4u);
    EXPECT_DOUBLE_EQ(*young.mean, 11.5);
    EXPECT_NEAR(*young.sd, std::sqrt(((1.5 * 1.5) * 2 + 2.5 * 2.5 * 2) / 3), 1e-12); // n − 1
    EXPECT_EQ(sampleNorm(db.dir(), 5, 1, QStringLiteral("Ж"), {}, {}).n, 6u);
    EXPECT_EQ(sampleNorm(db.dir(), 5, 1, {}, 18, 30).n, 6u);
    EXPECT_EQ(sampleNorm(db.dir(), 5, 1, QStringLiteral("М"), 26, {}).n, 0u);
    EXPECT_FALSE(sampleNorm(db.dir(), 5, 1, QStringLiteral("М"), {}, {}).sd);
}

} // namespace
