// The reports of the sample database saved as PDF and read back with poppler's tools: what a
// psychologist hands over must carry the right names, dates, scores, levels and texts, in
// embedded fonts whose text can be searched.
#include "TestDb.h"
#include "data/Schema.h"
#include "reports/Render.h"
#include "reports/Reports.h"
#include "results/Archive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <gtest/gtest.h>

using reports::Report;
using reports::ReportError;
using results::Archive;

namespace {

bool havePoppler() {
    return runCommand(QStringLiteral("pdftotext"), {QStringLiteral("-v")}) == 0;
}

// The text of a PDF, its lines joined with blanks, so that a wrapped phrase still matches. Laid
// out, a table row is one line; else each cell's text comes whole.
QString pdfText(const QString& pdf, bool layout = true) {
    QStringList args{QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdf, QStringLiteral("-")};
    if (layout) args.prepend(QStringLiteral("-layout"));
    QString out;
    EXPECT_EQ(runCommand(QStringLiteral("pdftotext"), args, &out), 0);
    return out.simplified();
}

// The font lines of pdffonts: every one must say the font is embedded.
QStringList fontsNotEmbedded(const QString& pdf, int* count) {
    QString out;
    EXPECT_EQ(runCommand(QStringLiteral("pdffonts"), {pdf}, &out), 0);
    QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QStringList bad;
    *count = 0;
    for (const QString& l : lines.mid(2)) { // a heading and a rule come first
        ++*count;
        // name type encoding emb sub uni object ID: emb is the fourth column from the end.
        const QStringList cols = l.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (cols.size() < 7 || cols[cols.size() - 5] != QLatin1String("yes")) bad << l;
    }
    return bad;
}

void screenshot(const QString& pdf, const char* name) {
    const QString dir = QStringLiteral(MORV_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    const QString base = QDir(dir).filePath(QString::fromLatin1(name));
    EXPECT_EQ(runCommand(QStringLiteral("pdftoppm"),
                         {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("80"),
                          QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"),
                          QStringLiteral("1"), QStringLiteral("-singlefile"), pdf, base}),
              0);
    EXPECT_TRUE(QFileInfo::exists(base + QStringLiteral(".png")));
}

class SampleReports : public ::testing::Test {
protected:
    TestDb db;
    void SetUp() override {
        if (!havePoppler()) GTEST_SKIP() << "poppler-utils (pdftotext) is not installed: scripts/deps.sh";
        QString out;
        ASSERT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL),
                             {QStringLiteral("sample"), db.dir(), QStringLiteral("--force")}, &out),
                  0)
            << out.toStdString();
    }
    QString save(const Report& r, const char* name) {
        const QString path = db.path(QString::fromLatin1(name) + QStringLiteral(".pdf"));
        reports::savePdf(r, path);
        return path;
    }
    void expectEmbedded(const QString& pdf) {
        int count = 0;
        const QStringList bad = fontsNotEmbedded(pdf, &count);
        EXPECT_GT(count, 0);
        EXPECT_TRUE(bad.isEmpty()) << bad.join(QLatin1Char('\n')).toStdString();
    }

    // The level of a score as the interpretation table says, found here by reading the table
    // directly: the first range in stored order that holds it.
    QString levelFromTable(int test, int krit, int ball) {
        const QString file = db.path(QStringLiteral("bd_analiz.dbf"));
        const QStringList tests = readColumn(file, "NOMTESTA"), krits = readColumn(file, "KRIT"),
                          mins = readColumn(file, "MIN"), maxs = readColumn(file, "MAX"),
                          names = readColumn(file, "UROV");
        for (int i = 0; i < tests.size(); ++i)
            if (tests[i].toInt() == test && krits[i].toInt() == krit && mins[i].toDouble() <= ball &&
                maxs[i].toDouble() >= ball)
                return names[i];
        return {};
    }
};

