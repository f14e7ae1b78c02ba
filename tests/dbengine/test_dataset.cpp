// Cursor, editing, filter and locate meanings of a table the windows rely on.
#include "Errors.h"
#include "TestDb.h"
#include "dataset/Aliases.h"
#include "dataset/Table.h"
#include "dataset/Variant.h"
#include "dbf/DbfFile.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace db;

#ifdef MORV_ON_SERVER
#include "PgConnection.h"
#include "PgServer.h"
#include "PgStore.h"
#endif

namespace {

// Where the table of a test is kept: the same tests run on a folder and, in the postgres test
// program, on a PostgreSQL server.
enum class Store { Folder, Server };

// A table of numbered rows: N smallint, G float, T text(10), D date, M memo.
class TableTest : public ::testing::TestWithParam<Store> {
protected:
    void SetUp() override {
        if (GetParam() == Store::Server) {
#ifdef MORV_ON_SERVER
            REQUIRE_PG_SERVER(server);
            pg::PgStore::registerScheme();
            const QString url = server->newDatabase();
            pg::Connection(url).exec(
                "CREATE TABLE t (id serial PRIMARY KEY, n numeric(6,0), g numeric(20,4), "
                "t varchar(10) NOT NULL DEFAULT '', d date, m text NOT NULL DEFAULT '')");
            Aliases::bind("tabletest", url);
#endif
        } else {
            dbf::DbfFile::create(dir.filePath("t.dbf").toStdString(), {{"N", 'N', 6, 0},
                                                                       {"G", 'N', 20, 4},
                                                                       {"T", 'C', 10, 0},
                                                                       {"D", 'D', 8, 0},
                                                                       {"M", 'M', 10, 0}});
            Aliases::bind("tabletest", dir.path());
        }
        useTable(table);
    }
    void TearDown() override {
        Aliases::unbind("tabletest");
    }
    // Another dataset over the same table, as another window opens it.
    static void useTable(Table& t) {
        t.setDatabaseName("tabletest");
        t.setTableName("t.dbf");
    }
    void fill(int rows, int groups = 3) {
        table.open();
        if (table.file())
            table.file()->setDurable(rows < 100); // thousands of fsyncs would only slow the test
        for (int i = 1; i <= rows; ++i) {
            table.append();
            table.setFields(
                {i, double(i % groups), QStringLiteral("row%1").arg(i), QDate(2020, 1, 1).addDays(i)});
            table.post();
        }
        table.first();
    }
    int current() {
        return int(table.fieldByName("N")->asInteger());
    }

    QTemporaryDir dir;
    Table table;
};

std::string messageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const EngineError& e) {
        return e.what();
    }
    return "no error";
}

} // namespace

#ifndef MORV_ON_SERVER
TEST(VariantTest, ConversionsFollowTheProgramsRules) {
    EXPECT_EQ(Variant(2.5).toInt(), 2);
    EXPECT_EQ(Variant(3.5).toInt(), 4);
    EXPECT_EQ(Variant(-2.5).toInt(), -2);
    EXPECT_EQ(Variant(2.4999).toInt(), 2);
    EXPECT_EQ(messageOf([] { Variant().toInt(); }), "Invalid variant type conversion");
    EXPECT_EQ(messageOf([] { Variant().toDouble(); }), "Invalid variant type conversion");
    EXPECT_EQ(messageOf([] { Variant(QStringLiteral("12a")).toInt(); }),
              "'12a' is not a valid integer value");
    EXPECT_EQ(Variant(QStringLiteral(" 42 ")).toInt(), 42);
    EXPECT_TRUE(Variant(3).sameAs(Variant(3.0)));
    EXPECT_TRUE(Variant(QStringLiteral("3")).sameAs(Variant(3)));
    EXPECT_FALSE(Variant(QStringLiteral("Abc")).sameAs(Variant(QStringLiteral("abc"))));
    EXPECT_FALSE(Variant().sameAs(Variant(0)));
    EXPECT_EQ((Variant(2) + Variant(3)).toInt(), 5);
    EXPECT_DOUBLE_EQ((Variant(2) * Variant(1.5)).toDouble(), 3.0);
    EXPECT_TRUE((Variant() + Variant(1)).isNull());
}
#endif

