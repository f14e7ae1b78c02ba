// The data of a test's runs: one row per tested testee, the shared rules of a score's level
// and of a chosen option, the scope, and what a test nobody took gives.
#include "ReadBack.h"
#include "TestDb.h"
#include "dataset/Table.h"
#include "export/Collect.h"
#include "export/Output.h"
#include "export/Writers.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace exporting;

namespace {

const QDate d1(2024, 3, 1), d2(2024, 3, 5), d3(2024, 3, 9);

const Column& col(const Sheet& s, const char* name) {
    for (const Column& c : s.columns)
        if (c.name == QLatin1String(name)) return c;
    ADD_FAILURE() << "no column " << name;
    static const Column none;
    return none;
}

// What a column holds, one text per row: numbers as written, blanks as "-".
QStringList cells(const Sheet& s, const char* name) {
    const Column& c = col(s, name);
    QStringList out;
    for (size_t r = 0; r < s.rows; ++r) {
        if (c.type == ColumnType::Text)
            out << (c.texts[r].isEmpty() ? QStringLiteral("-") : c.texts[r]);
        else if (std::isnan(c.numbers[r]))
            out << QStringLiteral("-");
        else if (c.type == ColumnType::Date)
            out << c.date(r).toString(Qt::ISODate);
        else
            out << QString::number(c.numbers[r]);
    }
    return out;
}

class Collect : public ::testing::Test {
protected:
    TestDb db;
    void SetUp() override {
        db.add("bd_test.DBF", {1, 5, "Проба", 2, QString()});
        db.add("bd_test.DBF", {1, 6, "Никем не пройденный", 1, QString()});
        db.add("bd_sprav.dbf", {2, 1, "Начальное"});
        db.add("bd_sprav.dbf", {2, 6, "Высшее"});
        db.add("bd_sprav.dbf", {2, 6, "Второй текст кода 6"});
        db.add("bd_sprav.dbf", {3, 7, "Не образование"});
        db.add("bd_org.dbf", {1.0, 1, "Школа № 1", "", 1.0, 1.0});
        db.add("bd_org.dbf", {2.0, 1, "Колледж", "", 1.0, 1.0});
        db.add("bd_anket.dbf", {1.0, 1.0, "Иванов", "Иван", "Иванович", "М", 1990, 6});
        // Field order: testee number, then institution.
        db.add("bd_anket.dbf", {1.0, 2.0, "Петрова", "Анна", "Олеговна", "Ж", 2001, 1});
        db.add("bd_anket.dbf", {2.0, 1.0, "Сидоров", "Пётр", "Ильич", "М", 1985, 7});
        // Criterion 1: ranges 0-15 (A) and 10-20 (B) overlap; 21-30 (C). Criterion 2: 0-5.
        db.add("bd_analiz.dbf", {5, 1, "A", 0.0, 15.0, "текст A"});
        db.add("bd_analiz.dbf", {5, 1, "B", 10.0, 20.0, "текст B"});
        db.add("bd_analiz.dbf", {6, 1, "чужой тест", 0.0, 100.0, ""});
        db.add("bd_analiz.dbf", {5, 1, "C", 21.0, 30.0, "текст C"});
        db.add("bd_analiz.dbf", {5, 2, "низко", 0.0, 5.0, ""});
    }
    void addScores() {
        db.add("bd_rez.dbf", {2.0, 1.0, d1, 5, 1, 12.0});
        db.add("bd_rez.dbf", {2.0, 1.0, d2, 5, 2, 3.0});
        db.add("bd_rez.dbf", {2.0, 1.0, d3, 5, 1, 25.0}); // a second row of a criterion: the first counts
        db.add("bd_rez.dbf", {1.0, 2.0, d1, 5, 1, 31.0});
        db.add("bd_rez.dbf", {1.0, 1.0, d2, 5, 1, 20.5}); // kept; its level is that of 20
        db.add("bd_rez.dbf", {1.0, 1.0, d2, 5, 3, 99.0}); // beyond KOLKRIT
        db.add("bd_rez.dbf", {1.0, 3.0, d3, 5, 2, 0.0});  // a testee without a questionnaire
        db.add("bd_rez.dbf", {1.0, 1.0, d1, 4, 1, 50.0}); // another test
    }
    void addAnswers() {
        db.add("bd_vopros.DBF", {5, 1, "Первый вопрос", 1, 1});
        db.add("bd_vopros.DBF", {5, 2, "Второй вопрос", 2, 1});
        db.add("bd_vopros.DBF", {5, 3, "Вопрос без вариантов", 7, 1});
        // Set 1: points not in the order of places; set 2: a blank is no points.
        db.add("bd_otvet.dbf", {1, "Никогда", 3});
        db.add("bd_otvet.dbf", {2, "Да", 5});
        db.add("bd_otvet.dbf", {1, "Иногда", 1});
        db.add("bd_otvet.dbf", {1, "Часто", 0});
        db.add("bd_otvet.dbf", {2, "Нет", db::Variant()});
        db.add("bd_rezult.dbf", {1.0, 1.0, d1, 5, 1, 0});
        db.add("bd_rezult.dbf", {1.0, 1.0, d1, 5, 2, 1});
        db.add("bd_rezult.dbf", {1.0, 1.0, d1, 5, 3, 0});
        db.add("bd_rezult.dbf", {1.0, 2.0, d1, 5, 1, -1});
        db.add("bd_rezult.dbf", {1.0, 2.0, d2, 5, 2, 7}); // past the last option
        db.add("bd_rezult.dbf", {1.0, 2.0, d1, 5, 1, 2}); // a second row of a question: the first counts
        db.add("bd_rezult.dbf", {2.0, 1.0, d2, 5, 1, 2});
        db.add("bd_rezult.dbf", {2.0, 1.0, d3, 5, 9, 1}); // no question of the test
    }
};

TEST_F(Collect, ScoresGiveOneRowPerTesteeWithTheLevelTheResultWindowShows) {
    addScores();
    const Sheet s = collect(db.dir(), {5, std::nullopt, Content::Scores});
    EXPECT_EQ(s.title, "Проба");
    ASSERT_EQ(s.rows, 4u);
    EXPECT_EQ(cells(s, "NOMU"), QStringList({"1", "1", "1", "2"}));
    EXPECT_EQ(cells(s, "NOMTESTIR"), QStringList({"1", "2", "3", "1"}));
    EXPECT_EQ(cells(s, "NAMEU"), QStringList({"Школа № 1", "Школа № 1", "Школа № 1", "Колледж"}));
    EXPECT_EQ(cells(s, "FAMTESTIR"), QStringList({"Иванов", "Сидоров", "-", "Петрова"}));
    EXPECT_EQ(cells(s, "POLTESTIR"), QStringList({"М", "М", "-", "Ж"}));
    EXPECT_EQ(cells(s, "GRTESTIR"), QStringList({"1990", "1985", "-", "2001"}));
    // The first dictionary entry of a code; a code of another dictionary is no education.
    EXPECT_EQ(cells(s, "OBRTESTIR"), QStringList({"6", "7", "-", "1"}));
    EXPECT_EQ(cells(s, "OBR"), QStringList({"Высшее", "-", "-", "Начальное"}));
    ASSERT_EQ(col(s, "OBRTESTIR").numberLabels.size(), 2u);
    EXPECT_EQ(col(s, "OBRTESTIR").numberLabels[1].second, "Высшее");

    EXPECT_EQ(cells(s, "KRIT1"), QStringList({"20.5", "31", "-", "12"}));
    EXPECT_EQ(col(s, "KRIT1").decimals, 1);
    EXPECT_EQ(col(s, "KRIT2").decimals, 0);
    EXPECT_EQ(cells(s, "KRIT1_UR"), QStringList({"B", "-", "-", "A"}));
    EXPECT_EQ(cells(s, "KRIT2"), QStringList({"-", "-", "0", "3"}));
    EXPECT_EQ(cells(s, "KRIT2_UR"), QStringList({"-", "-", "низко", "низко"}));
    for (const Column& c : s.columns)
        EXPECT_FALSE(c.name.startsWith("KRIT3")) << "criterion 3 is beyond the test's count";
    // The newest of the run's score rows.
    EXPECT_EQ(cells(s, "DATA"), QStringList({"2024-03-05", "2024-03-01", "2024-03-09", "2024-03-09"}));
}

TEST_F(Collect, AScoreWithAFractionKeepsItInEveryFormatAsOtherProgramsReadIt) {
    db.add("bd_rez.dbf", {1.0, 1.0, d1, 5, 1, 6.5});
    db.add("bd_rez.dbf", {1.0, 1.0, d1, 5, 2, 4.0});
    db.add("bd_rez.dbf", {1.0, 2.0, d1, 5, 1, 12.25});
    const Sheet s = collect(db.dir(), {5, std::nullopt, Content::Scores});
    QTemporaryDir out;
    const int krit1 = int(
        std::find_if(s.columns.begin(), s.columns.end(), [](const Column& c) { return c.name == "KRIT1"; }) -
        s.columns.begin());
    const QString sav = out.filePath("b.sav"), xlsx = out.filePath("b.xlsx"), csv = out.filePath("b.csv"),
                  plain = out.filePath("r.csv");
    write(s, Format::Sav, sav);
    write(s, Format::Xlsx, xlsx);
    write(s, Format::Csv, csv);
    write(s, Format::Csv, plain, CsvStyle{false});
    const QJsonArray pspp = readBack(sav)["rows"].toArray();
    ASSERT_EQ(pspp.size(), 2);
    EXPECT_EQ(pspp[0][krit1].toString().toDouble(), 6.5);
    EXPECT_EQ(pspp[1][krit1].toString().toDouble(), 12.25);
    const QJsonArray sheet = readBack(xlsx)["rows"].toArray();
    EXPECT_DOUBLE_EQ(sheet[0][krit1].toDouble(), 6.5);
    EXPECT_DOUBLE_EQ(sheet[1][krit1].toDouble(), 12.25);
    const QJsonArray ru = readBack(csv, ";")["rows"].toArray();
    EXPECT_EQ(ru[0][krit1].toString(), "6,50");
    EXPECT_EQ(ru[1][krit1].toString(), "12,25");
    const QJsonArray r = readBack(plain, ",")["rows"].toArray();
    EXPECT_EQ(r[0][krit1].toString(), "6.50");
    EXPECT_EQ(r[0][krit1 + 2].toString(), "4") << "a column of whole scores stays whole";
}

TEST_F(Collect, OneInstitutionOnly) {
    addScores();
    const Sheet s = collect(db.dir(), {5, 2, Content::Scores});
    EXPECT_EQ(cells(s, "NOMU"), QStringList({"2"}));
    EXPECT_EQ(cells(s, "FAMTESTIR"), QStringList({"Петрова"}));
}

TEST_F(Collect, AnswersAsPlacesAndAsPoints) {
    addScores();
    addAnswers();
    const Sheet places = collect(db.dir(), {5, std::nullopt, Content::AnswerPositions});
    // (1,3) has scores but no answer rows: no row here.
    EXPECT_EQ(cells(places, "NOMTESTIR"), QStringList({"1", "2", "1"}));
    EXPECT_EQ(cells(places, "Q001"), QStringList({"1", "0", "3"}));
    EXPECT_EQ(cells(places, "Q002"), QStringList({"2", "2", "-"}));
    EXPECT_EQ(cells(places, "Q003"), QStringList({"0", "-", "-"}));
    const Column& q1 = col(places, "Q001");
    EXPECT_EQ(q1.title, "Вопрос 1: Первый вопрос");
    EXPECT_EQ(q1.missingCode, 0.0);
    ASSERT_EQ(q1.numberLabels.size(), 4u);
    EXPECT_EQ(q1.numberLabels[0].second, "нет ответа");
    EXPECT_EQ(q1.numberLabels[2], std::make_pair(2.0, QStringLiteral("Иногда")));
    EXPECT_EQ(places.columns.size(), 11u + 3u) << "a row of question 9 makes no column";
    // Answers of a scored run are dated by its scores.
    EXPECT_EQ(cells(places, "DATA"), QStringList({"2024-03-05", "2024-03-01", "2024-03-09"}));

    const Sheet points = collect(db.dir(), {5, std::nullopt, Content::AnswerPoints});
    EXPECT_EQ(cells(points, "Q001"), QStringList({"3", "-", "0"}));
    EXPECT_EQ(cells(points, "Q002"), QStringList({"0", "0", "-"}));
    EXPECT_EQ(cells(points, "Q003"), QStringList({"-", "-", "-"}));
    EXPECT_FALSE(col(points, "Q001").missingCode);
}

TEST_F(Collect, ATestNobodyTookOrThatIsNotThereIsToldByName) {
    addScores();
    auto message = [&](const Request& r) {
        try {
            collect(db.dir(), r);
        } catch (const ExportError& e) {
            return e.message();
        }
        return QStringLiteral("no error");
    };
    EXPECT_EQ(message({6, std::nullopt, Content::Scores}),
              "Тест № 6 «Никем не пройденный» никто не проходил.");
    EXPECT_EQ(message({5, 1, Content::AnswerPositions}),
              "В учреждении № 1 тест № 5 «Проба» никто не проходил.");
    EXPECT_EQ(message({8, std::nullopt, Content::Scores}), "Теста № 8 нет в базе данных.");
    // Answered but never scored: the answers are there to export, and the scores are not.
    db.add("bd_rezult.dbf", {1.0, 1.0, d1, 6, 1, 0});
    EXPECT_EQ(message({6, 1, Content::Scores}),
              "В учреждении № 1 тест № 6 «Никем не пройденный» проходили, но ни один результат не "
              "подсчитан (баллов нет); выгрузить можно ответы.");
    EXPECT_EQ(message({6, std::nullopt, Content::Scores}),
              "Тест № 6 «Никем не пройденный» проходили, но ни один результат не подсчитан (баллов нет); "
              "выгрузить можно ответы.");
    EXPECT_EQ(message({6, 2, Content::Scores}),
              "В учреждении № 2 тест № 6 «Никем не пройденный» никто не проходил.");
    EXPECT_EQ(message({6, 1, Content::AnswerPositions}), "no error");
    EXPECT_EQ(message({5, 4, Content::Scores}), "Учреждения № 4 нет в базе данных.");
}

// The sample database through morv-db export, read back by PSPP and openpyxl: every value is
// what the tables hold, read afresh through the engine.
class SampleExport : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new QTemporaryDir;
        ASSERT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL), {"sample", dir->filePath("db")}), 0);
    }
    static void TearDownTestSuite() { delete dir; }
    static QString db() { return dir->filePath("db"); }
    static int exportTo(const QStringList& args, QString* out = nullptr) {
        return runCommand(QStringLiteral(MORV_DB_TOOL), QStringList{"export", db()} + args, out);
    }
    static inline QTemporaryDir* dir = nullptr;
};