TEST_F(SampleReports, ARunReportHasTheTesteeTheScoresLevelsTextsAndAnswers) {
    Archive a;
    // Institution 1, testee 1, test 2: a test of several criteria, so with the bar chart.
    const QString pdf = save(reports::runReport(a, {1, 1, 2}), "ReportRun");
    const QString text = pdfText(pdf);
    for (const char* s : {"Результаты тестирования", "Средняя общеобразовательная школа № 27",
                          "Соколова Анна Дмитриевна", "2009", "Начальное общее", "Поведение в рабочей группе",
                          "12.02.2024", "Приложение. Ответы", "Психолог:", "Страница 1 из"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(s))) << s;
    const QList<RunRow> scores = runRows(db.dir(), "bd_rez.dbf", 1, 1, 2);
    ASSERT_GE(scores.size(), 2);
    for (const RunRow& s : scores) {
        const QString level = levelFromTable(2, s.number, s.value);
        ASSERT_FALSE(level.isEmpty());
        // The criterion's row of the score table, then its level heading with the range.
        EXPECT_TRUE(text.contains(QStringLiteral("%1 %2 %3").arg(s.number).arg(s.value).arg(level)))
            << "criterion " << s.number << " score " << s.value << " level " << level.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("Критерий %1, уровень «%2»").arg(s.number).arg(level)));
    }
    // The level's explanation and an answer of the appendix, read from the tables directly.
    const QList<RunRow> answers = runRows(db.dir(), "bd_rezult.dbf", 1, 1, 2);
    ASSERT_FALSE(answers.isEmpty());
    EXPECT_TRUE(text.contains(QStringLiteral("Вопрос")));
    expectEmbedded(pdf);
    screenshot(pdf, "ReportRun");
}

TEST_F(SampleReports, ATesteeReportListsEveryTestNewestFirst) {
    Archive a;
    const QString pdf = save(reports::testeeReport(a, 1, 1), "ReportTestee");
    const QString text = pdfText(pdf);
    EXPECT_TRUE(text.contains(QStringLiteral("История тестирования")));
    EXPECT_TRUE(text.contains(QStringLiteral("Соколова Анна Дмитриевна")));
    const qsizetype second = text.indexOf(QStringLiteral("12.02.2024 — Поведение в рабочей группе"));
    const qsizetype first = text.indexOf(QStringLiteral("05.02.2024 — Шкала повседневной тревожности"));
    ASSERT_GE(second, 0);
    ASSERT_GE(first, 0);
    EXPECT_LT(second, first);
    const QList<RunRow> scores = runRows(db.dir(), "bd_rez.dbf", 1, 1, 1);
    ASSERT_EQ(scores.size(), 1);
    const QString row =
        QStringLiteral("1 %1 %2").arg(scores[0].value).arg(levelFromTable(1, 1, scores[0].value));
    EXPECT_TRUE(text.contains(row)) << row.toStdString() << "\n" << text.toStdString();
    expectEmbedded(pdf);
    screenshot(pdf, "ReportTestee");
}

TEST_F(SampleReports, AGroupReportHasEveryTesteeAndTheStatistics) {
    Archive a;
    const QString pdf = save(reports::groupReport(a, 1, 1), "ReportGroup");
    const QString text = pdfText(pdf, false);
    std::vector<int> values;
    for (int testee : {1, 2, 3}) {
        const QList<RunRow> s = runRows(db.dir(), "bd_rez.dbf", 1, testee, 1);
        ASSERT_EQ(s.size(), 1);
        values.push_back(s[0].value);
        EXPECT_TRUE(
            text.contains(QStringLiteral("%1 %2").arg(s[0].value).arg(levelFromTable(1, 1, s[0].value))))
            << "testee " << testee;
    }
    for (const char* s : {"Соколова Анна Дмитриевна", "Морозов Илья Сергеевич", "Лебедева Дарья Андреевна",
                          "05.02.2024", "06.02.2024"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(s))) << s;
    EXPECT_FALSE(text.contains(QStringLiteral("Никитин"))); // took no test
    // Mean and sample standard deviation of the three scores, figured here.
    const double mean = (values[0] + values[1] + values[2]) / 3.0;
    double squares = 0;
    for (int v : values)
        squares +=
            (v - QString::number(mean, 'f', 4).toDouble()) * (v - QString::number(mean, 'f', 4).toDouble());
    const double sd = std::sqrt(QString::number(squares / 2, 'f', 4).toDouble());
    EXPECT_TRUE(text.contains(QStringLiteral("Среднее ") + QString::number(mean, 'f', 4)))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Стандартное отклонение ") + QString::number(sd, 'f', 4)));
    expectEmbedded(pdf);
    screenshot(pdf, "ReportGroup");
}

