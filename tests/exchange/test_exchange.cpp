#include "TestDb.h"

#include "dataset/Table.h"
#include "dbf/CodePage.h"
#include "dbf/Os.h"
#include "exchange/AnyFile.h"
#include "exchange/Catalogue.h"
#include "exchange/Checks.h"
#include "exchange/Foreign.h"
#include "exchange/ReproSchema.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringConverter>
#include <QTemporaryDir>
#include <cerrno>
#include <gtest/gtest.h>
#include <map>

namespace {

int morvDb(const QStringList& args, QString* out = nullptr) {
    return runCommand(QStringLiteral(MORV_DB_TOOL), args, out);
}

// Every file of a folder with the md5 of its bytes: "unchanged" means byte for byte.
std::map<QString, QByteArray> md5s(const QString& dir) {
    std::map<QString, QByteArray> out;
    for (const QString& f : QDir(dir).entryList(QDir::Files))
        out[f] = QCryptographicHash::hash(bytesOf(QDir(dir).filePath(f)), QCryptographicHash::Md5).toHex();
    return out;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// A test built in code: n questions on two answer sets (one shared by most), k criteria of
// n/k questions each, three levels per criterion covering every possible score.
exchange::TestFile makeTest(int n, int k, const QString& name) {
    exchange::TestFile t;
    t.type = 1, t.number = 40, t.name = name, t.description = QStringLiteral("Описание\nв две строки");
    t.criterionCount = k;
    t.answerSets = {
        {11, {{QStringLiteral("Да"), 2}, {QStringLiteral("Не знаю"), 1}, {QStringLiteral("Нет"), 0}}},
        {12, {{QStringLiteral("Верно"), 0}, {QStringLiteral("Неверно"), 1}}}};
    for (int q = 1; q <= n; ++q)
        t.questions.push_back(
            {q, QStringLiteral("Утверждение %1, ё").arg(q), q % 5 == 0 ? 12 : 11, 1 + q % 3});
    for (int c = 1; c <= k; ++c) {
        exchange::Criterion crit{c, {}, {}};
        for (int q = c; q <= n; q += k)
            crit.questions.push_back(q);
        t.criteria.push_back(crit);
        const auto [lo, hi] = exchange::possibleScores(t, t.criteria.back());
        const double third = std::floor((hi - lo) / 3);
        t.criteria.back().levels = {
            {QStringLiteral("Низкий"), lo, lo + third, QStringLiteral("Текст низкого")},
            {QStringLiteral("Средний"), lo + third + 1, lo + 2 * third, QString()},
            {QStringLiteral("Высокий"), lo + 2 * third + 1, hi, QStringLiteral("Текст")}};
    }
    t.norms = {
        {1, QStringLiteral("Ж"), 18, 25, 20.5, 4.25, 120, std::nullopt, std::nullopt},
        {1, QString(), std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, 10, 35.5}};
    t.licence = exchange::Licence{QStringLiteral("И. И. Иванова"), QStringLiteral("Вестник, 2019, № 4"),
                                  QStringLiteral("свободно для учебных и научных целей со ссылкой"), false};
    return t;
}

class Exchange : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        sample_ = tmp_.filePath(QStringLiteral("sample"));
        empty_ = tmp_.filePath(QStringLiteral("empty"));
        ASSERT_EQ(morvDb({QStringLiteral("sample"), sample_}), 0);
        ASSERT_EQ(morvDb({QStringLiteral("create"), empty_}), 0);
    }
    QString file(const QString& name) const { return tmp_.filePath(name); }
    int exportTest(const QString& db, int test, const QString& to, QString* out = nullptr) {
        return morvDb({QStringLiteral("test-export"), db, QStringLiteral("--test"), QString::number(test),
                       QStringLiteral("--output"), to},
                      out);
    }
    // An import that must be refused: exit 1, the message naming what, every file unchanged.
    void expectRefused(const QString& path, const QString& what, const QString& db = {},
                       const QStringList& options = {}) {
        const QString target = db.isEmpty() ? sample_ : db;
        const auto before = md5s(target);
        QString out;
        EXPECT_EQ(morvDb(QStringList{QStringLiteral("test-import"), target, path} + options, &out), 1)
            << out.toStdString();
        EXPECT_TRUE(out.contains(what)) << out.toStdString();
        EXPECT_EQ(md5s(target), before) << "tables changed by a refused import of " << path.toStdString();
    }

    QTemporaryDir tmp_;
    QString sample_, empty_;
};

