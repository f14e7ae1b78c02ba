// The three writers on a sheet made by hand, read back by PSPP, openpyxl and Python's csv
// module; and what each leaves on disk when the target cannot be written.
#include "ReadBack.h"
#include "TestDb.h"
#include "dbf/Os.h"
#include "export/Output.h"
#include "export/Writers.h"

#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace exporting;

namespace {

Column numbers(const char* name, const char* title, std::vector<double> v, int decimals = 0) {
    Column c;
    c.name = QLatin1String(name);
    c.title = QString::fromUtf8(title);
    c.decimals = decimals;
    c.numbers = std::move(v);
    return c;
}

Column texts(const char* name, const char* title, QStringList v) {
    Column c;
    c.name = QLatin1String(name);
    c.title = QString::fromUtf8(title);
    c.type = ColumnType::Text;
    c.texts.assign(v.begin(), v.end());
    return c;
}

// Three rows with what goes wrong most easily: Cyrillic, quotes, separators and a line break
// in a text, a missing number, a declared missing code, a fraction, a date, value labels.
Sheet tricky() {
    Sheet s;
    s.title = QStringLiteral("Проба «пера»");
    s.rows = 3;
    s.columns.push_back(numbers("NOMU", "№ учреждения", {1, 2, 12}));
    s.columns.push_back(texts("FAM", "Фамилия",
                              {QStringLiteral("Ёлкина"), QStringLiteral("О'Нил; \"Младший\""),
                               QStringLiteral("Две\nстроки, запятая")}));
    Column pol = texts("POL", "Пол", {QStringLiteral("Ж"), QStringLiteral("М"), QString()});
    pol.textLabels = {{QStringLiteral("М"), QStringLiteral("мужской")},
                      {QStringLiteral("Ж"), QStringLiteral("женский")}};
    s.columns.push_back(pol);
    Column obr = numbers("OBR", "Образование (код)", {6, kMissing, 1});
    obr.numberLabels = {{1, QStringLiteral("Начальное общее")}, {6, QStringLiteral("Высшее")}};
    obr.measure = Measure::Ordinal;
    s.columns.push_back(obr);
    Column date = numbers(
        "DATA", "Дата тестирования",
        {double(QDate(2024, 2, 5).toJulianDay()), double(QDate(1999, 12, 31).toJulianDay()), kMissing});
    date.type = ColumnType::Date;
    s.columns.push_back(date);
    s.columns.push_back(numbers("BALL", "Балл", {2.5, -3, 0}, 2));
    Column q = numbers("Q001", "Вопрос 1: Я люблю «кавычки»", {1, 0, kMissing});
    q.missingCode = 0;
    q.numberLabels = {{0, QStringLiteral("нет ответа")}, {1, QStringLiteral("Да")}};
    s.columns.push_back(q);
    return s;
}

QJsonObject variable(const QJsonObject& sav, const QString& name) {
    for (const QJsonValue& v : sav[QStringLiteral("variables")].toArray())
        if (v[QStringLiteral("Name")].toString() == name) return v.toObject();
    ADD_FAILURE() << "no variable " << name.toStdString();
    return {};
}

QStringList row(const QJsonObject& file, int i) {
    QStringList cells;
    for (const QJsonValue& c : file[QStringLiteral("rows")].toArray()[i].toArray())
        cells << (c.isObject() ? c[QStringLiteral("date")].toString() : c.toVariant().toString());
    return cells;
}

class Writers : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
};

