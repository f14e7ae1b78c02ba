#include "TestDb.h"

#include "dataset/Aliases.h"
#include "dataset/Query.h"
#include "dataset/Table.h"
#include "dbf/DbfFile.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <array>
#include <gtest/gtest.h>
#include <map>
#include <set>

namespace {

const QStringList kProgramTables = {"bd_test.DBF",  "bd_sprav.dbf", "bd_vopros.DBF", "bd_otvet.dbf",
                                    "bd_org.dbf",   "bd_anket.dbf", "bd_rezult.dbf", "bd_analiz.dbf",
                                    "bd_summa.dbf", "bd_rez.dbf"};

int morvDb(const QStringList& args, QString* out = nullptr) {
    return runCommand(QStringLiteral(MORV_DB_TOOL), args, out);
}

using Row = QHash<QString, db::Variant>;

// Every live record of a table, read through the engine.
std::vector<Row> rows(const QString& dir, const QString& file) {
    db::Table t;
    t.setTableName(QDir(dir).filePath(file));
    t.open();
    std::vector<Row> result;
    for (t.first(); !t.eof(); t.next()) {
        Row r;
        for (const db::Field* f : t.fields())
            r.insert(f->fieldName(), f->value());
        result.push_back(r);
    }
    return result;
}

int num(const Row& r, const char* field) {
    return int(r.value(QLatin1String(field)).toInt());
}

using Pair = std::pair<int, int>;

// Answer sets: number -> points of the options in stored order.
std::map<int, std::vector<int>> answerSets(const QString& dir) {
    std::map<int, std::vector<int>> sets;
    for (const Row& r : rows(dir, "bd_otvet.dbf"))
        sets[num(r, "NOMOTV")].push_back(num(r, "BOTVET"));
    return sets;
}

struct Recount {
    int checked = 0;
    int withoutAnswers = 0;
    QStringList faults;
};

// Scores every bd_rez row again from the answer rows, the answer sets and the key, the way the
// scoring window does, and lists the rows whose BALL differs.
Recount recomputeScores(const QString& dir) {
    const auto points = answerSets(dir);
    std::map<Pair, int> setOf; // (test, question) -> answer set
    for (const Row& r : rows(dir, "bd_vopros.DBF"))
        setOf[{num(r, "NTEST"), num(r, "NVOPR")}] = num(r, "NOTV");
    std::map<Pair, std::vector<int>> key; // (test, criterion) -> questions
    for (const Row& r : rows(dir, "bd_summa.dbf"))
        key[{num(r, "NOMTESTA"), num(r, "KRIT")}].push_back(num(r, "SUMVOPR"));
    std::map<std::array<int, 4>, int> answer; // (institution, testee, test, question) -> option index
    for (const Row& r : rows(dir, "bd_rezult.dbf"))
        answer[{num(r, "NOMU"), num(r, "NOMTESTIR"), num(r, "NOMTESTA"), num(r, "NOMVOPR")}] =
            num(r, "OTVET");

    Recount c;
    for (const Row& r : rows(dir, "bd_rez.dbf")) {
        const int org = num(r, "NOMU"), testee = num(r, "NOMTESTIR"), test = num(r, "NOMTESTA"),
                  krit = num(r, "KRIT");
        const QString who = QStringLiteral("institution %1, testee %2, test %3, criterion %4")
                                .arg(org)
                                .arg(testee)
                                .arg(test)
                                .arg(krit);
        auto k = key.find({test, krit});
        if (k == key.end()) {
            c.faults << who + ": no scoring key";
            continue;
        }
        int sum = 0;
        bool backed = true;
        QString fault;
        for (int q : k->second) {
            auto a = answer.find({org, testee, test, q});
            if (a == answer.end()) {
                backed = false;
                continue;
            }
            auto s = setOf.find({test, q});
            auto p = s == setOf.end() ? points.end() : points.find(s->second);
            if (p == points.end() || a->second < 0 || a->second >= int(p->second.size())) {
                fault = who + QStringLiteral(": question %1 has no option %2").arg(q).arg(a->second);
                break;
            }
            sum += p->second[size_t(a->second)];
        }
        if (!fault.isEmpty())
            c.faults << fault;
        else if (!backed)
            ++c.withoutAnswers;
        else if (++c.checked; r.value("BALL").toDouble() != sum)
            c.faults << who + QStringLiteral(": BALL %1, the answers give %2")
                                  .arg(r.value("BALL").toDouble())
                                  .arg(sum);
    }
    return c;
}

// The independent reader and our own check must both accept every program table; returns the
// reader's report.
QString expectBothChecksAccept(const QString& dir) {
    QString report;
    EXPECT_EQ(peerCheck(dir, &report), 0) << report.toStdString();
    QString out;
    EXPECT_EQ(morvDb({"check", dir}, &out), 0) << out.toStdString();
    for (const QString& t : kProgramTables) {
        EXPECT_TRUE(report.contains(QRegularExpression(QRegularExpression::escape(t) + " +ok")))
            << t.toStdString();
        EXPECT_TRUE(out.contains(QRegularExpression(QRegularExpression::escape(t) + " +\\d+ records  ok")))
            << t.toStdString();
    }
    return report;
}

class MorvDbSample : public testing::Test {
protected:
    void SetUp() override {
        QString out;
        ASSERT_EQ(morvDb({"sample", dir()}, &out), 0) << out.toStdString();
    }
    QString dir() const { return tmp.filePath("db"); }
    QTemporaryDir tmp;
};

TEST_F(MorvDbSample, IsReadByPeerCheckAndByCheck) {
    const QString report = expectBothChecksAccept(dir());
    EXPECT_TRUE(report.contains(QRegularExpression("bd_stat.dbf +ok"))) << report.toStdString();
}

TEST_F(MorvDbSample, ScoresAgreeWithAnswersAndKeys) {
    const Recount c = recomputeScores(dir());
    EXPECT_TRUE(c.faults.isEmpty()) << c.faults.join('\n').toStdString();
    EXPECT_EQ(c.withoutAnswers, 0);
    EXPECT_EQ(c.checked, int(rows(dir(), "bd_rez.dbf").size()));

    // A run with an answer to every question has a score for each criterion; a run in
    // progress has none.
    std::map<int, int> questions, criteria;
    for (const Row& r : rows(dir(), "bd_vopros.DBF"))
        ++questions[num(r, "NTEST")];
    for (const Row& r : rows(dir(), "bd_test.DBF"))
        criteria[num(r, "NTEST")] = num(r, "KOLKRIT");
    std::map<std::array<int, 3>, int> answered;
    for (const Row& r : rows(dir(), "bd_rezult.dbf"))
        answered[{num(r, "NOMU"), num(r, "NOMTESTIR"), num(r, "NOMTESTA")}] += num(r, "OTVET") >= 0;
    std::map<std::array<int, 3>, std::set<int>> scored;
    for (const Row& r : rows(dir(), "bd_rez.dbf"))
        scored[{num(r, "NOMU"), num(r, "NOMTESTIR"), num(r, "NOMTESTA")}].insert(num(r, "KRIT"));
    std::set<int> testsScored, expectedTests;
    bool anyInProgress = false;
    for (const auto& [run, count] : answered) {
        const int test = run[2];
        expectedTests.insert(test);
        std::set<int> all;
        for (int k = 1; k <= criteria[test]; ++k)
            all.insert(k);
        if (count == questions[test]) {
            EXPECT_EQ(scored[run], all) << "run " << run[0] << "/" << run[1] << " of test " << test;
            testsScored.insert(test);
        } else {
            anyInProgress = true;
            EXPECT_TRUE(scored[run].empty()) << "unfinished run " << run[0] << "/" << run[1] << " has scores";
        }
    }
    EXPECT_EQ(testsScored, expectedTests) << "every test has a completed run to show";
    EXPECT_TRUE(anyInProgress);
}

TEST_F(MorvDbSample, LookupCodesPointAtTheRightDictionaryKind) {
    std::set<Pair> dict;
    std::map<int, int> perKind;
    for (const Row& r : rows(dir(), "bd_sprav.dbf")) {
        EXPECT_TRUE(dict.insert({num(r, "SPRAV"), num(r, "KOD")}).second)
            << "code " << num(r, "KOD") << " twice in kind " << num(r, "SPRAV");
        ++perKind[num(r, "SPRAV")];
        EXPECT_FALSE(r.value("TEXT").toString().isEmpty());
    }
    for (int kind = 1; kind <= 5; ++kind)
        EXPECT_GE(perKind[kind], 3) << "kind " << kind;
    EXPECT_EQ(perKind.size(), 5u);

    auto expectIn = [&](int kind, int code, const char* what) {
        EXPECT_TRUE(dict.count({kind, code})) << what << " " << code << " is not a code of kind " << kind;
    };
    std::set<int> orgs;
    for (const Row& r : rows(dir(), "bd_org.dbf")) {
        orgs.insert(num(r, "NOM_ORG"));
        expectIn(3, num(r, "TIPU"), "TIPU");
        expectIn(4, num(r, "RESP"), "RESP");
        expectIn(5, num(r, "NPUNKT"), "NPUNKT");
    }
    EXPECT_EQ(orgs, (std::set<int>{1, 2, 3}));

    std::map<int, std::vector<int>> testees;
    std::set<Pair> people;
    for (const Row& r : rows(dir(), "bd_anket.dbf")) {
        expectIn(2, num(r, "OBRTESTIR"), "OBRTESTIR");
        EXPECT_TRUE(orgs.count(num(r, "NOMU")));
        testees[num(r, "NOMU")].push_back(num(r, "NOMTESTIR"));
        people.insert({num(r, "NOMU"), num(r, "NOMTESTIR")});
        const QString sex = r.value("POLTESTIR").toString();
        EXPECT_TRUE(sex == "М" || sex == "Ж") << sex.toStdString();
    }
    for (int org : orgs) {
        std::vector<int>& n = testees[org];
        std::sort(n.begin(), n.end());
        EXPECT_GE(n.size(), 3u);
        for (size_t i = 0; i < n.size(); ++i)
            EXPECT_EQ(n[i], int(i + 1)) << "testee numbers of institution " << org;
    }
    for (const Row& r : rows(dir(), "bd_test.DBF"))
        expectIn(1, num(r, "TIP"), "TIP");
    for (const char* file : {"bd_rezult.dbf", "bd_rez.dbf"})
        for (const Row& r : rows(dir(), file))
            EXPECT_TRUE(people.count({num(r, "NOMU"), num(r, "NOMTESTIR")}))
                << file << " names a testee not in bd_anket";
}

TEST_F(MorvDbSample, TestsAreCompleteAndInterpretEveryPossibleScore) {
    const auto sets = answerSets(dir());
    std::map<int, std::vector<Row>> questions;
    for (const Row& r : rows(dir(), "bd_vopros.DBF"))
        questions[num(r, "NTEST")].push_back(r);
    std::map<Pair, std::vector<int>> key;
    for (const Row& r : rows(dir(), "bd_summa.dbf"))
        key[{num(r, "NOMTESTA"), num(r, "KRIT")}].push_back(num(r, "SUMVOPR"));
    std::map<Pair, std::vector<Row>> ranges;
    for (const Row& r : rows(dir(), "bd_analiz.dbf")) {
        EXPECT_FALSE(r.value("UROV").toString().isEmpty());
        EXPECT_GT(r.value("TEXT").toString().size(), 100) << "interpretation texts are real paragraphs";
        ranges[{num(r, "NOMTESTA"), num(r, "KRIT")}].push_back(r);
    }

    const auto tests = rows(dir(), "bd_test.DBF");
    ASSERT_EQ(tests.size(), 3u);
    std::set<int> criteriaCounts;
    bool mixedTest = false;
    for (const Row& t : tests) {
        const int test = num(t, "NTEST");
        EXPECT_GT(t.value("XARAKT").toString().size(), 100);
        const auto& qs = questions[test];
        std::set<size_t> setSizes;
        std::set<int> columns;
        for (size_t i = 0; i < qs.size(); ++i) {
            EXPECT_EQ(num(qs[i], "NVOPR"), int(i + 1)) << "test " << test << " questions in stored order";
            ASSERT_TRUE(sets.count(num(qs[i], "NOTV"))) << "test " << test << " question " << i + 1;
            setSizes.insert(sets.at(num(qs[i], "NOTV")).size());
            columns.insert(num(qs[i], "KOL"));
        }
        mixedTest = mixedTest || (setSizes.size() >= 3 && columns == std::set<int>{1, 2, 3});

        const int kolkrit = num(t, "KOLKRIT");
        criteriaCounts.insert(kolkrit);
        for (int k = 1; k <= kolkrit + 1; ++k) {
            SCOPED_TRACE(testing::Message() << "test " << test << ", criterion " << k);
            if (k > kolkrit) {
                EXPECT_FALSE(key.count({test, k}) || ranges.count({test, k})) << "rows past KOLKRIT";
                continue;
            }
            ASSERT_TRUE(key.count({test, k}));
            int lo = 0, hi = 0;
            for (int q : key[{test, k}]) {
                ASSERT_TRUE(q >= 1 && q <= int(qs.size())) << "key names question " << q;
                const auto& p = sets.at(num(qs[size_t(q - 1)], "NOTV"));
                lo += *std::min_element(p.begin(), p.end());
                hi += *std::max_element(p.begin(), p.end());
            }
            for (int score = lo; score <= hi; ++score) {
                int levels = 0;
                for (const Row& r : ranges[{test, k}])
                    levels += r.value("MIN").toDouble() <= score && score <= r.value("MAX").toDouble();
                EXPECT_EQ(levels, 1) << "score " << score << " falls in " << levels << " levels";
            }
        }
    }
    EXPECT_TRUE(criteriaCounts.count(1) && criteriaCounts.count(3));
    EXPECT_TRUE(mixedTest) << "a test mixes answer sets of 3 sizes and 1, 2 and 3 columns";
}

TEST_F(MorvDbSample, StatisticsDefaultQueriesFindRows) {
    db::Aliases::bind("morvsample", dir());
    for (const char* column : {"KRIT1", "KRIT3"}) {
        db::Query q;
        q.setDatabaseName("morvsample");
        q.setSql({QStringLiteral("Select NOM,%1").arg(column), "  From bd_stat", "  Where NOM<16"});
        q.open();
        EXPECT_EQ(q.recordCount(), 15) << column;
        EXPECT_FALSE(q.fieldAt(1)->value().isNull());
    }
    db::Aliases::unbind("morvsample");
    EXPECT_GE(rows(dir(), "bd_stat.dbf").size(), 20u);
}

TEST(MorvDbCreate, RefusesToReplaceTablesWithoutForce) {
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("db");
    QString out;
    ASSERT_EQ(morvDb({"create", dir}, &out), 0) << out.toStdString();
    for (const QString& t : kProgramTables)
        EXPECT_TRUE(QFile::exists(QDir(dir).filePath(t))) << t.toStdString();
    {
        db::Table org;
        org.setTableName(QDir(dir).filePath("bd_org.dbf"));
        org.open();
        org.append();
        org.setFields({1.0, 1, "Школа"});
        org.post();
    }
    EXPECT_EQ(morvDb({"create", dir}, &out), 1);
    EXPECT_TRUE(out.contains("--force")) << out.toStdString();
    EXPECT_EQ(rows(dir, "bd_org.dbf").size(), 1u) << "a refused create leaves the data alone";
    EXPECT_EQ(morvDb({"sample", dir}, &out), 1);

    EXPECT_EQ(morvDb({"create", "--force", dir}, &out), 0) << out.toStdString();
    EXPECT_TRUE(rows(dir, "bd_org.dbf").empty());

    // One table, in the letter case another tool wrote it, is enough to refuse.
    const QString other = tmp.filePath("other");
    QDir().mkpath(other);
    ASSERT_TRUE(QFile::copy(QDir(dir).filePath("bd_sprav.dbf"), QDir(other).filePath("BD_SPRAV.DBF")));
    EXPECT_EQ(morvDb({"create", other}, &out), 1);
    EXPECT_TRUE(out.contains("BD_SPRAV.DBF")) << out.toStdString();
    EXPECT_EQ(morvDb({"create", other, "--force"}, &out), 0) << out.toStdString();
    EXPECT_EQ(QDir(other).entryList({"*.dbf", "*.DBF"}, QDir::Files).size(), kProgramTables.size())
        << "the stale copy is gone";
}

TEST(MorvDbUsage, BadUsageExitsWithTwoAndTouchesNothing) {
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("db");
    const std::vector<QStringList> cases = {
        {},
        {"frobnicate", dir},
        {"create"},
        {"create", dir, "extra"},
        {"create", dir, "-f"},
        {"check", dir, "--force"},
        {"alias", "morv"},
        {"alias", "mo rv", dir},
        {"large", dir, "--answers", "many"},
        {"large", dir, "--orgs"},
        {"large", dir, "--tests", "0"},
        {"large", dir, "--criteria", "300"},
        {"large", dir, "--testees", "2", "--tests", "2", "--answers", "5000"},
    };
    for (const QStringList& args : cases) {
        QString out;
        EXPECT_EQ(morvDb(args, &out), 2) << args.join(' ').toStdString();
        EXPECT_TRUE(out.startsWith("morv-db: ") && out.contains("--help")) << out.toStdString();
        EXPECT_FALSE(QFileInfo::exists(dir)) << args.join(' ').toStdString();
    }
    for (const QStringList& args :
         {QStringList{"--help"}, QStringList{"help"}, QStringList{"large", "--help"}}) {
        QString out;
        EXPECT_EQ(morvDb(args, &out), 0);
        for (const char* command : {"create", "sample", "large", "alias", "check"})
            EXPECT_TRUE(out.contains(command));
    }
}

TEST(MorvDbLarge, SmallCountsGiveTheRequestedRowsAndConsistentData) {
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("db");
    QString out;
    ASSERT_EQ(morvDb({"large", dir, "--orgs", "3", "--testees", "60", "--tests", "4", "--questions", "30",
                      "--answers", "5000", "--scores", "702", "--criteria", "4"},
                     &out),
              0)
        << out.toStdString();
    const std::map<QString, size_t> expected = {{"bd_org.dbf", 3},       {"bd_anket.dbf", 60},
                                                {"bd_test.DBF", 4},      {"bd_vopros.DBF", 120},
                                                {"bd_rezult.dbf", 5000}, {"bd_rez.dbf", 702}};
    for (const auto& [file, count] : expected)
        EXPECT_EQ(rows(dir, file).size(), count) << file.toStdString();
    expectBothChecksAccept(dir);

    // 166 complete runs give 664 score rows that the answers back; the rest come from runs
    // without stored answers.
    const Recount c = recomputeScores(dir);
    EXPECT_TRUE(c.faults.isEmpty()) << c.faults.join('\n').toStdString();
    EXPECT_EQ(c.checked, 664);
    EXPECT_EQ(c.withoutAnswers, 702 - 664);

    std::set<Pair> people;
    for (const Row& r : rows(dir, "bd_anket.dbf"))
        EXPECT_TRUE(people.insert({num(r, "NOMU"), num(r, "NOMTESTIR")}).second);
    const auto sets = answerSets(dir);
    for (const auto& [n, points] : sets)
        EXPECT_TRUE(points.size() == 4 || points.size() == 5) << "set " << n;
    std::map<Pair, size_t> optionsOf;
    for (const Row& r : rows(dir, "bd_vopros.DBF")) {
        ASSERT_TRUE(sets.count(num(r, "NOTV")));
        optionsOf[{num(r, "NTEST"), num(r, "NVOPR")}] = sets.at(num(r, "NOTV")).size();
    }
    std::set<std::array<int, 4>> answerKeys;
    for (const Row& r : rows(dir, "bd_rezult.dbf")) {
        const int org = num(r, "NOMU"), testee = num(r, "NOMTESTIR"), test = num(r, "NOMTESTA"),
                  q = num(r, "NOMVOPR");
        ASSERT_TRUE(people.count({org, testee})) << "answer of a missing testee " << org << "/" << testee;
        ASSERT_TRUE(optionsOf.count({test, q})) << "answer to a missing question " << test << "/" << q;
        ASSERT_LT(num(r, "OTVET"), int(optionsOf[{test, q}]));
        ASSERT_GE(num(r, "OTVET"), 0);
        ASSERT_TRUE(answerKeys.insert({org, testee, test, q}).second) << "answer row stored twice";
    }
    std::set<std::array<int, 4>> scoreKeys;
    for (const Row& r : rows(dir, "bd_rez.dbf")) {
        ASSERT_TRUE(people.count({num(r, "NOMU"), num(r, "NOMTESTIR")}));
        ASSERT_TRUE(
            scoreKeys.insert({num(r, "NOMU"), num(r, "NOMTESTIR"), num(r, "NOMTESTA"), num(r, "KRIT")})
                .second)
            << "score row stored twice";
    }

    // Every question counts, every criterion has questions and interpretation ranges.
    std::set<Pair> counted, keyed, interpreted;
    for (const Row& r : rows(dir, "bd_summa.dbf")) {
        counted.insert({num(r, "NOMTESTA"), num(r, "SUMVOPR")});
        keyed.insert({num(r, "NOMTESTA"), num(r, "KRIT")});
    }
    for (const Row& r : rows(dir, "bd_analiz.dbf"))
        interpreted.insert({num(r, "NOMTESTA"), num(r, "KRIT")});
    EXPECT_EQ(counted.size(), optionsOf.size());
    EXPECT_EQ(keyed.size(), 16u);
    EXPECT_EQ(interpreted, keyed);
}

// The large database must be the same on every run, or benchmark numbers cannot be compared.
TEST(MorvDbLarge, SameOptionsGiveTheSameFiles) {
    QTemporaryDir tmp;
    const QStringList options = {"--orgs",   "2",           "--testees",  "20",        "--tests",
                                 "3",        "--questions", "12",         "--answers", "300",
                                 "--scores", "50",          "--criteria", "3"};
    QString out;
    ASSERT_EQ(morvDb(QStringList{"large", tmp.filePath("a")} + options, &out), 0) << out.toStdString();
    ASSERT_EQ(morvDb(QStringList{"large", tmp.filePath("b")} + options, &out), 0) << out.toStdString();
    const QStringList files = QDir(tmp.filePath("a")).entryList(QDir::Files);
    EXPECT_EQ(files, QDir(tmp.filePath("b")).entryList(QDir::Files));
    for (const QString& f : files) {
        QFile a(tmp.filePath("a/" + f)), b(tmp.filePath("b/" + f));
        ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        QByteArray x = a.readAll(), y = b.readAll();
        if (f.endsWith(".dbf", Qt::CaseInsensitive) && x.size() > 4 && y.size() > 4) {
            x.replace(1, 3, "   "); // the date of last change
            y.replace(1, 3, "   ");
        }
        EXPECT_TRUE(x == y) << f.toStdString();
    }
}

// Puts bytes into one field of one record, bypassing the engine.
void damage(const QString& path, uint32_t rec, const char* field, const QByteArray& bytes) {
    auto f = dbf::DbfFile::open(path.toStdString());
    const int c = f->fieldIndex(field);
    ASSERT_GE(c, 0);
    const auto& def = f->fields()[size_t(c)];
    QByteArray text = bytes.rightJustified(def.length, ' ');
    const qint64 at = f->headerLength() + qint64(rec) * f->recordLength() + 1 + def.offset;
    f.reset();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.seek(at);
    file.write(text);
}

TEST(MorvDbCheck, ReportsDamagedAndMissingTables) {
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("db");
    QString out;
    ASSERT_EQ(morvDb({"sample", dir}, &out), 0) << out.toStdString();
    ASSERT_TRUE(QFile::remove(QDir(dir).filePath("bd_rez.dbf")));
    damage(QDir(dir).filePath("bd_test.DBF"), 1, "XARAKT", "9999");
    damage(QDir(dir).filePath("bd_org.dbf"), 2, "RESP", "1x");
    damage(QDir(dir).filePath("bd_rezult.dbf"), 0, "DATA", "20241399");

    EXPECT_EQ(morvDb({"check", dir}, &out), 1);
    const std::string text = out.toStdString();
    EXPECT_TRUE(out.contains(QRegularExpression("bd_rez.dbf +missing"))) << text;
    EXPECT_TRUE(out.contains(QRegularExpression("bd_test.DBF +FAILED: record 2, field XARAKT"))) << text;
    EXPECT_TRUE(
        out.contains(QRegularExpression("bd_org.dbf +FAILED: record 3, field RESP: '.*1x' is not a number")))
        << text;
    EXPECT_TRUE(out.contains(QRegularExpression("bd_rezult.dbf +FAILED: record 1, field DATA"))) << text;
    EXPECT_TRUE(out.contains(QRegularExpression("bd_sprav.dbf +29 records  ok"))) << text;
    EXPECT_TRUE(out.contains(QRegularExpression("bd_stat.dbf +30 records  ok"))) << text;
    EXPECT_TRUE(out.contains("4 of 11 tables failed")) << text;
}

TEST(MorvDbCheck, ReportsACutOffWriteWithoutRepairingIt) {
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("db");
    QString out;
    ASSERT_EQ(morvDb({"create", dir}, &out), 0) << out.toStdString();
    const QString path = QDir(dir).filePath("bd_summa.dbf");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("   7     1    12"); // a record whose count never reached the header
    }
    const qint64 size = QFileInfo(path).size();
    EXPECT_EQ(morvDb({"check", dir}, &out), 1);
    EXPECT_TRUE(out.contains(QRegularExpression("bd_summa.dbf +FAILED: 16 bytes after the last record")))
        << out.toStdString();
    EXPECT_EQ(QFileInfo(path).size(), size);
    // The program's own opening cuts them, and the table is clean again.
    db::Table t;
    t.setTableName(path);
    t.open();
    EXPECT_EQ(t.recordCount(), 0);
    t.close();
    EXPECT_EQ(morvDb({"check", dir}, &out), 0) << out.toStdString();
}