// Every sample test goes into an empty database and comes out as the same file; a run scored
// from the imported tables, read with dbfread, gives the scores the original database stored.
TEST_F(Exchange, SampleTestsRoundTripAndScoreTheSame) {
    for (int test = 1; test <= 3; ++test) {
        const QString first = file(QStringLiteral("t%1.json").arg(test)),
                      again = file(QStringLiteral("t%1-again.json").arg(test));
        QString out;
        ASSERT_EQ(exportTest(sample_, test, first, &out), 0) << out.toStdString();
        ASSERT_EQ(morvDb({QStringLiteral("test-import"), empty_, first}, &out), 0) << out.toStdString();
        EXPECT_TRUE(out.contains(QStringLiteral("imported as test %1").arg(test))) << out.toStdString();
        ASSERT_EQ(exportTest(empty_, test, again), 0);
        EXPECT_EQ(bytesOf(first), bytesOf(again)) << "test " << test;
    }
    ASSERT_EQ(peerCheck(empty_), 0);
    QString out;
    ASSERT_EQ(exportTest(sample_, 1, file(QStringLiteral("warned.json")), &out), 0);
    EXPECT_FALSE(out.contains(QStringLiteral("warning"))) << out.toStdString();
    {
        db::Table key; // a key row typed by hand for a question the test does not have
        key.setTableName(QDir(sample_).filePath(QStringLiteral("bd_summa.dbf")));
        key.open();
        key.append();
        key.setFields({1, 1, 99});
        key.post();
    }
    ASSERT_EQ(exportTest(sample_, 1, file(QStringLiteral("warned.json")), &out), 0);
    EXPECT_TRUE(
        out.contains(QStringLiteral("warning: an import of this file will be refused: Критерий 1: ключ "
                                    "называет вопрос 99")))
        << out.toStdString();

    // The imported key, questions and points, as an outside reader sees them.
    auto rows = [](const QString& dir, const char* table) {
        std::vector<QJsonObject> out;
        for (const QString& line : peerDump(dir, QLatin1String(table)))
            out.push_back(QJsonDocument::fromJson(line.toUtf8()).object());
        return out;
    };
    const auto key = rows(empty_, "bd_summa"), questions = rows(empty_, "bd_vopros"),
               options = rows(empty_, "bd_otvet");
    // Every stored score of the sample's runs, recomputed from its stored answers.
    int compared = 0;
    const auto answers = rows(sample_, "bd_rezult");
    for (const QJsonObject& score : rows(sample_, "bd_rez")) {
        const int org = score["NOMU"].toInt(), testee = score["NOMTESTIR"].toInt(),
                  test = score["NOMTESTA"].toInt(), krit = score["KRIT"].toInt();
        std::map<int, int> answer;
        for (const QJsonObject& a : answers)
            if (a["NOMU"].toInt() == org && a["NOMTESTIR"].toInt() == testee && a["NOMTESTA"].toInt() == test)
                answer[a["NOMVOPR"].toInt()] = a["OTVET"].toInt();
        double sum = 0;
        for (const QJsonObject& k : key) {
            if (k["NOMTESTA"].toInt() != test || k["KRIT"].toInt() != krit) continue;
            const int q = k["SUMVOPR"].toInt();
            int set = -1;
            for (const QJsonObject& v : questions)
                if (v["NTEST"].toInt() == test && v["NVOPR"].toInt() == q) set = v["NOTV"].toInt();
            int pos = 0;
            for (const QJsonObject& o : options)
                if (o["NOMOTV"].toInt() == set && pos++ == answer[q]) sum += o["BOTVET"].toDouble();
        }
        EXPECT_DOUBLE_EQ(sum, score["BALL"].toDouble()) << "test " << test << " criterion " << krit;
        ++compared;
    }
    EXPECT_GT(compared, 10);
}

// The checksum is SHA-256 of the body as Python's json module writes it with sorted keys and no
// spaces: a script can check and make files without this program.
TEST_F(Exchange, ChecksumIsWhatAScriptComputes) {
    const QString path = file(QStringLiteral("t1.json"));
    ASSERT_EQ(exportTest(sample_, 1, path), 0);
    QProcess py;
    py.start(
        QStringLiteral("python3"),
        {QStringLiteral("-c"),
         QStringLiteral("import json,hashlib,sys\n"
                        "d=json.load(open(sys.argv[1],encoding='utf-8'))\n"
                        "s=d.pop('checksum')\n"
                        "b=json.dumps(d,sort_keys=True,separators=(',',':'),ensure_ascii=False).encode()\n"
                        "print('ok' if s=='sha256:'+hashlib.sha256(b).hexdigest() else 'differs')"),
         path});
    ASSERT_TRUE(py.waitForFinished(60000));
    EXPECT_EQ(py.readAllStandardOutput().trimmed(), QByteArray("ok"))
        << py.readAllStandardError().toStdString();
}