// A test's source is printed under its name where the database keeps one, and nowhere else.
TEST_F(SampleReports, TheTestsSourceLineIsUnderItsNameOnlyWhenItHasOne) {
    schema::ensureTable(db.dir(), schema::licenceTable());
    db.add("bd_licen.dbf", {2, "Е. В. Орлова", "Вопросы психологии, 2019, № 4", "свободно со ссылкой", 0});
    const QString line =
        QStringLiteral("Е. В. Орлова, Вопросы психологии, 2019, № 4; условия: свободно со ссылкой");
    Archive a;
    const QString run = pdfText(save(reports::runReport(a, {1, 1, 2}), "SourceRun"));
    const qsizetype name = run.indexOf(QStringLiteral("Тест Поведение в рабочей группе (№ 2)"));
    ASSERT_GE(name, 0) << run.toStdString();
    const qsizetype source = run.indexOf(QStringLiteral("Источник теста ") + line);
    EXPECT_GT(source, name) << run.toStdString();
    EXPECT_LT(source, run.indexOf(QStringLiteral("Дата тестирования"))); // the next row

    // The testee's history: under test 2's heading, and not under test 1's, which has none.
    const QString history = pdfText(save(reports::testeeReport(a, 1, 1), "SourceTestee"));
    const qsizetype second = history.indexOf(QStringLiteral("12.02.2024 — Поведение в рабочей группе (№ 2)")),
                    first = history.indexOf(QStringLiteral("05.02.2024 — Шкала повседневной тревожности"));
    ASSERT_GE(second, 0);
    ASSERT_GT(first, second);
    EXPECT_EQ(history.count(QStringLiteral("Источник теста: ") + line), 1) << history.toStdString();
    EXPECT_GT(history.indexOf(QStringLiteral("Источник теста: ")), second);
    EXPECT_LT(history.indexOf(QStringLiteral("Источник теста: ")), first);

    EXPECT_FALSE(
        pdfText(save(reports::groupReport(a, 1, 1), "SourceGroup1")).contains(QStringLiteral("Источник")));
    EXPECT_TRUE(pdfText(save(reports::groupReport(a, 1, 2), "SourceGroup2")).contains(line));
}

TEST_F(SampleReports, NothingToReportIsOneMessage) {
    Archive a;
    auto message = [](const std::function<void()>& make) {
        try {
            make();
        } catch (const ReportError& e) {
            return QString::fromUtf8(e.what());
        }
        return QStringLiteral("no message");
    };
    // Testee 4 of institution 1 took no test; institution 3 has nobody scored on test 1 except 2.
    EXPECT_EQ(
        message([&] {
            reports::runReport(a, {1, 4, 1});
        }),
        "Никитин Артём Олегович не проходил(а) тест «Шкала повседневной тревожности»: отчёт не составлен.");
    EXPECT_EQ(message([&] { reports::testeeReport(a, 1, 4); }),
              "Никитин Артём Олегович не проходил(а) ни одного теста: отчёт не составлен.");
    EXPECT_EQ(message([&] { reports::groupReport(a, 1, 3); }),
              "В учреждении «Средняя общеобразовательная школа № 27, 9 и 10 классы» нет тестируемых с "
              "подсчитанными "
              "результатами теста «Организация учебного и рабочего времени»: отчёт не составлен.");
    EXPECT_EQ(message([&] {
                  reports::runReport(a, {1, 9, 1});
              }),
              "Тестируемый № 9 учреждения № 1 не найден: отчёт не составлен.");
    EXPECT_EQ(message([&] { reports::groupReport(a, 1, 99); }), "Тест № 99 не найден: отчёт не составлен.");

    // A run begun and not finished: the page says it is not scored, the answers are there.
    const QString pdf = save(reports::runReport(a, {2, 4, 1}), "unscored");
    const QString text = pdfText(pdf);
    EXPECT_TRUE(text.contains(QStringLiteral("Результаты не подсчитаны")));
    EXPECT_TRUE(text.contains(QStringLiteral("нет ответа")));
}