TEST_F(Writers, SavHoldsNamesRussianLabelsTypesValueLabelsAndDeclaredMissing) {
    const QString file = path("проба.sav");
    writeSav(tricky(), file);
    const QJsonObject sav = readBack(file);
    EXPECT_EQ(sav["info"]["Encoding"].toString(), "UTF-8");
    EXPECT_EQ(sav["info"]["Label"].toString(), "Проба «пера»");
    EXPECT_EQ(sav["info"]["Cases"].toString(), "3");

    EXPECT_EQ(variable(sav, "FAM")["Label"].toString(), "Фамилия");
    EXPECT_EQ(variable(sav, "DATA")["Print Format"].toString(), "DATE11");
    EXPECT_EQ(variable(sav, "BALL")["Print Format"].toString(), "F8.2");
    // Widths count UTF-8 bytes: "Две\nстроки, запятая" is 35 of them.
    EXPECT_EQ(variable(sav, "FAM")["Print Format"].toString(), "A35");
    EXPECT_EQ(variable(sav, "OBR")["Measurement Level"].toString(), "Ordinal");
    EXPECT_EQ(variable(sav, "Q001")["Missing Values"].toString(), "0");
    EXPECT_EQ(variable(sav, "NOMU")["Missing Values"].toString(), "");

    const QJsonObject labels = sav["value_labels"].toObject();
    EXPECT_EQ(labels["POL"]["М"].toString(), "мужской");
    EXPECT_EQ(labels["POL"]["Ж"].toString(), "женский");
    EXPECT_EQ(labels["OBR"]["6"].toString(), "Высшее");
    EXPECT_EQ(labels["Q001"]["0"].toString(), "нет ответа");

    EXPECT_EQ(sav["columns"].toArray().size(), 7);
    EXPECT_EQ(row(sav, 0), QStringList({"1", "Ёлкина", "Ж", "6", "05-FEB-2024", "2.50", "1"}));
    // A missing number is system-missing ("."); the declared code stays its value.
    EXPECT_EQ(row(sav, 1), QStringList({"2", "О'Нил; \"Младший\"", "М", ".", "31-DEC-1999", "-3.00", "0"}));
    EXPECT_EQ(row(sav, 2)[0], "12");
    EXPECT_EQ(row(sav, 2)[3], "1");
    EXPECT_EQ(row(sav, 2)[4], ".");
    EXPECT_EQ(row(sav, 2)[6], ".");
}

TEST_F(Writers, SavCutsTooLongLabelsBetweenLettersNeverIntoQuestionMarks) {
    Sheet s;
    s.rows = 1;
    // 200 two-byte letters: 400 bytes, past the 255 a variable label may hold.
    Column c = numbers("Q001", "", {1});
    c.title = QString(200, QChar(u'ж'));
    c.numberLabels = {{1, QString(100, QChar(u'д'))}};
    s.columns.push_back(c);
    const QString file = path("long.sav");
    writeSav(s, file);
    const QJsonObject sav = readBack(file);
    const QString label = variable(sav, "Q001")["Label"].toString();
    EXPECT_TRUE(label.startsWith(QString(100, QChar(u'ж'))));
    EXPECT_TRUE(label.endsWith(QStringLiteral("…")));
    EXPECT_FALSE(label.contains(QChar(u'?')) || label.contains(QChar(0xFFFD)));
    EXPECT_LE(label.toUtf8().size(), 255);
    const QString value = sav["value_labels"]["Q001"]["1"].toString();
    EXPECT_TRUE(value.endsWith(QStringLiteral("…")));
    EXPECT_FALSE(value.contains(QChar(0xFFFD)));
}

TEST_F(Writers, SavRefusesANameItCannotHoldAndWritesNothing) {
    for (const char* bad :
         {"ФАМ", "1Q", "Q 1", "AND", "A2345678901234567890123456789012345678901234567890123456789012345"}) {
        Sheet s = tricky();
        s.columns[1].name = QString::fromUtf8(bad);
        EXPECT_THROW(writeSav(s, path("bad.sav")), ExportError) << bad;
    }
    Sheet twice = tricky();
    twice.columns[1].name = QStringLiteral("nomu");
    EXPECT_THROW(writeSav(twice, path("bad.sav")), ExportError);
    EXPECT_TRUE(filesIn(dir.path()).isEmpty()) << filesIn(dir.path()).join(", ").toStdString();
}

