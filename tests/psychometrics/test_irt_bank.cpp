// The item bank in a folder: what morv-db irt --store writes, read back by our reader and by
// dbfread; a replaced calibration; a failed store that leaves the files as they were; and
// morv-db cat-simulate over a stored bank, or refusing without one.
#include "TestDb.h"
#include "data/Schema.h"
#include "dbf/Os.h"
#include "psychometrics/irt/Bank.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <cmath>
#include <gtest/gtest.h>
#include <random>

using namespace psychometrics::irt;

namespace {

constexpr int kTest = 4;

// Criterion 1: questions 1..6 answered "Да" (2 points) or "Нет" (0), 2PL-simulated; criterion 2:
// questions 1 and 7, which everybody answered "Да": nothing to calibrate.
void fill(const TestDb& d) {
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
    const double a[] = {0.8, 1.5, 1.0, 2.0, 1.2, 0.7}, b[] = {-1.2, -0.6, 0, 0.3, 0.8, 1.4};
    std::mt19937 gen(5);
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> unit;
    for (int t = 1; t <= 400; ++t) {
        d.add("bd_anket.dbf", {double(t), 1.0, QStringLiteral("Тест%1").arg(t)});
        const double theta = normal(gen);
        for (int q = 1; q <= 7; ++q) {
            const bool right = q == 7 || unit(gen) < 1 / (1 + std::exp(-a[q - 1] * (theta - b[q - 1])));
            d.add("bd_rezult.dbf", {1.0, double(t), QDate(2025, 3, 4), kTest, q, right ? 0 : 1});
        }
    }
}

int morvDb(const QStringList& args, QString* out = nullptr) {
    return runCommand(QStringLiteral(MORV_DB_TOOL), args, out);
}

QList<QJsonObject> dbfreadRows(const QString& dir) {
    QList<QJsonObject> rows;
    for (const QString& line : peerDump(dir, QStringLiteral("bd_irt")))
        rows << QJsonDocument::fromJson(line.toUtf8()).object();
    return rows;
}

class IrtBankTest : public ::testing::Test {
protected:
    TestDb db;
    void SetUp() override { fill(db); }
    QString bankFile() const { return db.path(QLatin1String(schema::irtBank().file)); }
    QString indexFile() const { return db.path(QStringLiteral("bd_irt.MDX")); }
};

TEST_F(IrtBankTest, StoredCalibrationReadsBackHereAndByDbfread) {
    const CriterionCalibration c = calibrateStoredRuns(db.dir(), kTest, 1, Model::TwoPl);
    ASSERT_EQ(c.fit.items.size(), 6u);
    // Another criterion's bank, which storing criterion 1 must leave alone.
    Bank other;
    other.test = kTest;
    other.krit = 3;
    other.model = Model::PartialCredit;
    other.calibrated = QDate(2026, 1, 2);
    other.items.push_back({9, {1.0, {-0.5, 0.75}}, 0, {0.1, 0.2}, {0, 1, 3}});
    storeBank(db.dir(), other);
    storeBank(db.dir(), bankOf(c, QDate(2026, 12, 10)));
    ASSERT_TRUE(QFileInfo::exists(indexFile()));

    const Bank back = readBank(db.dir(), kTest, 1);
    EXPECT_EQ(back.model, Model::TwoPl);
    EXPECT_EQ(back.calibrated, QDate(2026, 12, 10));
    EXPECT_EQ(back.runs, 400);
    ASSERT_EQ(back.items.size(), 6u);
    const QList<QJsonObject> rows = dbfreadRows(db.dir());
    ASSERT_EQ(rows.size(), 8); // 6 questions of criterion 1, two thresholds of criterion 3
    for (size_t i = 0; i < 6; ++i) {
        const ItemFit& f = c.fit.items[i];
        EXPECT_EQ(back.items[i].question, c.questions[f.column]);
        EXPECT_NEAR(back.items[i].parameters.a, f.parameters.a, 1e-8);
        EXPECT_NEAR(back.items[i].parameters.thresholds[0], f.parameters.thresholds[0], 1e-8);
        EXPECT_NEAR(back.items[i].aSe, f.aSe, 1e-8);
        EXPECT_NEAR(back.items[i].thresholdSe[0], f.thresholdSe[0], 1e-8);
        EXPECT_EQ(back.items[i].points, (std::vector<double>{0, 2}));
        // dbfread's row of the question, stored after criterion 3's two.
        const QJsonObject r = rows[qsizetype(i + 2)];
        EXPECT_EQ(r["NOMTESTA"].toInt(), kTest);
        EXPECT_EQ(r["KRIT"].toInt(), 1);
        EXPECT_EQ(r["NOMVOPR"].toInt(), c.questions[f.column]);
        EXPECT_EQ(r["MODEL"].toString(), "2pl");
        EXPECT_EQ(r["POROG"].toInt(), 1);
        EXPECT_NEAR(r["DISKR"].toDouble(), f.parameters.a, 1e-8);
        EXPECT_NEAR(r["TRUD"].toDouble(), f.parameters.thresholds[0], 1e-8);
        EXPECT_NEAR(r["TRUDSE"].toDouble(), f.thresholdSe[0], 1e-8);
        EXPECT_EQ(r["BALL"].toDouble(), 2);
        EXPECT_EQ(r["KOLVO"].toDouble(), 400);
        EXPECT_EQ(r["DATA"].toString(), "2026-12-10");
    }
    const Bank three = readBank(db.dir(), kTest, 3);
    ASSERT_EQ(three.items.size(), 1u);
    EXPECT_EQ(three.items[0].parameters.thresholds, (std::vector<double>{-0.5, 0.75}));
    EXPECT_EQ(three.items[0].points, (std::vector<double>{0, 1, 3}));

    // A new calibration replaces the criterion's rows, and only those.
    ASSERT_EQ(morvDb({"irt", db.dir(), "--test", "4", "--criterion", "1", "--model", "rasch", "--store"}), 0);
    const QList<QJsonObject> after = dbfreadRows(db.dir());
    ASSERT_EQ(after.size(), 8);
    int rasch = 0;
    for (const QJsonObject& r : after)
        rasch += r["KRIT"].toInt() == 1 && r["MODEL"].toString() == "rasch" && r["DISKR"].toDouble() == 1;
    EXPECT_EQ(rasch, 6);
    EXPECT_EQ(readBank(db.dir(), kTest, 1).model, Model::Rasch);
    EXPECT_EQ(readBank(db.dir(), kTest, 3).items.size(), 1u);
    EXPECT_TRUE(readBank(db.dir(), kTest, 2).items.empty());
}

TEST_F(IrtBankTest, FailedStoreLeavesTheFilesAsTheyWere) {
    ASSERT_EQ(morvDb({"irt", db.dir(), "--test", "4", "--criterion", "1", "--model", "2pl", "--store"}), 0);
    const QByteArray table = bytesOf(bankFile()), index = bytesOf(indexFile());
    ASSERT_FALSE(table.isEmpty());
    ASSERT_FALSE(index.isEmpty());
    // A value too wide for its field, in the last row: nothing of the step may stay.
    Bank wide = readBank(db.dir(), kTest, 1);
    wide.items.back().parameters.a = 1e15;
    EXPECT_ANY_THROW(storeBank(db.dir(), wide));
    EXPECT_EQ(bytesOf(bankFile()), table);
    EXPECT_EQ(bytesOf(indexFile()), index);
    // The disk refusing the nth write or sync of a replacement, whichever step that falls in:
    // the files come back byte for byte, until the step gets through whole.
    const Bank rasch = bankOf(calibrateStoredRuns(db.dir(), kTest, 1, Model::Rasch));
    bool stored = false;
    for (int nth = 1; nth <= 40 && !stored; ++nth)
        for (const auto call : {dbf::os::Call::Write, dbf::os::Call::Sync}) {
            dbf::os::failNext(call, ENOSPC, nth);
            try {
                storeBank(db.dir(), rasch);
                stored = true;
            } catch (const std::exception&) {
                EXPECT_EQ(bytesOf(bankFile()), table) << "call " << int(call) << " #" << nth;
                EXPECT_EQ(bytesOf(indexFile()), index) << "call " << int(call) << " #" << nth;
            }
            dbf::os::clearFaults();
            if (stored) break;
        }
    ASSERT_TRUE(stored);
    EXPECT_EQ(readBank(db.dir(), kTest, 1).model, Model::Rasch);
    EXPECT_EQ(dbfreadRows(db.dir()).size(), 6);
    const QByteArray tableNow = bytesOf(bankFile()), indexNow = bytesOf(indexFile());

    // A criterion that cannot be calibrated stores nothing either.
    QString out;
    EXPECT_EQ(morvDb({"irt", db.dir(), "--test", "4", "--criterion", "2", "--model", "2pl", "--store"}, &out),
              1)
        << out.toStdString();
    EXPECT_EQ(bytesOf(bankFile()), tableNow);
    EXPECT_EQ(bytesOf(indexFile()), indexNow);
    EXPECT_EQ(readBank(db.dir(), kTest, 1).items.size(), 6u);
}

TEST_F(IrtBankTest, SimulationNeedsAStoredBank) {
    QString out;
    EXPECT_EQ(morvDb({"cat-simulate", db.dir(), "--test", "4", "--criterion", "1", "--persons", "50"}, &out),
              1);
    EXPECT_TRUE(out.contains("no stored item bank")) << out.toStdString();
    EXPECT_FALSE(QFileInfo::exists(bankFile())); // nothing written, not even the empty table
    ASSERT_EQ(morvDb({"irt", db.dir(), "--test", "4", "--criterion", "1", "--model", "2pl", "--store"}), 0);
    EXPECT_EQ(morvDb({"cat-simulate", db.dir(), "--test", "4", "--criterion", "9"}, &out), 1);
    EXPECT_EQ(morvDb({"cat-simulate", db.dir(), "--test", "4", "--criterion", "1", "--persons", "1"}), 2);
    ASSERT_EQ(morvDb({"cat-simulate", db.dir(), "--test", "4", "--criterion", "1", "--persons", "200", "--se",
                      "0.5", "--seed", "3"},
                     &out),
              0)
        << out.toStdString();
    const QStringList lines = out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << out.toStdString();
    EXPECT_EQ(lines[0], "design,persons,mean_questions,correlation,rmse,max_exposure");
    const QStringList adaptive = lines[1].split(','), fixed = lines[2].split(',');
    ASSERT_EQ(adaptive.size(), 6);
    EXPECT_EQ(adaptive[0], "adaptive");
    EXPECT_EQ(fixed[0], "fixed");
    EXPECT_LE(adaptive[2].toDouble(), 6);
    EXPECT_EQ(fixed[2], "6");
    EXPECT_GT(adaptive[3].toDouble(), 0.5);
}

} // namespace