TEST(MorvDbAlias, WritesTheBindingTheEngineReads) {
    QTemporaryDir tmp;
    const QString ini = tmp.filePath("conf/aliases.ini");
    // The tool inherits the variable; put it back however the test ends.
    struct RestoreEnv {
        QByteArray saved = qgetenv("MORV_ALIASES");
        ~RestoreEnv() {
            saved.isNull() ? void(qunsetenv("MORV_ALIASES")) : void(qputenv("MORV_ALIASES", saved));
        }
    } restore;
    qputenv("MORV_ALIASES", ini.toUtf8());
    const QString first = tmp.filePath("first"), second = tmp.filePath("second");
    QString out;
    ASSERT_EQ(morvDb({"create", first}, &out), 0);
    ASSERT_EQ(morvDb({"create", second}, &out), 0);

    EXPECT_EQ(morvDb({"alias", "morv", first}, &out), 0) << out.toStdString();
    EXPECT_EQ(out.section('\n', 0, 0), ini);
    EXPECT_EQ(morvDb({"alias", "spare", second}, &out), 0);
    EXPECT_EQ(morvDb({"alias", "morv", second}, &out), 0);
    EXPECT_EQ(db::Aliases::resolve("morv"), QFileInfo(second).absoluteFilePath())
        << "rebinding replaces the path";
    EXPECT_EQ(db::Aliases::resolve("spare"), QFileInfo(second).absoluteFilePath());

    EXPECT_EQ(morvDb({"alias", "morv", tmp.filePath("nowhere")}, &out), 1);
    EXPECT_EQ(db::Aliases::resolve("morv"), QFileInfo(second).absoluteFilePath())
        << "a failed bind keeps the old one";
}

} // namespace
