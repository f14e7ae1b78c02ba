// The analyses, the export and the archive on a database on a PostgreSQL server: an office's
// folder moved to the server gives the same files and figures as the folder, read back with
// psql, R and the export readers we did not write.
#include "../export/ReadBack.h"
#include "PgServer.h"
#include "PgStore.h"
#include "TestDb.h"
#include "UiTest.h"
#include "data/Schema.h"
#include "dataset/Aliases.h"
#include "dataset/ColumnScan.h"
#include "dataset/Table.h"
#include "psychometrics/ItemAnalysis.h"
#include "psychometrics/Norms.h"
#include "psychometrics/Sample.h"
#include "psychometrics/window/Norms.h"
#include "results/Archive.h"

#include <QComboBox>
#include <QDir>
#include <QJsonDocument>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <set>

namespace {

using Row = std::vector<std::pair<const char*, db::Variant>>;

void addRow(const QString& dir, const char* file, const Row& values, bool deleted = false) {
    db::Table t;
    t.setTableName(QDir(dir).filePath(QLatin1String(file)));
    t.open();
    t.append();
    for (const auto& [name, value] : values)
        t.setFieldValue(QLatin1String(name), value);
    t.post();
    if (deleted) t.deleteRecord();
}

// The demonstration database in a folder with what other programs leave in one: scores with
// decimals and blanks, an undated score row, a testee without a year of birth, a deleted row;
// then moved to the server.
class PgScanTest : public PgDatabaseTest {
protected:
    void SetUp() override {
        PgDatabaseTest::SetUp();
        if (!ready()) return;
        office = work.filePath(QStringLiteral("office"));
        QString out;
        ASSERT_EQ(runCommand(MORV_DB_TOOL, {"sample", office}, &out), 0) << out.toStdString();
        addRow(office, "bd_anket.dbf",
               {{"NOMU", 1.0},
                {"NOMTESTIR", 90.0},
                {"FAMTESTIR", QStringLiteral("Ёлкин")},
                {"NAMETESTIR", QStringLiteral("Пётр")},
                {"POLTESTIR", QStringLiteral("М")}});
        addRow(office, "bd_rez.dbf",
               {{"NOMU", 1.0}, {"NOMTESTIR", 90.0}, {"NOMTESTA", 1}, {"KRIT", 1}, {"BALL", 6.5}});
        addRow(office, "bd_rez.dbf",
               {{"NOMU", 1.0},
                {"NOMTESTIR", 91.0},
                {"NOMTESTA", 1},
                {"KRIT", 1},
                {"BALL", -2.25},
                {"DATA", QDate(2024, 3, 1)}});
        addRow(office, "bd_rez.dbf", {{"NOMU", 1.0}, {"NOMTESTIR", 92.0}, {"NOMTESTA", 1}, {"KRIT", 1}});
        addRow(office, "bd_rez.dbf",
               {{"NOMU", 1.0}, {"NOMTESTIR", 93.0}, {"NOMTESTA", 1}, {"KRIT", 1}, {"BALL", 99.0}}, true);
        ASSERT_EQ(runCommand(MORV_DB_TOOL, {"migrate", office, url}, &out), 0) << out.toStdString();
    }

    // What morv-db export writes of the database, in a file of its own.
    QString exported(const QString& database, const QString& name, QStringList options) {
        const QString file = work.filePath(name);
        options.prepend(database);
        options.prepend(QStringLiteral("export"));
        options << QStringLiteral("--output") << file;
        QString out;
        EXPECT_EQ(runCommand(MORV_DB_TOOL, options, &out), 0) << out.toStdString();
        return file;
    }

    QString analysed(const QString& database, int test) {
        QString out;
        EXPECT_EQ(runCommand(MORV_DB_TOOL, {"analyse", database, "--test", QString::number(test)}, &out), 0)
            << out.toStdString();
        return out;
    }