TEST_F(SampleExport, PsppReadsTheScoresOfEveryRunWithRussianLabels) {
    const QString file = dir->filePath("тест 2.sav");
    QString out;
    ASSERT_EQ(exportTo({"--test", "2", "--format", "sav", "--output", file}, &out), 0) << out.toStdString();
    const QJsonObject sav = readBack(file);
    EXPECT_EQ(sav["info"]["Encoding"].toString(), "UTF-8");
    QStringList labels;
    for (const QJsonValue& v : sav["variables"].toArray())
        labels << v["Label"].toString();
    EXPECT_TRUE(labels.contains("Критерий 3: уровень")) << labels.join(" | ").toStdString();
    EXPECT_TRUE(labels.contains("Дата тестирования"));
    EXPECT_EQ(sav["value_labels"]["POLTESTIR"]["Ж"].toString(), "женский");

    db::Table rez;
    rez.setTableName(QDir(db()).filePath("bd_rez.dbf"));
    rez.open();
    rez.filterBy("NOMTESTA=2");
    ASSERT_GT(rez.recordCount(), 0);
    const QJsonArray columns = sav["columns"].toArray();
    int checked = 0;
    for (rez.first(); !rez.eof(); rez.next()) {
        const QString org = QString::number(rez.fieldValue("NOMU").toInt());
        const QString testee = QString::number(rez.fieldValue("NOMTESTIR").toInt());
        // The row of this testee: institution, name, testee number.
        QJsonArray mine;
        for (const QJsonValue& r : sav["rows"].toArray())
            if (r[0].toString() == org && r[2].toString() == testee) mine = r.toArray();
        ASSERT_FALSE(mine.isEmpty()) << org.toStdString() << "/" << testee.toStdString();
        const QString krit = QStringLiteral("KRIT%1").arg(rez.fieldValue("KRIT").toInt());
        const qsizetype at = columns.toVariantList().indexOf(krit);
        ASSERT_GE(at, 0) << krit.toStdString();
        EXPECT_EQ(mine[at].toString(), QString::number(rez.fieldValue("BALL").toInt()));
        EXPECT_EQ(mine[at + 1].toString().isEmpty(), false) << "the sample's ranges cover its scores";
        ++checked;
    }
    EXPECT_EQ(checked, rez.recordCount());
}

