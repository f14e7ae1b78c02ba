// The .sav writer's file as PSPP reads it, on what the format stores in more than one way:
// strings short, long and split into segments, numbers in and out of the one-byte range of the
// compression, dates, labels of short and long strings, names that share their first eight
// bytes, no cases and many. Expected values come from the sheet, never from an earlier file.
#include "ReadBack.h"
#include "TestDb.h"
#include "export/Collect.h"
#include "export/Writers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <map>

using namespace exporting;

namespace {

Column numbers(const QString& name, std::vector<double> v, int decimals = 0) {
    Column c;
    c.name = name;
    c.title = QStringLiteral("Число ") + name;
    c.decimals = decimals;
    c.numbers = std::move(v);
    return c;
}

Column texts(const QString& name, std::vector<QString> v) {
    Column c;
    c.name = name;
    c.title = QStringLiteral("Текст ") + name;
    c.type = ColumnType::Text;
    c.texts = std::move(v);
    return c;
}

QJsonObject variable(const QJsonObject& sav, const QString& name) {
    for (const QJsonValue& v : sav[QStringLiteral("variables")].toArray())
        if (v[QStringLiteral("Name")].toString() == name) return v.toObject();
    ADD_FAILURE() << "no variable " << name.toStdString();
    return {};
}

// The cells of a case in full precision, as pspp-convert gives them: leading blanks kept,
// trailing ones cut, system-missing a blank.
QStringList values(const QJsonObject& sav, int row) {
    QStringList cells;
    for (const QJsonValue& c : sav[QStringLiteral("values")].toArray()[row].toArray())
        cells << c.toString();
    return cells;
}

// PSPP reads a file it finds fault with but says so; none of ours may draw a word.
void expectNoComplaint(const QJsonObject& sav) {
    const QString messages = sav[QStringLiteral("messages")].toString();
    for (const char* word : {"warning", "error", "Warning", "Error"})
        EXPECT_FALSE(messages.contains(QLatin1String(word))) << messages.left(2000).toStdString();
}

class SavFile : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QJsonObject written(const Sheet& s) {
        const QString file = dir.filePath(QStringLiteral("файл.sav"));
        writeSav(s, file);
        const QJsonObject sav = readBack(file);
        expectNoComplaint(sav);
        return sav;
    }
};

TEST_F(SavFile, StringsOfEveryWidthComeBackWholeAndAsWideAsTheirLongestValue) {
    // Widths where the format changes: one unit, two, the last plain string, the first split
    // one, and split ones whose last segment is short or long; two-byte letters on the seams.
    const QString zh(1, QChar(u'ж'));
    const std::vector<std::pair<QString, std::vector<QString>>> columns = {
        {"W1", {"", "", ""}},
        {"W8", {"абвг", "12345678", ""}},
        {"W9", {"123456789", "абвг", "a"}},
        {"W255", {"a" + zh.repeated(127), QString(255, 'x'), "  ведущие пробелы"}},
        {"W256", {QString(256, 'y'), "", zh.repeated(127) + "ab"}},
        {"W504", {QString(504, 'q'), "короткий", ""}},
        {"W505", {QString(505, 'r'), "", "z"}},
        {"W1000", {QString(254, 'a') + zh.repeated(373), zh.repeated(500), "в конце"}},
    };
    Sheet s;
    s.rows = 3;
    for (const auto& [name, cells] : columns)
        s.columns.push_back(texts(name, cells));
    const QJsonObject sav = written(s);

    for (size_t i = 0; i < columns.size(); ++i) {
        const auto& [name, cells] = columns[i];
        qsizetype width = 1;
        for (const QString& t : cells)
            width = std::max(width, t.toUtf8().size());
        const QJsonObject v = variable(sav, name);
        EXPECT_EQ(v["Width"].toString(), QString::number(width)) << name.toStdString();
        EXPECT_EQ(v["Print Format"].toString(), "A" + QString::number(width)) << name.toStdString();
        EXPECT_EQ(v["Alignment"].toString(), "Left");
        EXPECT_EQ(v["Label"].toString(), "Текст " + name);
        for (int r = 0; r < 3; ++r)
            EXPECT_EQ(values(sav, r)[int(i)], cells[size_t(r)]) << name.toStdString() << " row " << r;
    }
}