TEST_P(TableTest, NavigationStopsAtTheEndsAndSetsTheFlags) {
    fill(5);
    EXPECT_FALSE(table.eof());
    EXPECT_EQ(current(), 1);
    int seen = 0;
    for (table.first(); !table.eof(); table.next())
        ++seen;
    EXPECT_EQ(seen, 5);
    EXPECT_EQ(current(), 5); // next on the last record stays there
    table.prior();
    EXPECT_EQ(current(), 4);
    EXPECT_FALSE(table.eof());
    EXPECT_EQ(table.moveBy(10), 1);
    EXPECT_EQ(current(), 5);
    EXPECT_TRUE(table.eof());
    EXPECT_EQ(table.moveBy(-2), -2);
    EXPECT_EQ(current(), 3);
    EXPECT_EQ(table.moveBy(-10), -2);
    EXPECT_TRUE(table.bof());
    EXPECT_EQ(current(), 1);
    table.last();
    EXPECT_EQ(current(), 5);
}

TEST_P(TableTest, EmptyViewReadsNullAndFailsAsNumber) {
    table.open();
    EXPECT_TRUE(table.eof());
    EXPECT_TRUE(table.fieldByName("N")->value().isNull());
    EXPECT_EQ(messageOf([&] { table.fieldByName("N")->asInteger(); }), "Invalid variant type conversion");
    EXPECT_EQ(messageOf([&] { table.fieldByName("NOPE"); }), "Field 'NOPE' not found");
    // Edit on an empty view starts a new record.
    table.edit();
    EXPECT_EQ(table.state(), DataSetState::Insert);
    table.fieldByName("N")->setValue(7);
    table.post();
    EXPECT_EQ(table.recordCount(), 1);
    EXPECT_EQ(current(), 7);
}

TEST_P(TableTest, EditingPostCancelDeleteAndSetFields) {
    fill(3);
    EXPECT_EQ(messageOf([&] { table.fieldByName("T")->setValue("x"); }),
              "Dataset not in edit or insert mode");
    table.next();
    table.edit();
    table.fieldByName("T")->setValue(QStringLiteral("Изменено"));
    table.fieldByName("M")->setValue(QStringLiteral("Длинный текст"));
    table.post();
    EXPECT_EQ(current(), 2); // the cursor stays on the posted record
    EXPECT_EQ(table.fieldByName("T")->asString(), QStringLiteral("Изменено"));

    table.edit();
    table.fieldByName("T")->setValue("lost");
    table.cancel();
    EXPECT_EQ(table.fieldByName("T")->asString(), QStringLiteral("Изменено"));

    table.append();
    table.setFields({9, 1.5, "nine"});
    table.cancel();
    EXPECT_EQ(table.recordCount(), 3);
    EXPECT_EQ(current(), 2);

    table.deleteRecord();
    EXPECT_EQ(table.recordCount(), 2);
    EXPECT_EQ(current(), 3);

    // Everything above is on disk for a second reader.
    Table other;
    useTable(other);
    other.open();
    ASSERT_EQ(other.recordCount(), 2);
    other.next();
    EXPECT_EQ(other.fieldByName("N")->asInteger(), 3);
    other.close();
    other.open();
    other.locate("N", {1});
    EXPECT_EQ(other.fieldByName("T")->asString(), "row1");
    ASSERT_FALSE(other.locate("N", {2})); // deleted
}