TEST_F(SampleExport, OpenpyxlReadsTheChosenPlacesOfEveryAnswer) {
    const QString file = dir->filePath("ответы.xlsx");
    ASSERT_EQ(exportTo({"--test", "2", "--answers", "--format", "xlsx", "--output", file}), 0);
    const QJsonObject x = readBack(file);
    const QJsonArray headings = x["columns"].toArray();
    db::Table rezult;
    rezult.setTableName(QDir(db()).filePath("bd_rezult.dbf"));
    rezult.open();
    rezult.filterBy("NOMTESTA=2");
    ASSERT_GT(rezult.recordCount(), 0);
    for (rezult.first(); !rezult.eof(); rezult.next()) {
        QJsonArray mine;
        for (const QJsonValue& r : x["rows"].toArray())
            if (r[0].toInt() == rezult.fieldValue("NOMU").toInt() &&
                r[2].toInt() == rezult.fieldValue("NOMTESTIR").toInt())
                mine = r.toArray();
        ASSERT_FALSE(mine.isEmpty());
        const int q = int(rezult.fieldValue("NOMVOPR").toInt());
        qsizetype at = -1;
        for (qsizetype i = 0; i < headings.size(); ++i)
            if (headings[i].toString().startsWith(QStringLiteral("Вопрос %1:").arg(q))) at = i;
        ASSERT_GE(at, 0);
        const int otvet = int(rezult.fieldValue("OTVET").toInt());
        if (otvet < 0)
            EXPECT_TRUE(mine[at].isNull());
        else
            EXPECT_EQ(mine[at].toInt(), otvet + 1) << "question " << q;
    }
}

