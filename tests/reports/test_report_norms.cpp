// The group report's T line: the testee's T score against the norm group that fits, as the PDF
// a psychologist hands over carries it, read back with poppler.
#include "TestDb.h"
#include "data/Schema.h"
#include "reports/Render.h"
#include "reports/Reports.h"
#include "results/Archive.h"

#include <QRegularExpression>
#include <cmath>
#include <gtest/gtest.h>

TEST(GroupReportNorms, EachTesteeWithAFittingGroupHasItsTLineAndTheOthersNone) {
    if (runCommand(QStringLiteral("pdftotext"), {QStringLiteral("-v")}) != 0)
        GTEST_SKIP() << "poppler-utils (pdftotext) is not installed: scripts/deps.sh";
    TestDb db;
    const QDate tested(2024, 5, 6);
    db.add("bd_test.DBF", {1, 7, "Тревожность", 1, QString()});
    db.add("bd_org.dbf", {1.0, 1, "Школа № 3", "", 1.0, 1.0});
    db.add("bd_analiz.dbf", {7, 1, "средний", 0.0, 40.0, ""});
    // Aged 35, 20 and 60 at the date of testing; the last fits no group.
    db.add("bd_anket.dbf", {1.0, 1.0, "Волков", "Игорь", "Петрович", "М", 1989, 1});
    db.add("bd_anket.dbf", {2.0, 1.0, "Зайцева", "Нина", "Юрьевна", "Ж", 2004, 1});
    db.add("bd_anket.dbf", {3.0, 1.0, "Белов", "Олег", "Ильич", "М", 1964, 1});
    const double raw[] = {11.7, 13.4, 17};
    for (int t = 0; t < 3; ++t)
        db.add("bd_rez.dbf", {1.0, double(t + 1), tested, 7, 1, raw[t]});
    schema::ensureTable(db.dir(), schema::norms());
    const db::Variant none;
    db.add("bd_norm.dbf", {7, 1, "М", 30, 40, 15.0, 4.0, none, none, 200.0});
    db.add("bd_norm.dbf", {7, 1, "Ж", 18, 25, 10.0, 2.0, none, none, 150.0});

    results::Archive archive;
    const QString pdf = db.path(QStringLiteral("group.pdf"));
    reports::savePdf(reports::groupReport(archive, 1, 7), pdf);
    QString text;
    ASSERT_EQ(runCommand(QStringLiteral("pdftotext"), {"-enc", "UTF-8", pdf, "-"}, &text), 0);
    // T = 50 + 10 (raw − mean) / SD to the nearest whole: 41.75 and 67 → 42 and 67.
    const int t1 = int(std::lround(50 + 10 * (raw[0] - 15.0) / 4.0)),
              t2 = int(std::lround(50 + 10 * (raw[1] - 10.0) / 2.0));
    QStringList lines;
    const QRegularExpression tLine(QStringLiteral("^T (\\d+)$"));
    for (const QString& l : text.split(QLatin1Char('\n')))
        if (tLine.match(l.trimmed()).hasMatch()) lines << l.trimmed();
    EXPECT_EQ(lines, QStringList({QStringLiteral("T %1").arg(t1), QStringLiteral("T %1").arg(t2)}))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("T-балл (50 + 10z)")));
}