TEST_P(TableTest, ValuesThatDoNotFitAreRefusedAndNothingIsWritten) {
    fill(1);
    table.edit();
    EXPECT_EQ(messageOf([&] { table.fieldByName("N")->setValue("abc"); }),
              "'abc' is not a valid integer value");
    EXPECT_NE(messageOf([&] { table.fieldByName("N")->setValue(40000); }).find("-32768 to 32767"),
              std::string::npos);
    table.fieldByName("G")->setValue(1e30); // wider than N(20,4)
    EXPECT_NE(messageOf([&] { table.post(); }).find("does not fit field G"), std::string::npos);
    EXPECT_EQ(table.state(), DataSetState::Edit);
    table.fieldByName("G")->setValue(2.0);
    table.fieldByName("T")->setValue(QStringLiteral("5€"));
    EXPECT_NE(messageOf([&] { table.post(); }).find("cannot hold the character"), std::string::npos);
    EXPECT_EQ(table.state(), DataSetState::Edit);
    table.cancel();
    Table other;
    useTable(other);
    other.open();
    EXPECT_EQ(other.fieldByName("T")->asString(), "row1");
    EXPECT_DOUBLE_EQ(other.fieldByName("G")->asFloat(), 1.0);
    // A text longer than its field keeps its first characters.
    table.edit();
    table.fieldByName("T")->setValue("0123456789ABC");
    table.post();
    EXPECT_EQ(table.fieldByName("T")->asString(), "0123456789");
}

TEST_P(TableTest, FilterSwitchingMovesToFirstAndEndsPendingEdits) {
    fill(9);
    table.setFilter("G=1");
    EXPECT_EQ(table.recordCount(), 9); // text alone does not filter while the flag is off
    table.moveBy(4);
    table.setFilter("G=2");
    EXPECT_EQ(current(), 5); // flag off: the cursor stays
    table.setFiltered(true);
    EXPECT_EQ(table.recordCount(), 3);
    EXPECT_EQ(current(), 2);
    table.next();
    table.setFiltered(true); // same value still moves to the first record
    EXPECT_EQ(current(), 2);
    table.next();
    table.setFilter("G=1");
    EXPECT_EQ(current(), 1); // new text while filtered: first record of the new view

    // A changed record is posted by the switch, an unchanged one dropped.
    table.edit();
    table.fieldByName("T")->setValue("changed");
    table.setFiltered(false);
    EXPECT_EQ(table.state(), DataSetState::Browse);
    EXPECT_EQ(current(), 1);
    EXPECT_EQ(table.fieldByName("T")->asString(), "changed");
    table.append();
    table.setFiltered(false);
    EXPECT_EQ(table.recordCount(), 9);

    // A bad text is refused and the old one stays in force.
    table.setFilter("N>5");
    table.setFiltered(true);
    EXPECT_NE(messageOf([&] { table.setFilter("N>>5"); }).find("Invalid filter 'N>>5'"), std::string::npos);
    EXPECT_NE(messageOf([&] { table.setFilter("NX=1"); }).find("Field 'NX' not found"), std::string::npos);
    EXPECT_EQ(table.filter(), "N>5");
    EXPECT_EQ(table.recordCount(), 4);

    // Off, text, on in one call: the pending change is posted; a refused text leaves no filter.
    table.edit();
    table.fieldByName("T")->setValue("again");
    table.filterBy("G=0");
    EXPECT_EQ(table.state(), DataSetState::Browse);
    EXPECT_EQ(table.recordCount(), 3);
    EXPECT_EQ(current(), 3);
    table.last();
    EXPECT_NE(messageOf([&] { table.filterBy("N="); }), "no error");
    EXPECT_FALSE(table.filtered());
    EXPECT_EQ(table.recordCount(), 9);
    EXPECT_EQ(current(), 1);
    ASSERT_TRUE(table.locate("N", {6}));
    EXPECT_EQ(table.fieldByName("T")->asString(), "again");
}

