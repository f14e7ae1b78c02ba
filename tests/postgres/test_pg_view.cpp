// Long views of a server table: never fetched whole, yet every position, move, search and write
// agrees with the order the server itself gives (psql), with nulls, ties and gaps in the ids.
#include "Errors.h"
#include "PgConnection.h"
#include "PgSchema.h"
#include "PgServer.h"
#include "PgStore.h"
#include "dataset/Aliases.h"
#include "dataset/Filter.h"
#include "dataset/Table.h"
#include "sql/SqlRunner.h"

#include <QProcess>
#include <algorithm>
#include <gtest/gtest.h>
#include <random>

namespace {

// The ids of a query's rows as psql prints them.
std::vector<db::RowId> psqlIds(const QString& url, const QString& sql) {
    QProcess p;
    p.start(QStringLiteral("psql"), {url, QStringLiteral("-AtX"), QStringLiteral("-c"), sql});
    p.waitForFinished(60000);
    std::vector<db::RowId> ids;
    for (const QString& line :
         QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        ids.push_back(db::RowId(line.toUInt()));
    return ids;
}

void psql(const QString& url, const QString& sql) {
    QProcess p;
    p.start(QStringLiteral("psql"), {url, QStringLiteral("-AtqX"), QStringLiteral("-c"), sql});
    p.waitForFinished(60000);
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
}

// Whether psql could take the row lock at once: false while a workstation's edit holds it.
bool psqlLocks(const QString& url, db::RowId id) {
    QProcess p;
    p.start(QStringLiteral("psql"),
            {url, QStringLiteral("-AtqX"), QStringLiteral("-c"),
             QStringLiteral("SELECT id FROM bd_rezult WHERE id = %1 FOR UPDATE NOWAIT").arg(id)});
    p.waitForFinished(60000);
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

class PgViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_PG_SERVER(s);
        pg::PgStore::registerScheme();
        url = s->newDatabase();
        pg::createDatabase(url);
        // 2300 answer rows: a null test number every 11th, five test numbers shared by many rows,
        // and every 13th row deleted, so ids have gaps.
        psql(url, "INSERT INTO bd_rezult (nomu, nomtestir, data, nomtesta, nomvopr, otvet) "
                  "SELECT 1, i % 7, date '2020-01-01' + i % 30, CASE WHEN i % 11 = 0 THEN NULL ELSE i % 5 "
                  "END, i, i % 4 FROM generate_series(1, 2300) i");
        psql(url, "DELETE FROM bd_rezult WHERE nomvopr % 13 = 0");
        db::Aliases::bind("morv", url);
    }
    void TearDown() override { db::Aliases::unbind("morv"); }

    void open(db::Table& t, const QString& index = {}) {
        t.setDatabaseName("morv");
        t.setTableName("bd_rezult.dbf");
        t.setIndexName(index);
        t.open();
    }
    static std::vector<db::RowId> forward(db::Table& t) {
        std::vector<db::RowId> ids;
        for (t.first(); !t.eof(); t.next())
            ids.push_back(t.recordNumber(t.recNo()));
        return ids;
    }
    QString url;
};

TEST_F(PgViewTest, ALongViewIsCountedNotFetchedAndReadsInTheServersOrderEveryWay) {
    const auto stored = psqlIds(url, "SELECT id FROM bd_rezult ORDER BY id");
    const auto byTest = psqlIds(url, "SELECT id FROM bd_rezult ORDER BY nomtesta NULLS FIRST, id");
    const auto filtered = psqlIds(url, "SELECT id FROM bd_rezult WHERE otvet = 2 ORDER BY nomtesta "
                                       "NULLS FIRST, id");
    ASSERT_GT(stored.size(), 2000u);

    // Opened, the store lists none of the rows: it counted them.
    auto store = db::openServerStore(url, "bd_rezult", true);
    db::RowSet rows;
    store->scan(db::ScanSpec{}, rows);
    EXPECT_TRUE(rows.paged);
    EXPECT_TRUE(rows.ids.empty());
    EXPECT_EQ(rows.allCount, stored.size());

    db::Table t;
    open(t);
    EXPECT_EQ(t.recordCount(), int(stored.size()));
    EXPECT_EQ(forward(t), stored);

    db::Table sorted;
    open(sorted, "NOMTESTA");
    EXPECT_EQ(forward(sorted), byTest);
    // Backwards from the end: pages found from the one after them.
    db::Table back;
    open(back, "NOMTESTA");
    std::vector<db::RowId> ids;
    for (back.last(); !back.bof(); back.prior())
        ids.insert(ids.begin(), back.recordNumber(back.recNo()));
    EXPECT_EQ(ids, byTest);
    // Jumps anywhere, in a fresh view: offsets from the nearer end, then neighbours' keys.
    db::Table jumps;
    open(jumps, "NOMTESTA");
    std::mt19937 rng(5);
    for (int i = 0; i < 300; ++i) {
        const size_t row = rng() % byTest.size();
        ASSERT_EQ(jumps.recordNumber(int(row)), byTest[row]) << "row " << row;
    }
    // A filter the server evaluates, over a sorted view.
    sorted.filterBy("OTVET=2");
    EXPECT_EQ(forward(sorted), filtered);
    // A search by key lands on the row's place in the view, also where no page was fetched.
    db::Table search;
    open(search, "NOMTESTA");
    const db::RowId far = byTest[byTest.size() - 700];
    const int expectRow = int(byTest.size()) - 700;
    QProcess q;
    q.start("psql",
            {url, "-AtX", "-c", QStringLiteral("SELECT nomvopr FROM bd_rezult WHERE id = %1").arg(far)});
    q.waitForFinished(10000);
    const int question = QString::fromUtf8(q.readAllStandardOutput()).trimmed().toInt();
    ASSERT_TRUE(search.locate("NOMU;NOMVOPR", {1, question}));
    EXPECT_EQ(search.recNo(), expectRow);
    EXPECT_EQ(search.fieldByName("NOMVOPR")->value().toInt(), question);
}

TEST_F(PgViewTest, AStatisticsQueryReadsEveryRowOfALongTableAsTheServerCountsThem) {
    const auto counted = psqlIds(url, "SELECT count(*) FROM bd_rezult");
    const auto summed = psqlIds(url, "SELECT sum(otvet * nomvopr) FROM bd_rezult");
    const db::sql::ResultSet r =
        db::sql::runSelect(url, "select count(*), sum(OTVET * NOMVOPR) from bd_rezult", {});
    ASSERT_EQ(counted.size(), 1u);
    EXPECT_EQ(r.rows.value(0, 0).toDouble(), double(counted[0]));
    EXPECT_EQ(r.rows.value(0, 1).toDouble(), double(summed[0]));
}

TEST_F(PgViewTest, AWholeTableStreamGivesEveryRowOnceInIdOrderWithItsValuesAcrossBatches) {
    QProcess p;
    p.start("psql", {url, "-AtX", "-F", "|", "-c",
                     "SELECT id, nomtesta::int, data, nomvopr::int FROM bd_rezult ORDER BY id"});
    p.waitForFinished(60000);
    const QStringList expected =
        QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_GT(expected.size(), 2000); // several batches, the first one short

    auto store = db::openServerStore(url, "bd_rezult", true);
    const std::vector<int> columns = {store->columnIndex("NOMTESTA"), store->columnIndex("DATA"),
                                      store->columnIndex("NOMVOPR")};
    auto read = [&](const std::vector<int>& cols) {
        auto rows =
            store->stream(cols, {db::FieldKind::Integer, db::FieldKind::Date, db::FieldKind::Integer});
        QStringList got;
        while (rows->next()) {
            const db::Variant test = rows->value(0), date = rows->value(1);
            got << QStringLiteral("%1|%2|%3|%4")
                       .arg(rows->id())
                       .arg(test.isNull() ? QString() : QString::number(test.toInt()))
                       .arg(date.isNull() ? QString() : date.toDate().toString(Qt::ISODate))
                       .arg(rows->value(2).toInt());
        }
        EXPECT_FALSE(rows->next()); // stays at its end
        return got;
    };
    EXPECT_EQ(read(columns), expected);
    // Rows others removed and added since the store was opened: the stream reads what is stored.
    psql(url, "DELETE FROM bd_rezult WHERE id % 2 = 0");
    psql(url, "INSERT INTO bd_rezult (nomu, nomtestir, nomtesta, nomvopr, otvet) VALUES (3, 3, 3, 9999, 1)");
    p.start("psql", {url, "-AtX", "-F", "|", "-c",
                     "SELECT id, nomtesta::int, data, nomvopr::int FROM bd_rezult ORDER BY id"});
    p.waitForFinished(60000);
    EXPECT_EQ(read(columns),
              QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts));
}