TEST_F(SavFile, NumbersInAndOutOfTheCompressedRangeKeepEveryBit) {
    const std::vector<double> in = {
        -100, -99, 0, 151, 152, 0.1, -0.5, 1e15, -1e300, 1e-10, 9007199254740993.0, 123456789.123456789,
        2.5,  -3};
    Sheet s;
    s.rows = in.size() + 1;
    std::vector<double> v = in;
    v.push_back(kMissing);
    s.columns.push_back(numbers("X", v, 2));
    const QJsonObject sav = written(s);
    for (size_t r = 0; r < in.size(); ++r) {
        bool ok = false;
        const double back = values(sav, int(r))[0].toDouble(&ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(back, in[r]) << r;
    }
    EXPECT_EQ(values(sav, int(in.size()))[0].trimmed(), "") << "system-missing";
    EXPECT_EQ(sav["rows"].toArray()[int(in.size())].toArray()[0].toString().trimmed(), ".");
    EXPECT_EQ(variable(sav, "X")["Print Format"].toString(), "F8.2");
}

TEST_F(SavFile, DatesFromTheCalendarsStartToThisCentury) {
    const std::vector<QDate> dates = {QDate(1582, 10, 14), QDate(1900, 1, 1), QDate(2000, 2, 29),
                                      QDate(2024, 2, 5), QDate(2099, 12, 31)};
    Column c = numbers("DATA", {});
    c.type = ColumnType::Date;
    for (const QDate& d : dates)
        c.numbers.push_back(double(d.toJulianDay()));
    c.numbers.push_back(kMissing);
    Sheet s;
    s.rows = c.numbers.size();
    s.columns.push_back(c);
    const QJsonObject sav = written(s);
    EXPECT_EQ(variable(sav, "DATA")["Print Format"].toString(), "DATE11");
    EXPECT_EQ(variable(sav, "DATA")["Width"].toString(), "11");
    for (size_t r = 0; r < dates.size(); ++r)
        EXPECT_EQ(values(sav, int(r))[0], dates[r].toString(QStringLiteral("MM/dd/yyyy")));
    EXPECT_EQ(values(sav, int(dates.size()))[0].trimmed(), "");
    // The listing in the variable's own format, for a day that is not the calendar's first.
    EXPECT_EQ(sav["rows"].toArray()[3].toArray()[0].toString(), "05-FEB-2024");
}

TEST_F(SavFile, LabelsOfNumbersAndOfShortLongAndSplitStringsMeasureAndMissing) {
    Sheet s;
    s.rows = 2;
    Column pol = texts("POL", {"М", "Ж"});
    pol.textLabels = {{"М", "мужской"}, {"Ж", "женский"}};
    pol.measure = Measure::Nominal;
    Column level = texts("LEVEL", {"высокий", "низкий"}); // 14 bytes: a long string
    level.textLabels = {{"высокий", "Высокий уровень"}, {"низкий", "Низкий уровень"}};
    level.measure = Measure::Ordinal;
    Column split = texts("SPLIT", {QString(150, QChar(u'щ')), "б"}); // 300 bytes: two segments
    split.textLabels = {{"б", "одна буква"}};
    Column q = numbers("Q001", {0, 1});
    q.missingCode = 0;
    q.measure = Measure::Ordinal;
    q.numberLabels = {{0, "нет ответа"}, {1, "Да"}, {-2, "минус"}};
    s.columns = {pol, level, split, q};
    const QJsonObject sav = written(s);

    const QJsonObject labels = sav["value_labels"].toObject();
    EXPECT_EQ(labels["POL"]["М"].toString(), "мужской");
    EXPECT_EQ(labels["POL"]["Ж"].toString(), "женский");
    EXPECT_EQ(labels["LEVEL"]["высокий"].toString(), "Высокий уровень");
    EXPECT_EQ(labels["LEVEL"]["низкий"].toString(), "Низкий уровень");
    EXPECT_EQ(labels["SPLIT"]["б"].toString(), "одна буква");
    EXPECT_EQ(labels["Q001"]["0"].toString(), "нет ответа");
    EXPECT_EQ(labels["Q001"]["1"].toString(), "Да");
    EXPECT_EQ(labels["Q001"]["-2"].toString(), "минус");
    EXPECT_EQ(variable(sav, "POL")["Measurement Level"].toString(), "Nominal");
    EXPECT_EQ(variable(sav, "LEVEL")["Measurement Level"].toString(), "Ordinal");
    EXPECT_EQ(variable(sav, "SPLIT")["Measurement Level"].toString(), "Scale");
    EXPECT_EQ(variable(sav, "Q001")["Missing Values"].toString(), "0");
    EXPECT_EQ(variable(sav, "Q001")["Alignment"].toString(), "Right");
    EXPECT_EQ(variable(sav, "SPLIT")["Width"].toString(), "300");
    EXPECT_EQ(values(sav, 0)[2], QString(150, QChar(u'щ')));
}

TEST_F(SavFile, NamesSharingTheirFirstEightBytesStayApart) {
    Sheet s;
    s.rows = 1;
    const QStringList names = {"LEVEL_WITH_A_LONG_NAME_1",
                               "LEVEL_WITH_A_LONG_NAME_2",
                               "LEVEL_WI",
                               "level_wi_3",
                               "LEVEL_W",
                               "LEVEL_WI_1"};
    for (int i = 0; i < names.size(); ++i)
        s.columns.push_back(i == 1 ? texts(names[i], {QString(700, 'x')}) : numbers(names[i], {double(i)}));
    const QJsonObject sav = written(s);
    QStringList got;
    for (const QJsonValue& c : sav["columns"].toArray())
        got << c.toString();
    EXPECT_EQ(got, names);
    EXPECT_EQ(values(sav, 0), QStringList({"0", QString(700, 'x'), "2", "3", "4", "5"}));
}

TEST_F(SavFile, NoCasesAndAHundredThousand) {
    Sheet s;
    s.title = QStringLiteral("Много строк");
    s.rows = 100000;
    Column n = numbers("N", {}), x = numbers("X", {}, 3);
    Column t = texts("T", {});
    for (size_t i = 0; i < s.rows; ++i) {
        n.numbers.push_back(double(i));
        x.numbers.push_back(i % 7 ? double(i) / 7.0 : kMissing);
        t.texts.push_back(i % 5 ? QStringLiteral("строка %1").arg(i) : QString());
    }
    s.columns = {n, x, t};
    const QJsonObject many = written(s);
    EXPECT_EQ(many["info"]["Cases"].toString(), "100000");
    const QJsonArray rows = many["values"].toArray();
    ASSERT_EQ(rows.size(), 100000);
    for (int i = 0; i < rows.size(); ++i) {
        const QJsonArray r = rows[i].toArray();
        ASSERT_EQ(r[0].toString().toDouble(), double(i));
        if (i % 7)
            ASSERT_EQ(r[1].toString().toDouble(), double(i) / 7.0) << i;
        else
            ASSERT_EQ(r[1].toString().trimmed(), "") << i;
        ASSERT_EQ(r[2].toString(), i % 5 ? QStringLiteral("строка %1").arg(i) : QString()) << i;
    }

    for (Column& c : s.columns) {
        c.numbers.clear();
        c.texts.clear();
    }
    s.rows = 0;
    const QJsonObject none = written(s);
    EXPECT_EQ(none["info"]["Cases"].toString(), "0");
    EXPECT_EQ(variable(none, "T")["Width"].toString(), "1");
    EXPECT_TRUE(none["values"].toArray().isEmpty());
}

} // namespace