TEST_F(SampleExport, CommandLineRefusalsLeaveNoFile) {
    const QString file = dir->filePath("ничего.csv");
    QString out;
    // Institution 2 has a run of test 1 with answers and no scores.
    EXPECT_EQ(exportTo({"--test", "1", "--org", "2", "--format", "csv", "--output", file}, &out), 1);
    EXPECT_TRUE(out.contains("ни один результат не подсчитан")) << out.toStdString();
    EXPECT_EQ(exportTo({"--test", "3", "--org", "1", "--format", "csv", "--output", file}, &out), 1);
    EXPECT_TRUE(out.contains("никто не проходил")) << out.toStdString();
    EXPECT_EQ(exportTo({"--test", "1", "--format", "pdf", "--output", file}, &out), 2);
    EXPECT_EQ(exportTo({"--test", "1", "--format", "csv"}, &out), 2);
    EXPECT_EQ(exportTo({"--test", "1", "--points", "--format", "csv", "--output", file}, &out), 2);
    EXPECT_FALSE(QFileInfo::exists(file));
}

TEST_F(SampleExport, AnsweredRunsWithoutScoresAreExportedWithTheirAnswers) {
    const QString file = dir->filePath("ответы 2.csv");
    QString out;
    ASSERT_EQ(
        exportTo({"--test", "1", "--org", "2", "--answers", "--format", "csv", "--plain", "--output", file},
                 &out),
        0)
        << out.toStdString();
    const QJsonObject csv = readBack(file, ",");
    ASSERT_GE(csv["rows"].toArray().size(), 1);
    for (const QJsonValue& r : csv["rows"].toArray())
        EXPECT_EQ(r[0].toString(), "2");
}

} // namespace