// Test 2 uses one answer set for all twelve questions; importing it again into the same database
// (as a new test) takes new numbers for the test and the set, and the set stays one.
TEST_F(Exchange, CollidingNumbersAndASharedSet) {
    const QString path = file(QStringLiteral("t2.json"));
    ASSERT_EQ(exportTest(sample_, 2, path), 0);
    expectRefused(path, QStringLiteral("уже есть тест"));
    QString out;
    ASSERT_EQ(morvDb({QStringLiteral("test-import"), sample_, path, QStringLiteral("--as-new")}, &out), 0)
        << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("imported as test 4"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("answer set 3 stored as 7"))) << out.toStdString();
    const exchange::TestFile copy = exchange::readTest(sample_, 4), original = exchange::readTest(sample_, 2);
    ASSERT_EQ(copy.answerSets.size(), 1u);
    EXPECT_EQ(copy.answerSets[0].number, 7);
    for (const auto& q : copy.questions)
        EXPECT_EQ(q.answerSet, 7);
    EXPECT_EQ(copy.answerSets[0].options.size(), original.answerSets[0].options.size());
    EXPECT_EQ(copy.name, original.name);
    // The original still has its own set, untouched.
    EXPECT_EQ(original.answerSets[0].number, 3);
}

// 300 questions, 10 criteria, norms and a licence: through the file and a database unchanged.
TEST_F(Exchange, LargeTestWithNormsAndLicence) {
    const exchange::TestFile t = makeTest(300, 10, QStringLiteral("Большой опросник"));
    const QByteArray bytes = exchange::write(t);
    const exchange::Imported done = exchange::importTest(empty_, exchange::read(bytes), false);
    EXPECT_EQ(done.number, 1);
    exchange::TestFile back = exchange::readTest(empty_, 1);
    back.number = t.number; // the file keeps the number it had where it came from
    EXPECT_EQ(exchange::write(back), bytes);
    ASSERT_EQ(peerCheck(empty_), 0);
    EXPECT_EQ(peerDump(empty_, QStringLiteral("bd_vopros")).size(), 300);
    EXPECT_EQ(peerDump(empty_, QStringLiteral("bd_norm")).size(), 2);
}

// Files that must be refused whole, each saying what and where, the tables untouched.
TEST_F(Exchange, DamagedFilesAreRefused) {
    const QString good = file(QStringLiteral("good.json"));
    ASSERT_EQ(exportTest(sample_, 1, good), 0);
    const QByteArray bytes = bytesOf(good);

    writeFile(file(QStringLiteral("cut.json")), bytes.left(bytes.size() / 2));
    expectRefused(file(QStringLiteral("cut.json")), QStringLiteral("обрезан"));

    QByteArray changed = bytes;
    const qsizetype at = changed.indexOf("\"points\": 3");
    ASSERT_GT(at, 0);
    changed[at + 10] = '4';
    writeFile(file(QStringLiteral("changed.json")), changed);
    expectRefused(file(QStringLiteral("changed.json")), QStringLiteral("контрольная сумма"));

    QByteArray future = bytes;
    future.replace("\"version\": 1", "\"version\": 2");
    writeFile(file(QStringLiteral("future.json")), future);
    expectRefused(file(QStringLiteral("future.json")), QStringLiteral("более новой версией"));

    QByteArray recoded;
    for (const QChar c : QString::fromUtf8(bytes))
        recoded += c.unicode() < 0x80 ? char(c.unicode()) : char(0xC0 + (c.unicode() - 0x410) % 64);
    writeFile(file(QStringLiteral("cp1251.json")), recoded);
    expectRefused(file(QStringLiteral("cp1251.json")), QStringLiteral("UTF-8"));

    writeFile(file(QStringLiteral("deep.json")), "{\"format\":\"morvanta-test\",\"x\":" +
                                                     QByteArray(100000, '[') + QByteArray(100000, ']') + "}");
    expectRefused(file(QStringLiteral("deep.json")), QStringLiteral("файл повреждён"));

    writeFile(file(QStringLiteral("huge.json")), "{\"name\":\"" + QByteArray(100 * 1024 * 1024, 'a') + "\"}");
    expectRefused(file(QStringLiteral("huge.json")), QStringLiteral("больше 32 МБ"));
}