    QTemporaryDir work;
    QString office;
};

std::optional<int64_t> wholeOf(const QJsonValue& v) {
    if (v.isNull()) return std::nullopt;
    return int64_t(std::nearbyint(v.toDouble())); // halves to the even neighbour, as the windows read
}

TEST_F(PgScanTest, APassGivesWhatPsqlAndTheFolderGive) {
    const auto server = db::ColumnScan::open(url, "bd_rez.dbf");
    const auto folder = db::ColumnScan::open(office, "BD_REZ.DBF");
    const char* const names[] = {"BALL", "NOMTESTIR", "DATA", "KRIT"};
    std::vector<int> s, f;
    for (const char* n : names) {
        s.push_back(server->column(n));
        f.push_back(folder->column(n));
    }
    EXPECT_EQ(server->column("NONE"), -1);
    EXPECT_EQ(server->column("ball"), s[0]); // asked twice, one column
    EXPECT_EQ(server->count(), psqlText(url, "SELECT count(*) FROM bd_rez").toUInt());

    const QStringList psql = psqlDump(url, "bd_rez", {"ball", "nomtestir", "data", "krit"});
    std::vector<QJsonObject> expected;
    for (const QString& line : psql)
        expected.push_back(QJsonDocument::fromJson(line.toUtf8()).object());
    ASSERT_GE(expected.size(), 10u);
    size_t at = 0;
    server->scan([&](const db::ColumnScan::Record& r) {
        EXPECT_TRUE(r.live());
        EXPECT_EQ(r.index(), at);
        const QJsonObject& row = expected.at(at++);
        EXPECT_EQ(r.whole(s[0]), wholeOf(row["ball"])) << at;
        EXPECT_EQ(r.number(s[0]).has_value(), !row["ball"].isNull()) << at;
        if (!row["ball"].isNull()) {
            EXPECT_EQ(*r.number(s[0]), row["ball"].toDouble()) << at;
        }
        EXPECT_EQ(r.whole(s[1]), wholeOf(row["nomtestir"])) << at;
        EXPECT_EQ(r.date(s[2]), QDate::fromString(row["data"].toString(), Qt::ISODate)) << at;
        return !::testing::Test::HasFailure();
    });
    EXPECT_EQ(at, expected.size());

    // The folder's live records hold the same values in the same order.
    std::vector<std::tuple<std::optional<double>, std::optional<int64_t>, QDate, std::optional<int64_t>>>
        rows;
    folder->scan([&](const db::ColumnScan::Record& r) {
        if (r.live()) rows.emplace_back(r.number(f[0]), r.whole(f[1]), r.date(f[2]), r.whole(f[3]));
        return true;
    });
    ASSERT_EQ(rows.size(), expected.size());
    at = 0;
    server->scan([&](const db::ColumnScan::Record& r) {
        EXPECT_EQ(rows[at++], std::make_tuple(r.number(s[0]), r.whole(s[1]), r.date(s[2]), r.whole(s[3])))
            << at;
        return true;
    });
}

TEST_F(PgScanTest, TextsComeTrimmedAndWholeAcrossBatches) {
    // More rows than the first batches hold, with texts the code page keeps apart.
    {
        pg::PgStore t(url, QStringLiteral("bd_anket"), false);
        std::vector<std::vector<db::ColumnValue>> rows;
        const int fam = t.columnIndex(QStringLiteral("FAMTESTIR")),
                  nt = t.columnIndex(QStringLiteral("NOMTESTIR")), nu = t.columnIndex(QStringLiteral("NOMU"));
        for (int i = 0; i < 6000; ++i)
            rows.push_back({{nu, QStringLiteral("NOMU"), 7.0},
                            {nt, QStringLiteral("NOMTESTIR"), double(i + 1)},
                            {fam, QStringLiteral("FAMTESTIR"), QStringLiteral("Щ%1ё  ").arg(i)}});
        t.appendMany(rows);
    }
    const QStringList psql = psqlDump(url, "bd_anket", {"famtestir", "nomtestir"});
    const auto scan = db::ColumnScan::open(url, "bd_anket.dbf");
    const int fam = scan->column("FAMTESTIR"), nt = scan->column("NOMTESTIR");
    qsizetype at = 0;
    scan->scan([&](const db::ColumnScan::Record& r) {
        const QJsonObject row = QJsonDocument::fromJson(psql.at(at++).toUtf8()).object();
        EXPECT_EQ(r.text(fam), row["famtestir"].toString().remove(QRegularExpression(" +$"))) << at;
        EXPECT_EQ(r.whole(nt), wholeOf(row["nomtestir"])) << at;
        return !::testing::Test::HasFailure();
    });
    EXPECT_EQ(at, psql.size());
    EXPECT_GT(at, 6000);
    // A step that stops ends the pass.
    at = 0;
    scan->scan([&](const db::ColumnScan::Record&) { return ++at < 700; });
    EXPECT_EQ(at, 700);
}

TEST_F(PgScanTest, ExportIsTheFoldersByteForByte) {
    const QList<QStringList> kinds = {
        {"--test", "1", "--format", "csv"},
        {"--test", "1", "--format", "csv", "--plain", "--answers"},
        {"--test", "1", "--format", "csv", "--answers", "--points"},
        {"--test", "2", "--format", "csv", "--org", "1", "--anonymous"},
    };
    for (qsizetype i = 0; i < kinds.size(); ++i) {
        SCOPED_TRACE(kinds[i].join(' ').toStdString());
        const QByteArray folder = bytesOf(exported(office, QStringLiteral("f%1.csv").arg(i), kinds[i]));
        const QByteArray server = bytesOf(exported(url, QStringLiteral("s%1.csv").arg(i), kinds[i]));
        ASSERT_FALSE(folder.isEmpty());
        EXPECT_EQ(server, folder);
    }
    // One row per run of test 1 as psql counts them.
    const QJsonObject csv = readBack(exported(url, "runs.csv", {"--test", "1", "--format", "csv"}));
    EXPECT_EQ(QString::number(csv["rows"].toArray().size()),
              psqlText(url, "SELECT count(DISTINCT (nomu, nomtestir)) FROM bd_rez WHERE nomtesta = 1"));
    // The cells of the other formats as PSPP and openpyxl read them.
    for (const char* format : {"sav", "xlsx"}) {
        SCOPED_TRACE(format);
        const QStringList options = {"--test", "1", "--format", QLatin1String(format)};
        QJsonObject folder = readBack(exported(office, QStringLiteral("f.") + format, options));
        QJsonObject server = readBack(exported(url, QStringLiteral("s.") + format, options));
        for (QJsonObject* o : {&folder, &server}) // the file's own name and time, and PSPP's notes
            o->remove("info"), o->remove("messages");
        ASSERT_FALSE(folder.isEmpty());
        EXPECT_EQ(server, folder);
    }
}

TEST_F(PgScanTest, ItemAnalysisIsTheFoldersAndRsOnTheServer) {
    ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("Rscript")).isEmpty())
        << "Rscript is missing: scripts/deps.sh installs r-cran-psych";
    const QString figures = analysed(url, 1);
    EXPECT_EQ(figures, analysed(office, 1));
    EXPECT_EQ(analysed(url, 2), analysed(office, 2));

    // Alpha of each criterion from the server's answers as R's psych computes it.
    const psychometrics::TestAnalysis t = psychometrics::analyseTest(url, 1);
    const QString csv =
        exported(url, "points.csv", {"--test", "1", "--format", "csv", "--plain", "--answers", "--points"});
    for (const psychometrics::CriterionAnalysis& c : t.criteria) {
        if (c.complete < 3 || !c.scale.alpha) continue;
        QStringList columns;
        for (const psychometrics::Item& i : c.items)
            columns << QStringLiteral("\"Q%1\"").arg(i.question, 3, 10, QLatin1Char('0'));
        const QString script = QStringLiteral(R"(
suppressMessages(library(psych))
x <- na.omit(read.csv("%1")[, c(%2)])
a <- psych::alpha(x, check.keys = FALSE, warnings = FALSE)
cat(nrow(x), sprintf("%.15g", a$total$raw_alpha), "\n")
)")
                                   .arg(csv, columns.join(QLatin1String(", ")));
        QProcess r;
        r.start(QStringLiteral("Rscript"), {QStringLiteral("-e"), script});
        ASSERT_TRUE(r.waitForFinished(120000));
        const QStringList out = QString::fromUtf8(r.readAllStandardOutput()).split(' ', Qt::SkipEmptyParts);
        ASSERT_EQ(r.exitCode(), 0) << r.readAllStandardError().toStdString();
        ASSERT_GE(out.size(), 2);
        EXPECT_EQ(out[0].toULongLong(), c.complete) << "criterion " << c.krit;
        EXPECT_NEAR(*c.scale.alpha, out[1].toDouble(), 1e-6) << "criterion " << c.krit;
    }
}

