#include "Errors.h"
#include "dbf/DbfFile.h"
#include "sql/SqlRunner.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using db::DatabaseError;
using db::Variant;
using db::sql::ResultSet;
using db::sql::runSelect;
using Values = std::vector<std::pair<const char*, Variant>>;

namespace {

std::string rightAligned(std::string s, size_t width) {
    return s.insert(0, width - s.size(), ' ');
}

// Builds the record bytes the way the engine stores them.
void append(dbf::DbfFile& f, const Values& values) {
    std::string rec = f.blankRecord();
    for (const auto& [name, v] : values) {
        const int i = f.fieldIndex(name);
        const dbf::FieldDef& def = f.fields()[size_t(i)];
        std::string text;
        if (def.type == 'N' && def.decimals == 0 && v.type() == Variant::Type::Int)
            text = rightAligned(std::to_string(v.toInt()), def.length); // wide values must not pass a double
        else if (def.type == 'N')
            text = f.formatNumber(i, v.toDouble());
        else if (def.type == 'D')
            text = dbf::DbfFile::formatDate(v.toDate());
        else if (def.type == 'L')
            text = v.toBool() ? "T" : "F";
        else
            ASSERT_TRUE(dbf::encode(v.toString(), f.codePage(), text));
        if (def.type == 'M') text = rightAligned(std::to_string(f.writeMemo(text, 0)), def.length);
        rec.replace(def.offset + 1, text.size(), text);
    }
    f.appendRecord(rec);
}

dbf::FieldDef field(const char* name, char type, uint8_t length = 0, uint8_t decimals = 0) {
    return {name, type, length, decimals, 0};
}

class SqlRunnerTest : public testing::Test {
protected:
    std::shared_ptr<dbf::DbfFile> make(const QString& file, std::vector<dbf::FieldDef> fields,
                                       dbf::CodePage cp = dbf::CodePage::Cp866) {
        const std::string path = dir.filePath(file).toStdString();
        dbf::DbfFile::create(path, std::move(fields), cp);
        auto f = dbf::DbfFile::openShared(path);
        f->setDurable(false);
        return f;
    }
    std::shared_ptr<dbf::DbfFile> makeRez() {
        return make("bd_rez.dbf", {field("KRIT", 'N', 6), field("BALL", 'N', 20, 4)});
    }
    ResultSet run(const QString& sql, const std::map<QString, Variant>& params = {}) {
        return runSelect(dir.path(), sql, params);
    }
    QString errorOf(const QString& sql) {
        try {
            run(sql);
        } catch (const DatabaseError& e) {
            return e.message();
        }
        return QStringLiteral("<no error>");
    }
    std::vector<int64_t> ints(const QString& sql, const std::map<QString, Variant>& params = {}) {
        std::vector<int64_t> out;
        for (const auto& row : run(sql, params).rows)
            out.push_back(row.at(0).toInt());
        return out;
    }

