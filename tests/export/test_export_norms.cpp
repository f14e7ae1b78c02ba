// The standard-score columns of an export, as other programs read them, against values worked
// out here by Python's statistics module from the norms alone.
#include "ReadBack.h"
#include "TestDb.h"
#include "data/Schema.h"
#include "export/Collect.h"
#include "export/Writers.h"

#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

using namespace exporting;

namespace {

// raw score, mean, sd, table rows: what the group fitting each testee holds.
const char* const kExpected = R"(
import json, math, sys
from statistics import NormalDist
N = NormalDist()
out = {}
for key, (raw, mean, sd, table) in json.load(sys.stdin).items():
    below = [p for s, p in table if s <= raw]
    pr = below[-1] if below else None
    if mean is not None:
        z = (raw - mean) / sd
        if not table:
            pr = 100 * N.cdf(z)
    else:
        z = N.inv_cdf(pr / 100)
    half_up = lambda v, lo, hi: min(hi, max(lo, math.floor(v + 0.5)))
    out[key] = [z, 50 + 10 * z, half_up(5.5 + 2 * z, 1, 10), half_up(5 + 2 * z, 1, 9), pr]
print(json.dumps(out))
)";

QJsonObject expectedScores(const QJsonObject& groups) {
    QProcess p;
    p.start(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromLatin1(kExpected)});
    p.write(QJsonDocument(groups).toJson());
    p.closeWriteChannel();
    p.waitForFinished(60000);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

const QDate kTested(2024, 3, 1);

} // namespace

TEST(ExportNorms, StandardScoreColumnsInEveryFormatAgreeWithTheFormulasAndStayEmptyWithoutAGroup) {
    TestDb db;
    db.add("bd_test.DBF", {1, 5, "Проба", 2, QString()});
    db.add("bd_org.dbf", {1.0, 1, "Школа № 1", "", 1.0, 1.0});
    // Aged 34, 23, 39 and unknown at the date of testing.
    db.add("bd_anket.dbf", {1.0, 1.0, "Иванов", "Иван", "Ильич", "М", 1990, 1});
    db.add("bd_anket.dbf", {2.0, 1.0, "Петрова", "Анна", "Олеговна", "Ж", 2001, 1});
    db.add("bd_anket.dbf", {3.0, 1.0, "Сидоров", "Пётр", "Ильич", "М", 1985, 1});
    db.add("bd_anket.dbf", {4.0, 1.0, "Орлова", "Ольга", "", "Ж", db::Variant(), 1});
    const double raw[4][2] = {{18, 7}, {9, 3}, {20, 12}, {11, 5}};
    for (int t = 0; t < 4; ++t)
        for (int k = 0; k < 2; ++k)
            db.add("bd_rez.dbf", {1.0, double(t + 1), kTested, 5, k + 1, raw[t][k]});
    schema::ensureTable(db.dir(), schema::norms());
    const db::Variant none;
    // Criterion 1: men 30-35 by mean and SD; women 18-25 by mean and SD with a percentile table.
    db.add("bd_norm.dbf", {5, 1, "М", 30, 35, 15.3, 3.7, none, none, 120.0});
    db.add("bd_norm.dbf", {5, 1, "Ж", 18, 25, 11.2, 2.9, none, none, 80.0});
    const double womenTable[][2] = {{5, 10}, {8, 35}, {10, 55}, {14, 80}};
    for (const auto& row : womenTable)
        db.add("bd_norm.dbf", {5, 1, "Ж", 18, 25, none, none, row[0], row[1]});
    // Criterion 2: both sexes, any age, a percentile table alone.
    const double anyTable[][2] = {{0, 5}, {3, 20}, {6, 45}, {10, 85}};
    for (const auto& row : anyTable)
        db.add("bd_norm.dbf", {5, 2, "", none, none, none, none, row[0], row[1]});

    auto table = [](const auto& rows) {
        QJsonArray a;
        for (const auto& r : rows)
            a.append(QJsonArray{r[0], r[1]});
        return a;
    };
    const QJsonObject expected = expectedScores({
        {"1/1", QJsonArray{raw[0][0], 15.3, 3.7, QJsonArray()}},
        {"2/1", QJsonArray{raw[1][0], 11.2, 2.9, table(womenTable)}},
        {"1/2", QJsonArray{raw[0][1], QJsonValue(), QJsonValue(), table(anyTable)}},
        {"2/2", QJsonArray{raw[1][1], QJsonValue(), QJsonValue(), table(anyTable)}},
        {"3/2", QJsonArray{raw[2][1], QJsonValue(), QJsonValue(), table(anyTable)}},
    });
    ASSERT_EQ(expected.size(), 5);

    const Sheet s = collect(db.dir(), {5, std::nullopt, Content::Scores});
    QTemporaryDir out;
    const QString sav = out.filePath("n.sav"), xlsx = out.filePath("n.xlsx"), csv = out.filePath("n.csv");
    write(s, Format::Sav, sav);
    write(s, Format::Xlsx, xlsx);
    write(s, Format::Csv, csv, CsvStyle{false});
    const QJsonObject read[] = {readBack(sav), readBack(xlsx), readBack(csv, ",")};
    const char* const formats[] = {"sav", "xlsx", "csv"};

    QStringList names;
    for (const QJsonValue& v : read[0]["columns"].toArray())
        names << v.toString();
    const int testee = int(names.indexOf("NOMTESTIR"));
    ASSERT_GE(testee, 0) << names.join(' ').toStdString();
    const char* const suffixes[] = {"Z", "T", "STEN", "STAN", "PR"};
    const int decimals[] = {4, 0, 0, 0, 2}; // as the columns are declared, and PSPP lists them
    for (int f = 0; f < 3; ++f) {
        SCOPED_TRACE(formats[f]);
        const QJsonArray rows = read[f]["rows"].toArray();
        ASSERT_EQ(rows.size(), 4);
        for (const QJsonValue& row : rows) {
            const int t =
                int(row[testee].isString() ? row[testee].toString().toDouble() : row[testee].toDouble());
            for (int k = 1; k <= 2; ++k) {
                const QJsonValue want = expected[QStringLiteral("%1/%2").arg(t).arg(k)];
                for (int i = 0; i < 5; ++i) {
                    const QString name = QStringLiteral("KRIT%1_%2").arg(k).arg(QLatin1String(suffixes[i]));
                    const int at = int(names.indexOf(name));
                    ASSERT_GE(at, 0) << name.toStdString();
                    const QJsonValue got = row[at];
                    const QString text = got.isString() ? got.toString().trimmed() : QString();
                    SCOPED_TRACE(QStringLiteral("testee %1 %2 read %3").arg(t).arg(name, text).toStdString());
                    if (want.isUndefined()) {
                        // No fitting group (testee 3, criterion 1) or no age (testee 4): blank.
                        EXPECT_TRUE(got.isNull() || text.isEmpty() || text == ".");
                        continue;
                    }
                    bool ok = true;
                    const double value = got.isDouble() ? got.toDouble() : text.toDouble(&ok);
                    ASSERT_TRUE(ok && !got.isNull());
                    // The spreadsheet keeps every digit; the others show the declared decimals.
                    const double tolerance = f == 1 ? 1e-9 : 0.5 * std::pow(10.0, -decimals[i]) + 1e-9;
                    EXPECT_NEAR(value, want[i].toDouble(), tolerance);
                }
            }
        }
    }
}