// The first score row of each run of criterion 1 of test 1 whose testee is registered, as psql
// reads it, in whole numbers with halves to the even one (round of a double): n, mean and
// standard deviation.
QStringList sampleByPsql(const QString& url) {
    return psqlText(
               url,
               "SELECT count(*), avg(b), stddev_samp(b) FROM (SELECT DISTINCT ON (r.nomu, "
               "r.nomtestir) round(r.ball::float8) AS b FROM bd_rez r WHERE r.nomtesta = 1 AND r.krit = 1 "
               "AND r.ball IS NOT NULL AND EXISTS (SELECT 1 FROM bd_anket a WHERE a.nomu = r.nomu "
               "AND a.nomtestir = r.nomtestir) ORDER BY r.nomu, r.nomtestir, r.id) x")
        .split('|');
}

TEST_F(PgScanTest, NormsWindowStoresTheSampleOnTheServerAndTheExportUsesIt) {
    const QStringList expected = sampleByPsql(url);
    ASSERT_EQ(expected.size(), 3);
    const psychometrics::SampleNorm onServer = psychometrics::sampleNorm(url, 1, 1, {}, {}, {});
    EXPECT_EQ(QString::number(onServer.n), expected[0]);
    ASSERT_TRUE(onServer.mean && onServer.sd);
    EXPECT_NEAR(*onServer.mean, expected[1].toDouble(), 1e-9);
    EXPECT_NEAR(*onServer.sd, expected[2].toDouble(), 1e-9);
    const psychometrics::SampleNorm inFolder = psychometrics::sampleNorm(office, 1, 1, {}, {}, {});
    EXPECT_EQ(inFolder.n, onServer.n);
    EXPECT_EQ(inFolder.mean, onServer.mean);
    EXPECT_EQ(inFolder.sd, onServer.sd);

    EXPECT_TRUE(psychometrics::readNorms(url, 1).empty()); // no table of norms yet
    MessageRecorder messages(true);                        // yes, store the small group
    for (const QString& database : {url, office}) {
        TFormNorms form;
        form.open(database, 1, QStringLiteral("Тест"), 1);
        form.ComboSex->setCurrentIndex(0);
        form.ButtonSample->click();
        EXPECT_TRUE(form.LabelSample->text().endsWith(QStringLiteral("— записано.")))
            << form.LabelSample->text().toStdString();
    }
    const QStringList stored =
        psqlText(url, "SELECT nomtesta, krit, coalesce(pol, ''), sred, sigma, kolvo FROM bd_norm").split('|');
    ASSERT_EQ(stored.size(), 6);
    EXPECT_EQ(stored[0], "1");
    EXPECT_EQ(stored[1], "1");
    EXPECT_EQ(stored[2], "");
    EXPECT_NEAR(stored[3].toDouble(), expected[1].toDouble(), 1e-4);
    EXPECT_NEAR(stored[4].toDouble(), expected[2].toDouble(), 1e-4);
    EXPECT_EQ(stored[5].toDouble(), expected[0].toDouble());
    const auto norms = psychometrics::readNorms(url, 1);
    ASSERT_EQ(norms.size(), 1u);
    EXPECT_EQ(norms[0].mean, psychometrics::readNorms(office, 1).at(0).mean);

    // The scores' export carries the standard scores of both the same way.
    const QStringList scores = {"--test", "1", "--format", "csv", "--plain"};
    const QByteArray server = bytesOf(exported(url, "s.csv", scores));
    EXPECT_TRUE(server.contains("KRIT1_Z"));
    EXPECT_EQ(server, bytesOf(exported(office, "f.csv", scores)));
}