// Files whose checksum is right but whose test is not: refused before a row is written.
TEST_F(Exchange, InconsistentTestsAreRefused) {
    const exchange::TestFile base = exchange::readTest(sample_, 1);
    auto refused = [&](exchange::TestFile t, const char* name, const QString& what) {
        t.name = QStringLiteral("Другой тест");
        writeFile(file(QLatin1String(name)), exchange::write(t));
        expectRefused(file(QLatin1String(name)), what);
    };
    exchange::TestFile t = base;
    t.criteria[0].questions.push_back(11);
    refused(t, "key.json", QStringLiteral("Критерий 1: ключ называет вопрос 11"));

    t = base;
    t.criteria[0].levels[1].min += 2; // 8..15 becomes 10..15: scores 8 and 9 have no level
    refused(t, "gap.json", QStringLiteral("балл 8 не попадает ни в один уровень"));

    t = base;
    t.criteria[0].levels[1].min -= 1; // 7 in two levels
    refused(t, "overlap.json", QStringLiteral("перекрываются"));

    t = base;
    t.criteria[0].levels.back().max = 29; // 30 is possible
    refused(t, "short.json", QStringLiteral("балл 30"));

    t = base;
    t.questions[3].text = QString(201, QChar(0x436));
    refused(t, "long.json", QStringLiteral("Вопрос 4: поле «Текст вопроса» длиннее 200"));

    t = base;
    t.questions[0].text += QStringLiteral(" «в кавычках»");
    refused(t, "quotes.json", QStringLiteral("Вопрос 1: в поле «Текст вопроса» есть знак ««»"));

    t = base;
    t.answerSets[0].options[0].points = 1.5;
    refused(t, "points.json", QStringLiteral("баллы должны быть целым"));

    t = base;
    t.questions[2].answerSet = 99;
    refused(t, "set.json", QStringLiteral("Вопрос 3: набора ответов 99 нет"));

    // A million questions: the file is too large before any question is read.
    exchange::TestFile many = base;
    many.questions.clear();
    for (int q = 1; q <= 1000000; ++q)
        many.questions.push_back({q, QString(), base.questions[0].answerSet, 1});
    writeFile(file(QStringLiteral("million.json")), exchange::write(many));
    expectRefused(file(QStringLiteral("million.json")), QStringLiteral("МБ"));
}

// A disk that fails in the middle of the step: every table as it was, byte for byte, whichever
// write fails.
TEST_F(Exchange, FailedWritePutsTheTablesBack) {
    const exchange::TestFile t = makeTest(40, 3, QStringLiteral("Тест при полном диске"));
    const auto before = md5s(empty_);
    // The optional tables are made before the step; count them in what must stay.
    exchange::importTest(empty_, makeTest(5, 1, QStringLiteral("Первый")), false);
    const auto start = md5s(empty_);
    int refusals = 0;
    for (int nth = 1; nth <= 40; nth += 3) {
        dbf::os::failNext(dbf::os::Call::Write, ENOSPC, nth);
        try {
            exchange::importTest(empty_, t, false);
            dbf::os::clearFaults();
            break; // fewer writes than nth: the step got through
        } catch (const std::exception&) {
            ++refusals;
        }
        dbf::os::clearFaults();
        EXPECT_EQ(md5s(empty_), start) << "write " << nth << " failed";
    }
    EXPECT_GT(refusals, 3);
    EXPECT_NE(before, start);
    ASSERT_EQ(peerCheck(empty_), 0);
}

// Two processes importing at once on one folder: two numbers, both tests whole.
TEST_F(Exchange, TwoProcessesImportingAtOnce) {
    const QString path = file(QStringLiteral("big.json"));
    writeFile(path, exchange::write(makeTest(120, 4, QStringLiteral("Гонка"))));
    for (int round = 0; round < 3; ++round) {
        QProcess a, b;
        const QStringList args{QStringLiteral("test-import"), empty_, path, QStringLiteral("--as-new")};
        a.start(QStringLiteral(MORV_DB_TOOL), args);
        b.start(QStringLiteral(MORV_DB_TOOL), args);
        ASSERT_TRUE(a.waitForFinished(120000) && b.waitForFinished(120000));
        EXPECT_EQ(a.exitCode(), 0) << a.readAllStandardError().toStdString();
        EXPECT_EQ(b.exitCode(), 0) << b.readAllStandardError().toStdString();
    }
    for (int n = 1; n <= 6; ++n) {
        const exchange::TestFile t = exchange::readTest(empty_, n);
        EXPECT_EQ(t.questions.size(), 120u) << "test " << n;
        EXPECT_EQ(t.criteria.size(), 4u) << "test " << n;
    }
    EXPECT_THROW(exchange::readTest(empty_, 7), exchange::ExchangeError);
    ASSERT_EQ(peerCheck(empty_), 0);
}