// The answer numbers of every row, as a stream gives them.
std::vector<int> streamed(db::RowStream& rows, size_t most = SIZE_MAX) {
    std::vector<int> out;
    while (out.size() < most && rows.next())
        out.push_back(int(rows.value(0).toInt()));
    return out;
}

TEST_F(PgViewTest, StreamsReadAheadOnTheirOwnYetInterleaveAndSeeTheirTransaction) {
    std::vector<int> expected;
    for (db::RowId n : psqlIds(url, "SELECT nomvopr FROM bd_rezult ORDER BY id"))
        expected.push_back(int(n));
    ASSERT_GT(expected.size(), 2000u);
    auto store = db::openServerStore(url, "bd_rezult", false);
    const std::vector<int> nomvopr{store->columnIndex("NOMVOPR")};
    const std::vector<db::FieldKind> kinds{db::FieldKind::Integer};
    // Two at once, as a join reads two tables, each a row at a time in turn.
    {
        auto a = store->stream(nomvopr, kinds), b = store->stream(nomvopr, kinds);
        std::vector<int> fromA, fromB;
        for (bool moreA = true, moreB = true; moreA || moreB;) {
            if ((moreA = moreA && a->next())) fromA.push_back(int(a->value(0).toInt()));
            if ((moreB = moreB && b->next())) fromB.push_back(int(b->value(0).toInt()));
        }
        EXPECT_EQ(fromA, expected);
        EXPECT_EQ(fromB, expected);
    }
    // One left after its first rows, with the next batch asked for: the next stream reads all.
    EXPECT_EQ(streamed(*store->stream(nomvopr, kinds), 600).size(), 600u);
    EXPECT_EQ(streamed(*store->stream(nomvopr, kinds)), expected);
    // Within a transaction the stream sees the rows the transaction added; after a rollback, not.
    try {
        pg::Connection::shared(url)->transaction([&] {
            store->append({{nomvopr[0], "NOMVOPR", db::Variant(99999)}}, {});
            const std::vector<int> inside = streamed(*store->stream(nomvopr, kinds));
            EXPECT_EQ(inside.size(), expected.size() + 1);
            EXPECT_EQ(inside.back(), 99999);
            throw std::runtime_error("roll back");
        });
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(streamed(*store->stream(nomvopr, kinds)), expected);
}

TEST_F(PgViewTest, AFilterOfARunReachesTheServerAsConditionsItsIndexAnswers) {
    auto store = db::openServerStore(url, "bd_rezult", true);
    db::FilterExpr e = db::FilterExpr::parse("NOMU=1 and NOMTESTIR=2 and NOMTESTA=3");
    store->bindFilter(e);
    QStringList texts;
    const QString where =
        e.sql([&](int c) { return pg::ident(store->columns()[size_t(c)].name.toLower()); }, texts);
    std::vector<pg::Param> params(texts.begin(), texts.end());
    pg::Connection c(url);
    c.exec("SET enable_seqscan = off"); // the plan an index allows, whatever the table's size
    const pg::Result plan = c.exec("EXPLAIN SELECT id FROM bd_rezult WHERE " + where, params);
    QString text;
    for (int i = 0; i < plan.rows(); ++i)
        text += plan.text(i, 0) + QLatin1Char('\n');
    EXPECT_TRUE(text.contains("Index")) << text.toStdString();
    EXPECT_FALSE(text.contains("Seq Scan")) << text.toStdString();
}

TEST(PgStreamRestart, AStreamAfterTheServerRestartedReadsEveryRowOnANewConnection) {
    QString why;
    auto own = PgServer::startPrivate(&why);
    if (!own) GTEST_SKIP() << why.toStdString();
    pg::PgStore::registerScheme();
    const QString url = own->newDatabase();
    pg::createDatabase(url);
    psql(url, "INSERT INTO bd_rezult (nomu, nomtestir, nomtesta, nomvopr) SELECT 1, 1, 1, i FROM "
              "generate_series(1, 1200) i");
    auto store = db::openServerStore(url, "bd_rezult", true);
    const std::vector<int> nomvopr{store->columnIndex("NOMVOPR")};
    EXPECT_EQ(streamed(*store->stream(nomvopr, {db::FieldKind::Integer})).size(), 1200u);
    own->restart(); // the connection the stream kept is gone
    const std::vector<int> after = streamed(*store->stream(nomvopr, {db::FieldKind::Integer}));
    ASSERT_EQ(after.size(), 1200u);
    EXPECT_EQ(after.back(), 1200);
    pg::Connection::dropShared();
}

TEST_F(PgViewTest, AnEditsRowLockLastsAsLongAsTheEditAlsoOnAConnectionKeptFromAnEarlierEdit) {
    db::Table t;
    open(t);
    t.first();
    const db::RowId a = t.recordNumber(t.recNo());
    t.edit();
    EXPECT_FALSE(psqlLocks(url, a));
    t.cancel();
    EXPECT_TRUE(psqlLocks(url, a));
    // The next edits take the connection the first one left: each holds its own row, and only
    // while it lasts.
    for (int i = 0; i < 3; ++i) {
        t.next();
        const db::RowId b = t.recordNumber(t.recNo());
        t.edit();
        EXPECT_FALSE(psqlLocks(url, b));
        EXPECT_TRUE(psqlLocks(url, a));
        t.fieldByName("OTVET")->setValue(3);
        t.post();
        EXPECT_TRUE(psqlLocks(url, b));
        EXPECT_EQ(psqlIds(url, QStringLiteral("SELECT otvet FROM bd_rezult WHERE id = %1").arg(b)),
                  std::vector<db::RowId>{3});
    }
    // A row another session holds is refused, and the refusal leaves no lock behind.
    QProcess holder;
    holder.start("psql", {url, "-AtqX"});
    holder.waitForStarted();
    t.next();
    const db::RowId c = t.recordNumber(t.recNo());
    holder.write(QStringLiteral("BEGIN; SELECT id FROM bd_rezult WHERE id = %1 FOR UPDATE; SELECT 'held';\n")
                     .arg(c)
                     .toUtf8());
    while (!holder.readAllStandardOutput().contains("held") && holder.waitForReadyRead(10000)) {
    }
    EXPECT_THROW(t.edit(), db::DatabaseError);
    holder.write("ROLLBACK;\n");
    holder.closeWriteChannel();
    holder.waitForFinished(10000);
    t.prior();
    EXPECT_TRUE(psqlLocks(url, t.recordNumber(t.recNo())));
    t.edit();
    EXPECT_FALSE(psqlLocks(url, t.recordNumber(t.recNo())));
    t.cancel();
}

TEST_F(PgViewTest, TwoEditsOfOneRowInOneProgramKeepItLockedUntilBothEndAndAFailedWriteKeepsTheLock) {
    psql(url, "ALTER TABLE bd_rezult ADD CONSTRAINT few_options CHECK (otvet < 100)");
    db::Table a, b;
    open(a);
    open(b);
    a.first();
    b.first();
    const db::RowId row = a.recordNumber(a.recNo());
    a.edit();
    b.edit();
    a.fieldByName("OTVET")->setValue(2);
    a.post();
    EXPECT_FALSE(psqlLocks(url, row)); // b's edit goes on
    EXPECT_EQ(psqlIds(url, QStringLiteral("SELECT otvet FROM bd_rezult WHERE id = %1").arg(row)),
              std::vector<db::RowId>{2});
    // A write the server refuses: the edit keeps its lock and posts after.
    b.fieldByName("OTVET")->setValue(500);
    EXPECT_THROW(b.post(), db::DatabaseError);
    EXPECT_FALSE(psqlLocks(url, row));
    b.fieldByName("OTVET")->setValue(1);
    b.post();
    EXPECT_TRUE(psqlLocks(url, row));
    // One edit alone: its write frees the row, and an edit of it after that locks it again.
    a.edit();
    a.fieldByName("OTVET")->setValue(3);
    a.post();
    EXPECT_TRUE(psqlLocks(url, row));
    b.refresh();
    b.edit();
    EXPECT_EQ(b.fieldByName("OTVET")->asInteger(), 3); // read as stored when locked
    EXPECT_FALSE(psqlLocks(url, row));
    b.cancel();
    EXPECT_TRUE(psqlLocks(url, row));
}

TEST_F(PgViewTest, WritesInALongViewKeepTheCursorOnTheirRowAndOthersRowsComeAtRefresh) {
    db::Table t;
    open(t, "NOMTESTA");
    const int count = t.recordCount();
    // An edit far down keeps the cursor on its row.
    t.first();
    t.moveBy(1500);
    const db::RowId edited = t.recordNumber(t.recNo());
    t.edit();
    t.fieldByName("OTVET")->setValue(3);
    t.post();
    EXPECT_EQ(t.recordNumber(t.recNo()), edited);
    EXPECT_EQ(psqlIds(url, QStringLiteral("SELECT otvet FROM bd_rezult WHERE id = %1").arg(edited)),
              std::vector<db::RowId>{3});
    // A new row with no test number goes among the nulls at the top, after the older ones.
    t.append();
    t.setFields({1, 9, QDate(2021, 5, 1), db::Variant(), 5000, 1});
    t.post();
    EXPECT_EQ(t.recordCount(), count + 1);
    const auto order = psqlIds(url, "SELECT id FROM bd_rezult ORDER BY nomtesta NULLS FIRST, id");
    const db::RowId added = t.recordNumber(t.recNo());
    ASSERT_EQ(order.size(), size_t(count + 1));
    EXPECT_EQ(order[size_t(t.recNo())], added);
    EXPECT_EQ(t.fieldByName("NOMVOPR")->value().toInt(), 5000);
    // Deleted: gone from the view and from the server.
    t.deleteRecord();
    EXPECT_EQ(t.recordCount(), count);
    EXPECT_TRUE(psqlIds(url, QStringLiteral("SELECT id FROM bd_rezult WHERE id = %1").arg(added)).empty());

    // Another workstation's row appears when the view is refreshed, in its place.
    psql(url, "INSERT INTO bd_rezult (nomu, nomtestir, nomtesta, nomvopr, otvet) VALUES (2, 1, 0, 1, 1)");
    EXPECT_EQ(t.recordCount(), count);
    t.refresh();
    EXPECT_EQ(t.recordCount(), count + 1);
    EXPECT_EQ(forward(t), psqlIds(url, "SELECT id FROM bd_rezult ORDER BY nomtesta NULLS FIRST, id"));
}

} // namespace