TEST_F(PgScanTest, ArchiveListsTheTestsPsqlFinds) {
    const QStringList people =
        psqlText(url, "SELECT DISTINCT nomu::int || ' ' || nomtestir::int FROM bd_anket").split('\n');
    ASSERT_GE(people.size(), 5);
    auto tests = [](const QString& database, int org, int testee) {
        db::Aliases::bind(QStringLiteral("morv"), database);
        std::set<int> list;
        for (const results::RunResult& r : results::Archive().history(org, testee))
            list.insert(r.key.test);
        return list;
    };
    for (const QString& who : people) {
        const int org = who.section(' ', 0, 0).toInt(), testee = who.section(' ', 1, 1).toInt();
        std::set<int> expected;
        for (const QString& t :
             psqlText(url,
                      QStringLiteral("SELECT nomtesta FROM bd_rez WHERE nomu = %1 AND nomtestir = %2 UNION "
                                     "SELECT nomtesta FROM bd_rezult WHERE nomu = %1 AND nomtestir = %2")
                          .arg(org)
                          .arg(testee))
                 .split('\n', Qt::SkipEmptyParts))
            expected.insert(t.toInt());
        EXPECT_EQ(tests(url, org, testee), expected) << who.toStdString();
        EXPECT_EQ(tests(office, org, testee), expected) << who.toStdString();
    }
    const auto test = results::findTest(url, 1);
    ASSERT_TRUE(test);
    EXPECT_EQ(test->name, psqlText(url, "SELECT rtrim(name) FROM bd_test WHERE ntest = 1"));
    EXPECT_EQ(QString::number(test->criteria), psqlText(url, "SELECT kolkrit FROM bd_test WHERE ntest = 1"));
    EXPECT_FALSE(results::findTest(url, 999));
}

} // namespace