// A REDCap data dictionary as REDCap's documentation lays it out, written by hand: the radio
// fields come in, a text field, a calculated field, branching logic and a second form are each
// reported by field name.
TEST_F(Exchange, RedcapDictionaryReportsWhatItLeavesOut) {
    const QByteArray dictionary =
        "Variable / Field Name,Form Name,Section Header,Field Type,Field Label,"
        "\"Choices, Calculations, OR Slider Labels\",Field Note,Text Validation Type OR Show Slider Number,"
        "Text Validation Min,Text Validation Max,Identifier?,Branching Logic (Show field only if...),"
        "Required Field?,Custom Alignment,Question Number (surveys only),Matrix Group Name,Matrix Ranking?,"
        "Field Annotation\n"
        "record_id,sleep,,text,Record ID,,,,,,,,,,,,,\n"
        "q1,sleep,,radio,Я плохо сплю,\"0, Никогда | 1, Иногда | 2, Часто\",,,,,,,y,,,,,\n"
        "q2,sleep,,radio,Я просыпаюсь ночью,\"0, Никогда | 1, Иногда | 2, Часто\",,,,,,[q1] = '2',,,,,,\n"
        "q3,sleep,,yesno,Я сплю днём,,,,,,,,,,,,,\n"
        "total,sleep,,calc,Сумма,[q1]+[q2],,,,,,,,,,,,\n"
        "comment,sleep,,notes,Комментарий,,,,,,,,,,,,,\n"
        "age,demography,,text,Возраст,,,integer,0,120,,,,,,,,\n";
    const exchange::Brought b = exchange::fromRedcap(dictionary);
    EXPECT_EQ(b.test.name, QStringLiteral("sleep"));
    ASSERT_EQ(b.test.questions.size(), 3u);
    EXPECT_EQ(b.test.answerSets.size(), 2u); // q1 and q2 share one
    EXPECT_EQ(b.test.questions[0].answerSet, b.test.questions[1].answerSet);
    EXPECT_EQ(b.test.answerSets[0].options[2].points, 2);
    const QString report = b.report.join(QLatin1Char('\n'));
    for (const char* field :
         {"record_id: ответ свободным текстом", "q2: условие показа", "total: вычисляемое поле",
          "comment: ответ свободным текстом", "age: форма «demography»"})
        EXPECT_TRUE(report.contains(QString::fromUtf8(field))) << field << "\n" << report.toStdString();
    writeFile(file(QStringLiteral("dictionary.csv")), dictionary);
    QString out;
    ASSERT_EQ(morvDb({QStringLiteral("test-import"), empty_, file(QStringLiteral("dictionary.csv")),
                      QStringLiteral("--from"), QStringLiteral("redcap")},
                     &out),
              0)
        << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("not carried over: total: вычисляемое поле")))
        << out.toStdString();
    EXPECT_EQ(exchange::readTest(empty_, 1).questions[2].text, QStringLiteral("Я сплю днём"));

    // Choice codes that are no numbers give no points: refused, not invented.
    writeFile(
        file(QStringLiteral("letters.csv")),
        "Variable / Field Name,Form Name,Field Type,Field Label,\"Choices, Calculations, OR Slider Labels\"\n"
        "q1,f,radio,Вопрос,\"a, Да | b, Нет\"\n");
    expectRefused(file(QStringLiteral("letters.csv")), QStringLiteral("код «a» не число"), empty_,
                  {QStringLiteral("--from"), QStringLiteral("redcap")});
}