TEST_F(Writers, XlsxHasRussianHeadingsTypedCellsFrozenHeadingAndFittedWidths) {
    const QString file = path("проба.xlsx");
    writeXlsx(tricky(), file);
    const QJsonObject x = readBack(file);
    EXPECT_EQ(x["freeze"].toString(), "A2");
    EXPECT_EQ(x["columns"].toArray().first().toString(), "№ учреждения");
    EXPECT_EQ(x["columns"].toArray()[6].toString(), "Вопрос 1: Я люблю «кавычки»");
    const QJsonArray first = x["rows"].toArray()[0].toArray();
    EXPECT_TRUE(first[0].isDouble());
    EXPECT_EQ(first[0].toInt(), 1);
    EXPECT_EQ(first[1].toString(), "Ёлкина");
    EXPECT_EQ(first[4]["date"].toString(), "2024-02-05");
    EXPECT_DOUBLE_EQ(first[5].toDouble(), 2.5);
    const QJsonArray second = x["rows"].toArray()[1].toArray();
    EXPECT_EQ(second[1].toString(), "О'Нил; \"Младший\"");
    EXPECT_TRUE(second[3].isNull());
    EXPECT_EQ(second[4]["date"].toString(), "1999-12-31");
    EXPECT_TRUE(second[6].isNull()) << "the declared missing code is an empty cell here";
    const QJsonArray third = x["rows"].toArray()[2].toArray();
    EXPECT_EQ(third[1].toString(), "Две\nстроки, запятая");
    EXPECT_TRUE(third[2].isNull());
    EXPECT_TRUE(third[4].isNull());
    EXPECT_EQ(x["formats"].toArray()[5].toString(), "0.00");
    // The name column is wider than its heading, for the longest name.
    EXPECT_GE(x["widths"]["B"].toDouble(), 18);
    EXPECT_LT(x["widths"]["A"].toDouble(), x["widths"]["B"].toDouble() + 1);
}

TEST_F(Writers, CsvForARussianExcelAndForR) {
    const QString file = path("проба.csv");
    writeCsv(tricky(), file);
    const QJsonObject ru = readBack(file, ";");
    EXPECT_TRUE(ru["bom"].toBool());
    EXPECT_EQ(ru["columns"].toArray()[1].toString(), "Фамилия");
    EXPECT_EQ(row(ru, 0), QStringList({"1", "Ёлкина", "Ж", "6", "05.02.2024", "2,50", "1"}));
    EXPECT_EQ(row(ru, 1), QStringList({"2", "О'Нил; \"Младший\"", "М", "", "31.12.1999", "-3,00", ""}));
    EXPECT_EQ(row(ru, 2), QStringList({"12", "Две\nстроки, запятая", "", "1", "", "0,00", ""}));

    writeCsv(tricky(), file, CsvStyle{false});
    const QJsonObject r = readBack(file, ",");
    EXPECT_EQ(r["columns"].toArray()[1].toString(), "FAM");
    EXPECT_EQ(row(r, 0), QStringList({"1", "Ёлкина", "Ж", "6", "2024-02-05", "2.50", "1"}));
    EXPECT_EQ(row(r, 2)[1], "Две\nстроки, запятая");
}

TEST_F(Writers, TheCsvForExcelNeutralisesFormulasButKeepsNegativeNumbersAndTheCsvForRRaw) {
    const QStringList names = {QStringLiteral("=2+3"),           QStringLiteral("@SUM(1+1)"),
                               QStringLiteral("+7(999)-1"),      QStringLiteral("-5"),
                               QStringLiteral("\tскрыто"),       QStringLiteral("\r=1"),
                               QStringLiteral("Обычная-фамилия")};
    Sheet s;
    s.rows = size_t(names.size());
    s.columns.push_back(texts("FAM", "Фамилия", names));
    s.columns.push_back(numbers("BALL", "Балл", {-1, -2.5, 3, -4, 5, 6, -7}, 1));
    const QString file = path("формулы.csv");
    writeCsv(s, file);
    const QJsonObject ru = readBack(file, ";");
    const QStringList expected = {"'=2+3",     "'@SUM(1+1)", "'+7(999)-1",     "'-5",
                                  "'\tскрыто", "'\r=1",      "Обычная-фамилия"};
    for (int i = 0; i < names.size(); ++i) {
        EXPECT_EQ(row(ru, i)[0], expected[i]) << i;
        EXPECT_FALSE(row(ru, i)[1].startsWith('\'')) << "a number stays a number";
    }
    EXPECT_EQ(row(ru, 1)[1], "-2,5");

    writeCsv(s, file, CsvStyle{false});
    const QJsonObject r = readBack(file, ",");
    for (int i = 0; i < names.size(); ++i)
        EXPECT_EQ(row(r, i)[0], names[i]) << "the CSV for R keeps the text as stored";
    EXPECT_EQ(row(r, 1)[1], "-2.5");
}

