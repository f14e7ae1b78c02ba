// Data and reports without personal data, read back by programs we did not write (PSPP,
// openpyxl, Python's csv module, poppler): no surname, name, patronymic or year of birth of any
// testee anywhere, and the code "institution-testee" in their place.
#include "ReadBack.h"
#include "TestDb.h"
#include "dataset/Table.h"
#include "reports/Render.h"
#include "reports/Reports.h"
#include "results/Archive.h"

#include <QDir>
#include <QJsonArray>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class Pseudonymous : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new QTemporaryDir;
        ASSERT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL), {"sample", db()}), 0);
        db::Table anket;
        anket.setTableName(QDir(db()).filePath("bd_anket.dbf"));
        anket.open();
        for (anket.first(); !anket.eof(); anket.next()) {
            for (const char* f : {"FAMTESTIR", "NAMETESTIR", "OTCHTESTIR"})
                if (const QString s = anket.fieldValue(f).toString().trimmed(); !s.isEmpty())
                    personal.insert(s);
            if (!anket.fieldValue("GRTESTIR").isNull())
                years.insert(QString::number(anket.fieldValue("GRTESTIR").toInt()));
        }
    }
    static void TearDownTestSuite() { delete dir; }
    static QString db() { return dir->filePath("db"); }
    static QJsonObject exported(const QString& name, const QStringList& args) {
        const QString file = dir->filePath(name);
        QString out;
        EXPECT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL),
                             QStringList{"export", db(), "--test", "2", "--output", file} + args, &out),
                  0)
            << out.toStdString();
        return readBack(file, args.contains("--plain") ? QStringLiteral(",") : QStringLiteral(";"));
    }
    // Every cell and heading that names a person; none may.
    static QStringList namesIn(const QJsonObject& data) {
        QStringList found;
        QStringList texts;
        for (const QJsonValue& h : data["columns"].toArray())
            texts << h.toString();
        for (const QJsonValue& v : data["variables"].toArray())
            texts << v["Label"].toString();
        for (const QJsonValue& r : data["rows"].toArray())
            for (const QJsonValue& c : r.toArray())
                texts << (c.isDouble() ? QString::number(c.toDouble()) : c.toString());
        for (const QString& t : texts)
            for (const QString& p : personal)
                if (t.contains(p)) found << t;
        return found;
    }
    static inline QTemporaryDir* dir = nullptr;
    static inline QSet<QString> personal, years;
};

qsizetype columnOf(const QJsonObject& data, const QString& name) {
    const QJsonArray cols = data["columns"].toArray();
    for (qsizetype i = 0; i < cols.size(); ++i)
        if (cols[i].toString() == name) return i;
    return -1;
}

} // namespace

TEST_F(Pseudonymous, NoNameAndNoYearOfBirthInAnyFormatButTheCodeInstead) {
    ASSERT_FALSE(personal.isEmpty());
    const QJsonObject plain = exported("named.csv", {"--format", "csv", "--plain"});
    EXPECT_FALSE(namesIn(plain).isEmpty()) << "the ordinary export names people: the check itself works";

    for (const char* format : {"sav", "xlsx", "csv"}) {
        SCOPED_TRACE(format);
        QStringList args = {"--format", format, "--anonymous"};
        if (QLatin1String(format) == QLatin1String("csv")) args << "--plain";
        const QJsonObject data = exported(QStringLiteral("anon.") + format, args);
        EXPECT_TRUE(namesIn(data).isEmpty()) << namesIn(data).join(" | ").toStdString();
        // Headings as the reader gives them: variable names for .sav and plain CSV.
        const bool byName = QLatin1String(format) != "xlsx";
        const qsizetype code = columnOf(data, byName ? "CODE" : "Код тестируемого");
        const qsizetype org = columnOf(data, byName ? "NOMU" : "№ учреждения");
        const qsizetype testee = columnOf(data, byName ? "NOMTESTIR" : "№ тестируемого");
        ASSERT_GE(code, 0);
        ASSERT_GE(org, 0);
        ASSERT_GE(testee, 0);
        EXPECT_EQ(columnOf(data, byName ? "GRTESTIR" : "Год рождения"), -1);
        const QJsonArray rows = data["rows"].toArray();
        ASSERT_GT(rows.size(), 0);
        for (const QJsonValue& r : rows) {
            const auto number = [&](qsizetype at) {
                const QJsonValue v = r[at];
                return v.isDouble() ? QString::number(v.toInt()) : QString::number(v.toString().toDouble());
            };
            EXPECT_EQ(r[code].toString(), number(org) + "-" + number(testee));
        }
    }
    // Asked for, the year of birth stays; the names still go.
    const QJsonObject withYear =
        exported("year.csv", {"--format", "csv", "--plain", "--anonymous", "--birth-year"});
    EXPECT_TRUE(namesIn(withYear).isEmpty());
    const qsizetype year = columnOf(withYear, "GRTESTIR");
    ASSERT_GE(year, 0);
    bool someYear = false;
    for (const QJsonValue& r : withYear["rows"].toArray())
        someYear = someYear || years.contains(r[year].toString());
    EXPECT_TRUE(someYear);

    QString out;
    EXPECT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL),
                         {"export", db(), "--test", "2", "--format", "csv", "--birth-year", "--output",
                          dir->filePath("x.csv")},
                         &out),
              2)
        << out.toStdString();
}

TEST_F(Pseudonymous, TheGroupReportPrintedWithoutNamesShowsCodesOnly) {
    if (runCommand(QStringLiteral("pdftotext"), {QStringLiteral("-v")}) != 0)
        GTEST_SKIP() << "poppler-utils (pdftotext) is not installed: scripts/deps.sh";
    TestDb bound; // the reports read the database of the alias
    ASSERT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL), {"sample", bound.dir(), "--force"}), 0);
    results::Archive archive;
    auto textOf = [&](bool anonymous) {
        const QString pdf = dir->filePath(anonymous ? "anon.pdf" : "named.pdf");
        reports::savePdf(reports::groupReport(archive, 1, 1, {}, anonymous), pdf);
        QString text;
        EXPECT_EQ(runCommand(QStringLiteral("pdftotext"), {"-enc", "UTF-8", pdf, "-"}, &text), 0);
        return text;
    };
    auto named = [&](const QString& text) {
        QStringList found;
        for (const QString& p : personal)
            if (text.contains(p)) found << p;
        return found;
    };
    EXPECT_FALSE(named(textOf(false)).isEmpty());
    const QString text = textOf(true);
    EXPECT_TRUE(named(text).isEmpty()) << named(text).join(" ").toStdString();
    EXPECT_TRUE(text.contains("1-1")) << text.toStdString();
}