    QTemporaryDir dir;
};

TEST_F(SqlRunnerTest, FieldsComeBackWithTheirTypes) {
    auto f = make("bd_anket.dbf",
                  {field("KRIT", 'N', 6), field("BALL", 'N', 20, 4), field("FIO", 'C', 20),
                   field("DATA", 'D'), field("PRIZ", 'L'), field("PRIM", 'M'), field("BIG", 'N', 19)});
    append(*f, {{"KRIT", 3},
                {"BALL", 2.5},
                {"FIO", "Иванов Ёж"},
                {"DATA", QDate(2023, 4, 5)},
                {"PRIZ", true},
                {"PRIM", "Заметка"},
                {"BIG", int64_t(1234567890123456789)}});
    append(*f, {{"KRIT", -7}, {"PRIZ", false}});
    append(*f, {});

    const ResultSet r = run("select KRIT, BALL, FIO, DATA, PRIZ, PRIM, BIG from BD_ANKET");
    EXPECT_EQ(r.columns, QStringList({"KRIT", "BALL", "FIO", "DATA", "PRIZ", "PRIM", "BIG"}));
    ASSERT_EQ(r.rows.size(), 3u);
    const auto& full = r.rows[0];
    EXPECT_EQ(full[0].type(), Variant::Type::Int);
    EXPECT_EQ(full[0].toInt(), 3);
    EXPECT_EQ(full[1].type(), Variant::Type::Float);
    EXPECT_DOUBLE_EQ(full[1].toDouble(), 2.5);
    EXPECT_EQ(full[2].toString(), QString("Иванов Ёж"));
    EXPECT_EQ(full[3].toString(), QString("2023-04-05"));
    EXPECT_EQ(full[4].toInt(), 1);
    EXPECT_EQ(full[5].toString(), QString("Заметка"));
    EXPECT_EQ(full[6].type(), Variant::Type::Int);
    EXPECT_EQ(full[6].toInt(), int64_t(1234567890123456789)); // exact, not through a double

    const auto& sparse = r.rows[1];
    EXPECT_EQ(sparse[0].toInt(), -7);
    EXPECT_TRUE(sparse[1].isNull());
    EXPECT_TRUE(sparse[3].isNull());
    EXPECT_EQ(sparse[4].toInt(), 0);
    EXPECT_TRUE(sparse[6].isNull());

    EXPECT_TRUE(r.rows[2][0].isNull());
    EXPECT_TRUE(r.rows[2][4].isNull());
}

TEST_F(SqlRunnerTest, TextDecodesWithTheTableCodePage) {
    auto win = make("bd_win.dbf", {field("FIO", 'C', 20)}, dbf::CodePage::Cp1251);
    auto dos = make("bd_dos.dbf", {field("FIO", 'C', 20)});
    append(*win, {{"FIO", "Пётр Щукин"}});
    append(*dos, {{"FIO", "Пётр Щукин"}});
    EXPECT_EQ(ints("select count(*) from bd_win w join bd_dos d on w.FIO = d.FIO where w.FIO = 'Пётр Щукин'"),
              std::vector<int64_t>{1});
}

TEST_F(SqlRunnerTest, ParametersBindByName) {
    auto a = make("bd_analiz.dbf", {field("NOMTESTA", 'N', 6), field("KRIT", 'N', 6), field("UROV", 'N', 6)});
    for (auto [t, k, u] : {std::tuple{5, 1, 2}, {5, 1, 2}, {5, 2, 3}, {6, 9, 9}})
        append(*a, {{"NOMTESTA", t}, {"KRIT", k}, {"UROV", u}});
    const QString sql = "select distinct KRIT,UROV from bd_analiz where NOMTESTA=:NT order by KRIT";

    const ResultSet r = run(sql, {{"NT", 5}});
    ASSERT_EQ(r.rows.size(), 2u);
    EXPECT_EQ(r.rows[0][0].toInt(), 1);
    EXPECT_EQ(r.rows[0][1].toInt(), 2);
    EXPECT_EQ(r.rows[1][0].toInt(), 2);
    EXPECT_EQ(r.rows[1][1].toInt(), 3);
    EXPECT_TRUE(run(sql).rows.empty()) << "an unset parameter is NULL and matches nothing";
    EXPECT_EQ(run(sql, {{"nt", 6.0}}).rows.size(), 1u);

    auto p = make("bd_pers.dbf", {field("FIO", 'C', 20), field("DATA", 'D')});
    append(*p, {{"FIO", "Сидоров"}, {"DATA", QDate(2020, 1, 31)}});
    append(*p, {{"FIO", "Сидоров"}, {"DATA", QDate(2021, 6, 1)}});
    EXPECT_EQ(ints("select count(*) from bd_pers where FIO = :F and DATA > :D",
                   {{"F", "Сидоров"}, {"D", QDate(2020, 12, 31)}}),
              std::vector<int64_t>{1});
}

TEST_F(SqlRunnerTest, OnlyReadingIsAllowed) {
    auto f = makeRez();
    append(*f, {{"KRIT", 1}});
    for (const char* sql :
         {"attach database ':memory:' as other", "pragma table_info(bd_rez)",
          "insert into bd_rez(KRIT) values (2)", "delete from bd_rez", "update bd_rez set KRIT = 5",
          "create table t(a)", "create temp view v as select 1", "drop table bd_rez", "begin",
          "select * from pragma_table_info('bd_rez')"}) {
        EXPECT_TRUE(errorOf(sql).startsWith("Only SELECT queries are allowed"))
            << sql << ": " << errorOf(sql).toStdString();
    }
    EXPECT_TRUE(errorOf("select 1; delete from bd_rez").contains("one statement"));
    EXPECT_TRUE(errorOf("  ;  ").contains("empty"));
    EXPECT_EQ(ints("select KRIT from bd_rez; -- trailing comment\n"), std::vector<int64_t>{1});
    EXPECT_EQ(f->recordCount(), 1u);
}

TEST_F(SqlRunnerTest, MissingThingsAreNamed) {
    makeRez();
    EXPECT_EQ(errorOf("select * from bd_nothing"), QString("no such table: bd_nothing"));

    const QString gone = dir.filePath("gone");
    try {
        runSelect(gone, "select 1", {});
        FAIL() << "a missing directory was accepted";
    } catch (const DatabaseError& e) {
        EXPECT_TRUE(e.message().contains(gone));
    }

    QFile bad(dir.filePath("bd_bad.dbf"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(QByteArray(64, 'x'));
    bad.close();
    EXPECT_EQ(ints("select count(*) from bd_rez"), std::vector<int64_t>{0})
        << "a broken file hides other tables";
    EXPECT_TRUE(errorOf("select * from bd_bad").contains("bd_bad.dbf"));
}

TEST_F(SqlRunnerTest, DeletedRecordsAreSkipped) {
    auto f = makeRez();
    for (int k = 1; k <= 4; ++k)
        append(*f, {{"KRIT", k}});
    f->setDeleted(0, true); // at the start and the end of the scan too
    f->setDeleted(2, true);
    f->setDeleted(3, true);
    EXPECT_EQ(ints("select KRIT from bd_rez"), std::vector<int64_t>{2});
}

TEST_F(SqlRunnerTest, TableNamesIgnoreCase) {
    append(*make("BD_X.DBF", {field("KRIT", 'N', 6)}), {{"KRIT", 1}});
    append(*make("bd_y.dbf", {field("KRIT", 'N', 6)}), {{"KRIT", 2}});
    EXPECT_EQ(ints("select KRIT from bd_x"), std::vector<int64_t>{1});
    EXPECT_EQ(ints("select krit from BD_Y"), std::vector<int64_t>{2});
}

TEST_F(SqlRunnerTest, Aggregates) {
    auto f = makeRez();
    append(*f, {{"KRIT", 1}, {"BALL", 2.0}});
    append(*f, {{"KRIT", 1}, {"BALL", 3.0}});
    append(*f, {{"KRIT", 2}});
    const ResultSet r = run("select count(*), count(BALL), avg(BALL), sum(KRIT) from bd_rez");
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(r.rows[0][0].toInt(), 3);
    EXPECT_EQ(r.rows[0][1].toInt(), 2);
    EXPECT_DOUBLE_EQ(r.rows[0][2].toDouble(), 2.5);
    EXPECT_EQ(r.rows[0][3].type(), Variant::Type::Int);
    EXPECT_EQ(r.rows[0][3].toInt(), 4);
}

TEST_F(SqlRunnerTest, SeesRowsAppendedSinceTheLastQuery) {
    auto shared = makeRez();
    append(*shared, {{"KRIT", 1}});
    EXPECT_EQ(ints("select count(*) from bd_rez"), std::vector<int64_t>{1});
    append(*shared, {{"KRIT", 2}});
    auto other = dbf::DbfFile::open(shared->path()); // as another program would
    other->setDurable(false);
    append(*other, {{"KRIT", 3}});
    EXPECT_EQ(ints("select KRIT from bd_rez"), (std::vector<int64_t>{1, 2, 3}));
}

TEST_F(SqlRunnerTest, DirectoryWithQuotesInItsName) {
    const QString sub = dir.filePath("it's \"here\"");
    ASSERT_TRUE(QDir().mkpath(sub));
    const std::string path = QDir(sub).filePath("bd_q.dbf").toStdString();
    dbf::DbfFile::create(path, {field("KRIT", 'N', 6)});
    append(*dbf::DbfFile::openShared(path), {{"KRIT", 9}});
    EXPECT_EQ(runSelect(sub, "select KRIT from bd_q", {}).rows.at(0).at(0).toInt(), 9);
}

} // namespace

TEST_F(SqlRunnerTest, OnlyTheFunctionsOfAStatisticsQueryMayBeCalled) {
    auto f = makeRez();
    append(*f, {{"KRIT", 4}, {"BALL", 2.25}});
    // What statistics need works, in any case of letters.
    const ResultSet rs = run("select count(*), AVG(BALL), round(sqrt(BALL), 2), abs(-KRIT), upper('a'), "
                             "coalesce(null, 7), strftime('%Y', '2024-02-29') from bd_rez");
    ASSERT_EQ(rs.rows.size(), 1u);
    EXPECT_EQ(rs.rows[0][2].toDouble(), 1.5);
    EXPECT_EQ(rs.rows[0][3].toInt(), 4);
    EXPECT_EQ(rs.rows[0][6].toString(), QStringLiteral("2024"));
    // Raw pointers, files, blobs of any size and the engine's insides are refused by name.
    for (const char* fn : {"fts3_tokenizer('simple')", "load_extension('x')", "zeroblob(1000000000)",
                           "randomblob(1000000000)", "sqlite_version()"}) {
        const QString sql = QStringLiteral("select %1").arg(QLatin1String(fn));
        const QString name = QString::fromLatin1(fn).section(u'(', 0, 0);
        EXPECT_EQ(errorOf(sql), QStringLiteral("The function %1 cannot be used in a query").arg(name)) << fn;
    }
}

TEST_F(SqlRunnerTest, AnEndlessQueryIsCancelledThroughTheProgressHookAndCappedInMemory) {
    makeRez();
    const QString endless = "with recursive c(x) as (select 1 union all select x + 1 from c) ";
    int calls = 0;
    bool overSeen = false;
    db::sql::setProgressHook([&](qint64 ms) {
        if (ms < 0) {
            overSeen = true;
            return true;
        }
        return ++calls < 5;
    });
    EXPECT_THROW(run(endless + "select count(*), 1 from c"), db::Cancelled);
    EXPECT_EQ(calls, 5);
    EXPECT_TRUE(overSeen) << "the hook hears that the run is over, to take its window down";
    db::sql::setProgressHook({});

    // Rows without end fill the result until the cap stops them, with a message.
    const qint64 old = db::sql::memoryLimit();
    db::sql::setMemoryLimit(qint64(16) << 20);
    EXPECT_TRUE(errorOf(endless + "select x, x from c").contains("more than 16 MB"))
        << errorOf(endless + "select x, x from c").toStdString();
    db::sql::setMemoryLimit(old);
    EXPECT_EQ(ints(endless + "select x from c limit 3"), (std::vector<int64_t>{1, 2, 3}));
}

TEST_F(SqlRunnerTest, AFileTheQueryDoesNotNameCannotStopIt) {
    auto f = makeRez();
    append(*f, {{"KRIT", 3}});
    for (const char* name : {"notes.dbf", "bd_rezult.dbf"}) {
        QFile bad(dir.filePath(name));
        ASSERT_TRUE(bad.open(QIODevice::WriteOnly)); // zero length
        bad.close();
    }
    EXPECT_EQ(ints("select KRIT from bd_rez"), std::vector<int64_t>{3});
    const QString message = errorOf("select * from bd_rezult");
    EXPECT_TRUE(message.contains("bd_rezult.dbf") && message.contains("shorter than a dBASE header"))
        << message.toStdString();
}