// A test kept in a Russian Excel, saved as CSV: Windows-1251, semicolons, a quoted text with a
// semicolon in it. Questions alike share a set; a missing point is refused with its place.
TEST_F(Exchange, SpreadsheetFromRussianExcel) {
    const QString table =
        QStringLiteral("Вопрос;Критерий;Ответ 1;Баллы 1;Ответ 2;Баллы 2;Ответ 3;Баллы 3\r\n"
                       "Я легко знакомлюсь;1;Да;2;Иногда;1;Нет;0\r\n"
                       "\"Мне трудно начать разговор; особенно с незнакомыми\";2;Да;0;Иногда;1;Нет;2\r\n"
                       "Я люблю шумные компании;1;Да;2;Иногда;1;Нет;0\r\n");
    std::string bytes;
    ASSERT_TRUE(dbf::encode(table, dbf::CodePage::Cp1251, bytes));
    writeFile(file(QStringLiteral("общение.csv")), QByteArray::fromStdString(bytes));
    QString out;
    ASSERT_EQ(morvDb({QStringLiteral("test-import"), empty_, file(QStringLiteral("общение.csv")),
                      QStringLiteral("--from"), QStringLiteral("table")},
                     &out),
              0)
        << out.toStdString();
    const exchange::TestFile t = exchange::readTest(empty_, 1);
    EXPECT_EQ(t.name, QStringLiteral("общение"));
    ASSERT_EQ(t.questions.size(), 3u);
    EXPECT_EQ(t.questions[1].text, QStringLiteral("Мне трудно начать разговор; особенно с незнакомыми"));
    EXPECT_EQ(t.answerSets.size(), 2u);
    EXPECT_EQ(t.questions[0].answerSet, t.questions[2].answerSet);
    ASSERT_EQ(t.criteria.size(), 2u);
    EXPECT_EQ(t.criteria[0].questions, (std::vector<int>{1, 3}));
    EXPECT_EQ(t.criterionCount, 2);

    ASSERT_TRUE(dbf::encode(QStringLiteral("Вопрос;Критерий;Ответ 1;Баллы 1;Ответ 2;Баллы 2\r\n"
                                           "Первый;1;Да;1;Нет;0\r\nВторой;1;Да;;Нет;0\r\n"),
                            dbf::CodePage::Cp1251, bytes));
    writeFile(file(QStringLiteral("no-points.csv")), QByteArray::fromStdString(bytes));
    const auto before = md5s(empty_);
    EXPECT_EQ(morvDb({QStringLiteral("test-import"), empty_, file(QStringLiteral("no-points.csv")),
                      QStringLiteral("--from"), QStringLiteral("table")},
                     &out),
              1);
    EXPECT_TRUE(out.contains(QStringLiteral("Строка 3, столбец 4: у ответа «Да» нет баллов")))
        << out.toStdString();
    EXPECT_EQ(md5s(empty_), before);
}