TEST_F(SampleReports, AFailedSaveLeavesNoFileAndKeepsTheOldOne) {
    Archive a;
    const Report r = reports::testeeReport(a, 1, 1);
    // A folder that does not exist.
    const QString missing = db.path(QStringLiteral("no-such-folder/report.pdf"));
    EXPECT_THROW(reports::savePdf(r, missing), ReportError);
    EXPECT_FALSE(QFileInfo::exists(missing));
    // A read-only folder with an earlier report in it: the earlier one stays as it was.
    const QString dir = db.path(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkpath(dir));
    const QString old = QDir(dir).filePath(QStringLiteral("report.pdf"));
    {
        QFile f(old);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("earlier");
    }
    QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    if (QFileInfo(dir).isWritable()) GTEST_SKIP() << "running as a user whom permissions do not stop";
    try {
        reports::savePdf(r, old);
        ADD_FAILURE() << "saved into a read-only folder";
    } catch (const ReportError& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).startsWith(QStringLiteral("Отчёт не сохранён в ")));
    }
    QFile f(old);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "earlier");
    EXPECT_EQ(QDir(dir).entryList(QDir::Files), QStringList{QStringLiteral("report.pdf")});
    QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

// A database made for the edges: scores on the bounds of their ranges, a score in no range, a
// criterion never scored, a testee without a name, a test without criteria.
class EdgeReports : public ::testing::Test {
protected:
    TestDb db;
    void SetUp() override {
        if (!havePoppler()) GTEST_SKIP() << "poppler-utils (pdftotext) is not installed: scripts/deps.sh";
        db.add("bd_org.dbf", {1.0, 1, QStringLiteral("Лицей")});
        db.add("bd_anket.dbf", {1.0, 1.0}); // no name, no particulars
        db.add("bd_test.DBF", {1, 5, QStringLiteral("Границы"), 5});
        db.add("bd_test.DBF", {1, 6, QStringLiteral("Без критериев"), 0});
        for (int k = 1; k <= 4; ++k) {
            db.add("bd_analiz.dbf",
                   {5, k, QStringLiteral("Низкий %1").arg(k), 0.0, 10.0, QStringLiteral("Мало")});
            db.add("bd_analiz.dbf",
                   {5, k, QStringLiteral("Высокий %1").arg(k), 11.0, 20.0, QStringLiteral("Много")});
        }
        // 10.5 as another program may store it: shown as it is, its level that of 10.
        const double scores[] = {0, 10.5, 11, 21}; // criterion 5 has no score
        for (int k = 1; k <= 4; ++k)
            db.add("bd_rez.dbf", {1.0, 1.0, QDate(2025, 3, 4), 5, k, scores[k - 1]});
        db.add("bd_rezult.dbf", {1.0, 1.0, QDate(2025, 3, 4), 6, 1, 0});
    }
};

TEST_F(EdgeReports, BoundsMissingScoresAndMissingNamesAreSaidOnThePage) {
    Archive a;
    const QString pdf = db.path(QStringLiteral("edges.pdf"));
    reports::savePdf(reports::runReport(a, {1, 1, 5}), pdf);
    const QString text = pdfText(pdf);
    for (const char* s :
         {"1 0 Низкий 1", "2 10.5 Низкий 2", "3 11 Высокий 3", "4 21 вне диапазонов", "5 нет балла",
          "Критерий 4: балл 21 не попадает ни в один диапазон уровней теста.",
          "Критерий 5: балла нет — критерий не подсчитан.", "тестируемый № 1 (фамилия и имя не указаны)",
          "Пол не указан", "Образование не указано", "04.03.2025", "В тесте нет ни одного вопроса."})
        EXPECT_TRUE(text.contains(QString::fromUtf8(s))) << s << "\n" << text.toStdString();

    reports::savePdf(reports::groupReport(a, 1, 5), pdf);
    EXPECT_TRUE(pdfText(pdf).contains(QStringLiteral("10.5"))) << "the group report cut the fraction";

    reports::savePdf(reports::runReport(a, {1, 1, 6}), pdf);
    EXPECT_TRUE(
        pdfText(pdf).contains(QStringLiteral("У теста не указано ни одного критерия: оценивать нечего.")));
    EXPECT_THROW(reports::groupReport(a, 1, 6), ReportError);
    // The history names both tests, the one without criteria saying so.
    reports::savePdf(reports::testeeReport(a, 1, 1), pdf);
    const QString history = pdfText(pdf);
    EXPECT_TRUE(history.contains(QStringLiteral("04.03.2025 — Границы (№ 5)")));
    EXPECT_TRUE(history.contains(QStringLiteral("04.03.2025 — Без критериев (№ 6)")));
}

} // namespace