// The sample database's answers as morv-db writes them and PSPP reads them, cell by cell against
// what dbfread reads from the tables: names in Cyrillic, sex, and each question's chosen place.
TEST(SavSample, EveryAnswerAndNameIsWhatDbfreadReadsFromTheTables) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("db"));
    ASSERT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL), {"sample", db}), 0);
    auto dump = [&](const char* table) {
        QList<QJsonObject> rows;
        for (const QString& line : peerDump(db, QLatin1String(table)))
            rows << QJsonDocument::fromJson(line.toUtf8()).object();
        return rows;
    };
    auto whole = [](const QJsonObject& row, const char* field) {
        return row[QLatin1String(field)].toInt(-999);
    };
    using Who = std::pair<int, int>;
    std::map<int, int> optionsOf; // answer set -> its number of options
    for (const QJsonObject& o : dump("bd_otvet"))
        ++optionsOf[whole(o, "NOMOTV")];
    std::map<Who, QJsonObject> person;
    for (const QJsonObject& a : dump("bd_anket"))
        person.try_emplace({whole(a, "NOMU"), whole(a, "NOMTESTIR")}, a);
    const QList<QJsonObject> questions = dump("bd_vopros"), answers = dump("bd_rezult");

    int checked = 0;
    for (const TestEntry& test : tests(db)) {
        std::map<int, int> setOf;
        for (const QJsonObject& v : questions)
            if (whole(v, "NTEST") == test.number) setOf.try_emplace(whole(v, "NVOPR"), whole(v, "NOTV"));
        std::map<Who, std::map<int, int>> chosen; // first answer row of each question, stored order
        for (const QJsonObject& r : answers)
            if (whole(r, "NOMTESTA") == test.number)
                chosen[{whole(r, "NOMU"), whole(r, "NOMTESTIR")}].try_emplace(whole(r, "NOMVOPR"),
                                                                              whole(r, "OTVET"));
        if (chosen.empty()) continue;
        const QString file = dir.filePath(QStringLiteral("ответы %1.sav").arg(test.number));
        QString out;
        ASSERT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL),
                             {"export", db, "--test", QString::number(test.number), "--answers", "--format",
                              "sav", "--output", file},
                             &out),
                  0)
            << out.toStdString();
        const QJsonObject sav = readBack(file);
        expectNoComplaint(sav);
        QStringList columns;
        for (const QJsonValue& c : sav["columns"].toArray())
            columns << c.toString();
        const QJsonArray rows = sav["values"].toArray();
        ASSERT_EQ(size_t(rows.size()), chosen.size());
        for (int i = 0; i < rows.size(); ++i) {
            const QStringList cell = values(sav, i);
            const Who who{cell[int(columns.indexOf("NOMU"))].toInt(),
                          cell[int(columns.indexOf("NOMTESTIR"))].toInt()};
            ASSERT_TRUE(chosen.count(who) && person.count(who)) << who.first << "/" << who.second;
            const QJsonObject& p = person[who];
            for (const char* field : {"FAMTESTIR", "NAMETESTIR", "OTCHTESTIR", "POLTESTIR"})
                EXPECT_EQ(cell[int(columns.indexOf(field))], p[QLatin1String(field)].toString().trimmed())
                    << field;
            for (const auto& [question, set] : setOf) {
                const QString name = QStringLiteral("Q%1").arg(question, 3, 10, QLatin1Char('0'));
                const QString got = cell[int(columns.indexOf(name))].trimmed();
                const auto it = chosen[who].find(question);
                const int options = optionsOf[set];
                QString expected; // never shown: system-missing
                if (it != chosen[who].end())
                    expected = it->second < 0 || options == 0
                                   ? QStringLiteral("0")
                                   : QString::number(std::min(it->second, options - 1) + 1);
                EXPECT_EQ(got, expected) << name.toStdString() << " of " << who.first << "/" << who.second;
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 100);
}