// A ReproSchema activity laid out as its documentation shows, written by hand: an activity
// schema naming its items by relative path in ui.order, an item in three languages, one with
// branching, a text input, a broken item file and an item at a remote address (never fetched).
class ReproSchemaActivity : public Exchange {
protected:
    void SetUp() override {
        Exchange::SetUp();
        ASSERT_TRUE(QDir().mkpath(file(QStringLiteral("anxiety/items"))));
    }
    QString put(const QString& name, const QByteArray& json) {
        const QString path = file(QStringLiteral("anxiety/") + name);
        writeFile(path, json);
        return path;
    }
    static QByteArray activity(const QByteArray& order) {
        return R"({
  "@context": "https://raw.githubusercontent.com/ReproNim/reproschema/1.0.0/contexts/reproschema",
  "@type": "reproschema:Activity",
  "@id": "anxiety_schema",
  "prefLabel": {"en": "Anxiety", "ru": "Тревожность"},
  "description": {"en": "Worry and sleep", "ru": "Тревога и сон"},
  "schemaVersion": "1.0.0",
  "version": "0.1.0",
  "ui": {
    "order": [)" +
               order + R"(],
    "addProperties": [
      {"variableName": "worry", "isAbout": "items/worry", "isVis": true},
      {"variableName": "sleep", "isAbout": "items/sleep", "isVis": "worry > 0"},
      {"variableName": "comment", "isAbout": "items/comment", "isVis": true},
      {"variableName": "broken", "isAbout": "items/broken", "isVis": true},
      {"variableName": "several", "isAbout": "items/several.jsonld", "isVis": true}
    ],
    "shuffle": false
  },
  "compute": [{"variableName": "anxiety_total", "jsExpression": "worry + sleep"}]
})";
    }
    void putItems() {
        const QByteArray choices = R"("responseOptions": {
    "valueType": "xsd:integer", "multipleChoice": false, "minValue": 0, "maxValue": 3,
    "choices": [{"name": {"en": "Never", "ru": "Никогда"}, "value": 0},
                {"name": {"en": "Sometimes", "ru": "Иногда"}, "value": 1},
                {"name": {"en": "Often", "ru": "Часто"}, "value": 3}]})";
        put(QStringLiteral("items/worry"),
            R"({"@context": "https://raw.githubusercontent.com/ReproNim/reproschema/1.0.0/contexts/reproschema",
  "@type": "reproschema:Field", "@id": "worry", "prefLabel": "worry",
  "question": {"en": "I worry a lot", "ru": "Я часто волнуюсь", "es": "Me preocupo mucho"},
  "ui": {"inputType": "radio"}, )" +
                choices + "}");
        put(QStringLiteral("items/sleep"), R"({"@type": "reproschema:Field", "@id": "sleep",
  "question": {"en": "I sleep badly"}, "image": "moon.png", "ui": {"inputType": "radio"}, )" +
                                               choices + "}");
        put(QStringLiteral("items/comment"), R"({"@type": "reproschema:Field", "@id": "comment",
  "question": {"ru": "Что ещё вас тревожит?"}, "ui": {"inputType": "text"},
  "responseOptions": {"valueType": "xsd:string"}})");
        put(QStringLiteral("items/broken"), R"({"@type": "reproschema:Field", "question": {"ru": "Обры)");
        put(QStringLiteral("items/several.jsonld"), R"({"@type": "reproschema:Field",
  "question": {"ru": "Когда вы волнуетесь?"}, "ui": {"inputType": "radio"},
  "responseOptions": {"multipleChoice": true,
    "choices": [{"name": {"ru": "Утром"}, "value": 1}, {"name": {"ru": "Вечером"}, "value": 2}]}})");
    }
    int import(const QString& path, QString* out) {
        return morvDb({QStringLiteral("test-import"), empty_, path, QStringLiteral("--from"),
                       QStringLiteral("reproschema")},
                      out);
    }
};