TEST_P(TableTest, FilterSyntax) {
    fill(12);
    table.setFiltered(true);
    auto count = [&](const QString& f) {
        table.setFilter(f);
        return table.recordCount();
    };
    EXPECT_EQ(count("N=5and G=2"), 1); // number directly followed by a word
    EXPECT_EQ(count("G=0 or N<=2"), 6);
    EXPECT_EQ(count("not (G=0) and N<>1"), 7);
    EXPECT_EQ(count("T='row10'"), 1);
    EXPECT_EQ(count("T>='row2'"), 8); // text compares as text: row2..row9
    EXPECT_EQ(count("N>=-1 and G<>1.0"), 8);
    EXPECT_EQ(count(""), 12);
    // Blank numbers and dates match no comparison, and so every NOT of one, however deep.
    table.setFiltered(false);
    for (int n : {13, 14}) {
        table.append();
        table.setFields({n});
        table.post();
    }
    table.setFiltered(true);
    EXPECT_EQ(count("G<>1"), 8);
    EXPECT_EQ(count("not (G=1)"), 10);
    EXPECT_EQ(count("not (G=1 or N=2)"), 9);
    EXPECT_EQ(count("not (not (G=1))"), 4);
    EXPECT_EQ(count("N>12 and not (D>'20200105')"), 2);
    EXPECT_EQ(count("G=0 or not (G>=0)"), 6);
}

TEST_P(TableTest, LocateFindsTheFirstMatchInViewOrder) {
    fill(30, 4);
    table.moveBy(3);
    EXPECT_TRUE(table.locate("G;T", {2, QStringLiteral("row10")}));
    EXPECT_EQ(current(), 10);
    EXPECT_FALSE(table.locate("G;T", {2, QStringLiteral("row11")}));
    EXPECT_EQ(current(), 10);                                   // failure keeps the record
    EXPECT_FALSE(table.locate("T", {QStringLiteral("ROW10")})); // case-sensitive
    EXPECT_TRUE(table.locate("G", {3}));
    EXPECT_EQ(current(), 3);
    table.setFilter("N>10");
    table.setFiltered(true);
    EXPECT_TRUE(table.locate("G", {3}));
    EXPECT_EQ(current(), 11);
}

TEST_P(TableTest, LocateOverManyRowsUsesTheKeyIndexAndSeesEveryChange) {
    fill(5000, 7);
    ASSERT_TRUE(table.locate("G;N", {5, 4996}));
    EXPECT_EQ(current(), 4996);
    EXPECT_TRUE(table.locate("G", {6}));
    EXPECT_EQ(current(), 6); // first in stored order
    // Appended and rewritten rows are found; a rewritten key no longer matches its old value.
    table.append();
    table.setFields({6000, 42.0, "new"});
    table.post();
    table.locate("N", {7});
    table.edit();
    table.fieldByName("G")->setValue(43.0);
    table.post();
    table.first();
    EXPECT_TRUE(table.locate("G", {42}));
    EXPECT_EQ(current(), 6000);
    EXPECT_TRUE(table.locate("G", {43}));
    EXPECT_EQ(current(), 7);
    table.locate("N", {14});
    table.deleteRecord();
    EXPECT_TRUE(table.locate("G", {0}));
    EXPECT_EQ(current(), 21); // 7 was rewritten, 14 deleted
    EXPECT_FALSE(table.locate("N", {QStringLiteral("x")}));
    // Under a filter the first match inside the view wins.
    table.setFilter("N>100");
    table.setFiltered(true);
    EXPECT_TRUE(table.locate("G", {6}));
    EXPECT_EQ(current(), 104);
}

TEST_P(TableTest, SignalsForControls) {
    fill(3);
    QSignalSpy scrolled(&table, &Dataset::scrolled);
    QSignalSpy state(&table, &Dataset::stateChanged);
    QSignalSpy changed(&table, &Dataset::recordChanged);
    table.next();
    EXPECT_EQ(scrolled.count(), 1);
    table.edit();
    table.fieldByName("T")->setValue("z");
    EXPECT_EQ(state.count(), 1);
    EXPECT_EQ(changed.count(), 1);
    // Rows read by position do not move the cursor; the row being edited shows its new value.
    EXPECT_EQ(table.valueAt(0, table.fieldByName("T")).toString(), "row1");
    EXPECT_EQ(table.valueAt(1, table.fieldByName("T")).toString(), "z");
    EXPECT_EQ(current(), 2);
    table.cancel();
    table.append();
    EXPECT_EQ(table.rowCount(), 4); // the new row is shown at the end while it is inserted
    EXPECT_TRUE(table.valueAt(3, table.fieldByName("N")).isNull());
}