// A failing disk mid-file: the earlier file stays as it was and no temporary file is left.
TEST_F(Writers, AFailedWriteKeepsTheEarlierFileAndLeavesNoTemporary) {
    Sheet big = tricky();
    // Enough rows that the CSV and .sav writers write more than once.
    big.rows = 60000;
    for (Column& c : big.columns) {
        if (c.type == ColumnType::Text)
            c.texts.resize(big.rows, QStringLiteral("Строка"));
        else
            c.numbers.resize(big.rows, 7);
    }
    for (Format f : {Format::Sav, Format::Csv}) {
        const QString file = path(f == Format::Sav ? "old.sav" : "old.csv");
        QFile old(file);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("earlier export");
        old.close();
        dbf::os::failNext(dbf::os::Call::Write, ENOSPC, 1);
        try {
            write(big, f, file);
            ADD_FAILURE() << "the write did not fail";
        } catch (const ExportError& e) {
            EXPECT_TRUE(e.message().contains(file)) << e.message().toStdString();
            EXPECT_TRUE(e.message().contains(QString::fromStdString(dbf::os::reason(ENOSPC))));
        }
        dbf::os::clearFaults();
        QFile back(file);
        ASSERT_TRUE(back.open(QIODevice::ReadOnly));
        EXPECT_EQ(back.readAll(), "earlier export");
        EXPECT_EQ(filesIn(dir.path()).size(), 1) << filesIn(dir.path()).join(", ").toStdString();
        QFile::remove(file);
    }
}

TEST_F(Writers, AFolderThatIsNotThereIsToldAndNothingIsMade) {
    const QString file = path("нет/файл");
    for (Format f : {Format::Sav, Format::Xlsx, Format::Csv}) {
        try {
            write(tricky(), f, file);
            ADD_FAILURE() << "no error";
        } catch (const ExportError& e) {
            EXPECT_TRUE(e.message().startsWith(QStringLiteral("Не удалось записать файл")))
                << e.message().toStdString();
            EXPECT_TRUE(e.message().contains(QString::fromStdString(dbf::os::reason(ENOENT))));
        }
    }
    EXPECT_TRUE(filesIn(dir.path()).isEmpty());
}

// A real disk filling up, for all three formats: a small tmpfs, where the system lets us mount one.
TEST(ExportFullDisk, EveryFormatSaysSoAndLeavesNoFile) {
    QTemporaryDir mountPoint;
    const QString mount = QStringLiteral("mount -t tmpfs -o size=64k tmpfs '%1'").arg(mountPoint.path());
    if (geteuid() != 0 ||
        QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), mount + " 2>/dev/null"}) != 0)
        GTEST_SKIP() << "no tmpfs can be mounted here (needs root)";
    Sheet big = tricky();
    big.rows = 20000;
    for (Column& c : big.columns) {
        if (c.type == ColumnType::Text)
            c.texts.resize(big.rows,
                           QStringLiteral("Длинная строка, которой не хватит места %1").arg(c.texts.size()));
        else
            c.numbers.resize(big.rows, 12345.5);
    }
    for (Format f : {Format::Sav, Format::Xlsx, Format::Csv}) {
        const QString file = mountPoint.filePath(QStringLiteral("полный.") + (f == Format::Sav    ? "sav"
                                                                              : f == Format::Xlsx ? "xlsx"
                                                                                                  : "csv"));
        try {
            write(big, f, file);
            ADD_FAILURE() << "no error for " << file.toStdString();
        } catch (const ExportError& e) {
            EXPECT_TRUE(e.message().contains(QString::fromStdString(dbf::os::reason(ENOSPC))))
                << e.message().toStdString();
        }
        EXPECT_TRUE(filesIn(mountPoint.path()).isEmpty())
            << filesIn(mountPoint.path()).join(", ").toStdString();
    }
    QProcess::execute(QStringLiteral("umount"), {mountPoint.path()});
}

} // namespace