TEST_F(ReproSchemaActivity, ChoiceItemsComeInAndTheRestIsReported) {
    putItems();
    const QString path = put(QStringLiteral("anxiety_schema"),
                             activity(R"("items/worry", "items/comment", "items/broken", "items/sleep",
                                         "https://example.org/items/remote")"));
    QString out;
    ASSERT_EQ(import(path, &out), 0) << out.toStdString();
    for (const char* line :
         {"not carried over: comment: ответ вводится (тип «text»)",
          "not carried over: broken: файл «items/broken» негоден — не JSON",
          "not carried over: sleep: условие показа (isVis) «worry > 0» не перенесено",
          "not carried over: https://example.org/items/remote: файл вопроса по внешнему адресу",
          "not carried over: sleep: картинки вопроса или вариантов не перенесены",
          "not carried over: anxiety_total: вычисляемый балл «worry + sleep» не перенесён",
          "not carried over: Язык «es» не перенесён (берётся один язык): worry",
          "not carried over: Язык «en» не перенесён (берётся один язык): prefLabel, description, worry"})
        EXPECT_TRUE(out.contains(QString::fromUtf8(line))) << line << "\n" << out.toStdString();

    const exchange::TestFile t = exchange::readTest(empty_, 1);
    EXPECT_EQ(t.name, QStringLiteral("Тревожность"));
    EXPECT_EQ(t.description, QStringLiteral("Тревога и сон"));
    ASSERT_EQ(t.questions.size(), 2u);
    EXPECT_EQ(t.questions[0].text, QStringLiteral("Я часто волнуюсь"));
    EXPECT_EQ(t.questions[1].text, QStringLiteral("I sleep badly")); // no Russian: English
    EXPECT_EQ(t.answerSets.size(), 1u);

    // The stored rows as dbfread reads them: both questions on one set, points 0, 1, 3 in order.
    auto rows = [&](const char* table) {
        std::vector<QJsonObject> out;
        for (const QString& line : peerDump(empty_, QLatin1String(table)))
            out.push_back(QJsonDocument::fromJson(line.toUtf8()).object());
        return out;
    };
    const auto tests = rows("bd_test"), questions = rows("bd_vopros"), options = rows("bd_otvet");
    ASSERT_EQ(tests.size(), 1u);
    EXPECT_EQ(tests[0]["NAME"].toString(), QStringLiteral("Тревожность"));
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_EQ(questions[0]["TEXTV"].toString(), QStringLiteral("Я часто волнуюсь"));
    EXPECT_EQ(questions[0]["NOTV"].toInt(), questions[1]["NOTV"].toInt());
    QStringList stored;
    for (const QJsonObject& o : options)
        if (o["NOMOTV"].toInt() == questions[0]["NOTV"].toInt())
            stored << o["OTVET"].toString() + QLatin1Char('=') + QString::number(o["BOTVET"].toDouble());
    EXPECT_EQ(stored, (QStringList{QStringLiteral("Никогда=0"), QStringLiteral("Иногда=1"),
                                   QStringLiteral("Часто=3")}));
}

TEST_F(ReproSchemaActivity, DamagedOrUselessActivitiesAreRefusedUnwritten) {
    putItems();
    QByteArray whole = activity(R"("items/worry", "items/sleep")");
    expectRefused(put(QStringLiteral("truncated_schema"), whole.left(whole.size() / 2)),
                  QStringLiteral("Активность ReproSchema: не JSON"), empty_,
                  {QStringLiteral("--from"), QStringLiteral("reproschema")});
    expectRefused(put(QStringLiteral("empty_schema"), R"({"@type": "reproschema:Activity", "ui": {}})"),
                  QStringLiteral("нет списка вопросов"), empty_,
                  {QStringLiteral("--from"), QStringLiteral("reproschema")});
    // Nothing left that a test can hold: refused, naming the broken file among the reasons.
    expectRefused(put(QStringLiteral("useless_schema"),
                      activity(R"("items/comment", "items/broken", "items/several.jsonld")")),
                  QStringLiteral("нет ни одного пригодного вопроса с вариантами ответа: broken: файл "
                                 "«items/broken» негоден"),
                  empty_, {QStringLiteral("--from"), QStringLiteral("reproschema")});
    // A choice without a numeric value gives no points: the item is left out, not given invented ones.
    put(QStringLiteral("items/worry"), R"({"question": "Волнуюсь", "ui": {"inputType": "radio"},
  "responseOptions": {"choices": [{"name": "Да", "value": "yes"}, {"name": "Нет", "value": 0}]}})");
    const exchange::Brought b = exchange::fromReproSchema(
        put(QStringLiteral("points_schema"), activity(R"("items/worry", "items/sleep")")));
    ASSERT_EQ(b.test.questions.size(), 1u);
    EXPECT_TRUE(b.report.join(QLatin1Char('\n'))
                    .contains(QStringLiteral("worry: файл «items/worry» негоден — у варианта «Да» значение "
                                             "(value) не число")))
        << b.report.join(QLatin1Char('\n')).toStdString();
}

// The window takes any of the four kinds of file and must tell them apart by their content.
TEST_F(ReproSchemaActivity, EachKindOfFileIsToldByItsContent) {
    putItems();
    const exchange::Brought activityFile =
        exchange::fromAnyFile(put(QStringLiteral("anxiety_schema.json"), activity(R"("items/worry")")));
    EXPECT_EQ(activityFile.test.name, QStringLiteral("Тревожность"));
    ASSERT_EQ(exportTest(sample_, 2, file(QStringLiteral("ours.json"))), 0);
    const exchange::Brought ours = exchange::fromAnyFile(file(QStringLiteral("ours.json")));
    EXPECT_EQ(ours.test.name, QStringLiteral("Поведение в рабочей группе"));
    EXPECT_TRUE(ours.report.isEmpty());
    writeFile(file(QStringLiteral("dictionary.csv")),
              "Variable / Field Name,Form Name,Field Type,Field Label,\"Choices, Calculations, OR Slider "
              "Labels\"\nq1,mood,radio,Настроение,\"1, Плохое | 2, Хорошее\"\n");
    EXPECT_EQ(exchange::fromAnyFile(file(QStringLiteral("dictionary.csv"))).test.name,
              QStringLiteral("mood"));
    writeFile(file(QStringLiteral("Настроение.csv")), "Вопрос;Критерий;Ответ;Баллы\nМне весело;1;Да;1\n");
    EXPECT_EQ(exchange::fromAnyFile(file(QStringLiteral("Настроение.csv"))).test.name,
              QStringLiteral("Настроение"));
    writeFile(file(QStringLiteral("other.json")), R"({"name": "не тест"})");
    EXPECT_THROW(exchange::fromAnyFile(file(QStringLiteral("other.json"))), exchange::ExchangeError);
}

} // namespace