#ifndef MORV_ON_SERVER
TEST(AliasTest, MissingAliasDirectoryAndTableAreNamed) {
    QTemporaryDir cfg;
    qputenv("MORV_ALIASES", cfg.filePath("aliases.ini").toUtf8());
    Table t;
    t.setDatabaseName("nowhere");
    t.setTableName("bd_test.DBF");
    std::string m = messageOf([&] { t.open(); });
    EXPECT_NE(m.find("Alias 'nowhere' is not configured"), std::string::npos) << m;
    EXPECT_NE(m.find(cfg.filePath("aliases.ini").toStdString()), std::string::npos) << m;

    Aliases::store("nowhere", cfg.filePath("db"));
    m = messageOf([&] { t.open(); });
    EXPECT_NE(m.find("does not exist"), std::string::npos) << m;
    QDir().mkpath(cfg.filePath("db"));
    m = messageOf([&] { t.open(); });
    EXPECT_NE(m.find("Table bd_test.DBF not found in " + cfg.filePath("db").toStdString()), std::string::npos)
        << m;
    // The file is found whatever the case of its name on disk.
    dbf::DbfFile::create(cfg.filePath("db/BD_TEST.DBF").toStdString(), {{"A", 'N', 6, 0}});
    EXPECT_NO_THROW(t.open());
    qunsetenv("MORV_ALIASES");
}
#endif

TEST_P(TableTest, EqualityFiltersOverManyRowsMatchAPlainScan) {
    fill(5000, 7);
    auto numbers = [&] {
        std::vector<int> out;
        for (table.first(); !table.eof(); table.next())
            out.push_back(current());
        return out;
    };
    // "G=3 and N<=1000" cannot use the index; "G=3" can: both must agree on the rows.
    table.setFilter("G=3 and N>=-1");
    table.setFiltered(true);
    std::vector<int> scanned = numbers();
    table.setFilter("G=3");
    EXPECT_EQ(numbers(), scanned);
    EXPECT_EQ(scanned.size(), 714u);
    EXPECT_EQ(scanned.front(), 3);
    // Rows changed, added and deleted afterwards are seen by the next view.
    table.first();
    table.edit();
    table.fieldByName("G")->setValue(4.0);
    table.post();
    EXPECT_EQ(table.recordCount(), 713); // the changed row left the view
    table.setFiltered(false);
    table.append();
    table.setFields({7001, 3.0});
    table.post();
    table.locate("N", {10});
    table.deleteRecord();
    table.setFilter("G=3");
    table.setFiltered(true);
    std::vector<int> after = numbers();
    EXPECT_EQ(after.size(), 713u);
    EXPECT_EQ(after.front(), 17);
    EXPECT_EQ(after.back(), 7001);
    table.setFilter("G=3 and N=7001");
    EXPECT_EQ(numbers(), std::vector<int>{7001});
}

TEST_P(TableTest, TypedTextIsTakenInOnceWhenAMoveEndsTheEdit) {
    fill(3);
    QObject control;
    int taken = 0;
    table.addUpdateHook(&control, [&] {
        ++taken;
        table.fieldByName("T")->setValue(QStringLiteral("typed"));
    });
    table.edit();
    table.next(); // the move posts the pending edit
    EXPECT_EQ(taken, 1);
    table.prior();
    EXPECT_EQ(table.fieldByName("T")->asString(), QStringLiteral("typed"));
    EXPECT_EQ(taken, 1);
}

namespace {
std::string storeName(const ::testing::TestParamInfo<Store>& info) {
    return info.param == Store::Server ? "Server" : "Folder";
}
} // namespace

#ifdef MORV_ON_SERVER
INSTANTIATE_TEST_SUITE_P(On, TableTest, ::testing::Values(Store::Server), storeName);
#else
INSTANTIATE_TEST_SUITE_P(On, TableTest, ::testing::Values(Store::Folder), storeName);
#endif
