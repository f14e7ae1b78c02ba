// Grouped writes and optional tables on a PostgreSQL server, and a long view whose rows another
// workstation deletes: every figure is what psql reads back.
#include "Errors.h"
#include "PgConnection.h"
#include "PgSchema.h"
#include "PgServer.h"
#include "PgStore.h"
#include "data/Schema.h"
#include "dataset/Aliases.h"
#include "dataset/Table.h"

#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>
#include <thread>

namespace {

// One answer row of bd_rezult (NOMU NOMTESTIR DATA NOMTESTA NOMVOPR OTVET) as a store's values.
std::vector<db::ColumnValue> answerRow(int testee, int question, int choice) {
    return {{0, "NOMU", 1},     {1, "NOMTESTIR", testee}, {2, "DATA", QDate(2026, 3, 2)},
            {3, "NOMTESTA", 4}, {4, "NOMVOPR", question}, {5, "OTVET", choice}};
}

class PgWriteTest : public PgDatabaseTest {
protected:
    void SetUp() override {
        PgDatabaseTest::SetUp();
        if (!ready()) return;
        pg::createDatabase(url);
        db::Aliases::bind("morv", url);
    }
};

TEST_F(PgWriteTest, AGroupIsStoredWholeInItsOrderOrNotAtAllWhenAnyRowIsRefused) {
    auto store = db::openServerStore(url, "bd_rezult", false);
    // 12,000 rows take several statements; the last repeats the first question's key.
    std::vector<std::vector<db::ColumnValue>> group;
    for (int q = 1; q <= 12000; ++q)
        group.push_back(answerRow(1, q, q % 4));
    group.push_back(answerRow(1, 1, 3));
    EXPECT_THROW(store->appendMany(group), db::DatabaseError);
    EXPECT_EQ(psqlText(url, "SELECT count(*) FROM bd_rezult"), "0");
    // A value too wide for its field is refused before anything is sent.
    group.back() = answerRow(1, 12001, 1234567);
    EXPECT_THROW(store->appendMany(group), db::DatabaseError);
    EXPECT_EQ(psqlText(url, "SELECT count(*) FROM bd_rezult"), "0");
    // Nothing of the refused groups shows in a view either.
    db::Table t;
    t.setDatabaseName("morv");
    t.setTableName("bd_rezult.dbf");
    t.open();
    EXPECT_EQ(t.recordCount(), 0);

    group.back() = answerRow(2, 7, 3);
    const std::vector<db::RowId> ids = store->appendMany(group);
    ASSERT_EQ(ids.size(), group.size());
    // The ids given back name the rows in the group's order: each holds its own question.
    const QStringList stored =
        psqlText(url, "SELECT id || ' ' || nomtestir::int || ' ' || nomvopr::int || ' ' || otvet::int FROM "
                      "bd_rezult ORDER BY id")
            .split('\n');
    ASSERT_EQ(stored.size(), qsizetype(group.size()));
    for (size_t i = 0; i < ids.size(); i += 997) {
        const int testee = i + 1 == ids.size() ? 2 : 1, q = i + 1 == ids.size() ? 7 : int(i) + 1;
        EXPECT_EQ(stored[qsizetype(i)],
                  QStringLiteral("%1 %2 %3 %4").arg(ids[i]).arg(testee).arg(q).arg(q % 4));
    }
    EXPECT_EQ(stored.back(), QStringLiteral("%1 2 7 3").arg(ids.back()));
}

TEST_F(PgWriteTest, AServerKilledInTheMiddleOfAGroupLeavesNoneOfItAndTheNextGroupConnectsAgain) {
    QString why;
    auto own = PgServer::startPrivate(&why);
    ASSERT_TRUE(own) << why.toStdString();
    const QString mine = own->newDatabase();
    pg::createDatabase(mine);
    // The 8,000th row waits, so the server dies with the rows before it sent and not committed.
    pg::Connection(mine).exec("CREATE FUNCTION slow() RETURNS trigger AS $$ BEGIN IF NEW.nomvopr = 8000 THEN "
                              "PERFORM pg_sleep(60); END IF; RETURN NEW; END $$ LANGUAGE plpgsql");
    pg::Connection(mine).exec(
        "CREATE TRIGGER slow BEFORE INSERT ON bd_rezult FOR EACH ROW EXECUTE FUNCTION slow()");
    auto store = db::openServerStore(mine, "bd_rezult", false);
    std::vector<std::vector<db::ColumnValue>> group;
    for (int q = 1; q <= 9000; ++q)
        group.push_back(answerRow(1, q, 1));
    std::string failure = "no error";
    std::thread writer([&] {
        try {
            store->appendMany(group);
        } catch (const db::DatabaseError& e) {
            failure = e.what();
        }
    });
    bool waiting = false;
    for (int i = 0; i < 600 && !waiting; ++i) {
        QThread::msleep(50);
        waiting = psqlText(own->adminUrl(),
                           "SELECT count(*) FROM pg_stat_activity WHERE wait_event = 'PgSleep'") == "1";
    }
    EXPECT_TRUE(waiting) << "the group never reached its 8,000th row";
    own->crash();
    writer.join();
    EXPECT_NE(failure.find("was lost"), std::string::npos) << failure;
    EXPECT_EQ(psqlText(mine, "SELECT count(*) FROM bd_rezult"), "0");

    pg::Connection(mine).exec("DROP TRIGGER slow ON bd_rezult");
    group.resize(20);
    EXPECT_EQ(store->appendMany(group).size(), 20u);
    EXPECT_EQ(psqlText(mine, "SELECT count(*) || ' ' || max(nomvopr)::int FROM bd_rezult"), "20 20");
    pg::Connection::dropShared();
}

TEST_F(PgWriteTest, OptionalTablesAreMadeOnceWithTheirKeysWhenWorkstationsMakeThemAtOnce) {
    // Three processes make the session, code and norm tables at the same moment.
    std::vector<std::unique_ptr<QProcess>> children;
    for (int i = 0; i < 3; ++i) {
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(QStringLiteral(MORV_PG_CHILD), {url, "tables", "0", "0"});
        children.push_back(std::move(p));
    }
    for (auto& p : children) {
        ASSERT_TRUE(p->waitForFinished(60000));
        EXPECT_EQ(QString::fromUtf8(p->readAll()).trimmed(), "ok");
    }
    EXPECT_EQ(psqlText(url,
                       "SELECT string_agg(table_name, ' ' ORDER BY table_name) FROM "
                       "information_schema.tables WHERE table_name IN ('bd_seans', 'bd_kod', 'bd_norm')"),
              "bd_kod bd_norm bd_seans");
    // Their keys: a session number once, one code per testee and session, indexes on the tags.
    EXPECT_EQ(psqlText(url, "SELECT string_agg(indexname, ' ' ORDER BY indexname) FROM pg_indexes WHERE "
                            "tablename IN ('bd_seans', 'bd_kod', 'bd_norm')"),
              "bd_kod_kod bd_kod_pkey bd_kod_unique1 bd_norm_norm bd_norm_pkey bd_seans_nomseans "
              "bd_seans_pkey bd_seans_unique1");
    pg::Connection c(url);
    c.exec("INSERT INTO bd_kod (nomseans, nomu, nomtestir, kod) VALUES (1, 1, 1, 'AAAAAA')");
    EXPECT_THROW(c.exec("INSERT INTO bd_kod (nomseans, nomu, nomtestir, kod) VALUES (1, 1, 1, 'CCCCCC')"),
                 db::DatabaseError);
    // A table the database has is left as it is, rows and all.
    EXPECT_EQ(schema::ensureTable(url, schema::codesTable()), "bd_kod.dbf");
    EXPECT_EQ(psqlText(url, "SELECT kod FROM bd_kod"), "AAAAAA");
    EXPECT_TRUE(schema::hasTable(url, schema::norms()));
}

TEST_F(PgWriteTest, RowsDeletedBetweenTheCountAndAPageNeverReadAsEmptyRows) {
    pg::Connection c(url);
    c.exec("INSERT INTO bd_rezult (nomu, nomtestir, nomtesta, nomvopr, otvet) SELECT 1, 1, 1, i, i % 4 "
           "FROM generate_series(1, 1800) i");
    db::Table t;
    t.setDatabaseName("morv");
    t.setTableName("bd_rezult.dbf");
    t.open();
    ASSERT_EQ(t.recordCount(), 1800); // counted, only the first page fetched
    // Another workstation deletes rows in the pages not read yet.
    c.exec("DELETE FROM bd_rezult WHERE nomvopr BETWEEN 700 AND 899");
    const db::Field* q = t.fieldByName("NOMVOPR");
    // Every row read by position is a stored one, in the server's order; none is empty.
    std::vector<int> seen;
    for (int row = 0; row < 1600; ++row)
        seen.push_back(int(t.valueAt(row, q).toInt()));
    const QStringList order = psqlText(url, "SELECT nomvopr::int FROM bd_rezult ORDER BY id").split('\n');
    ASSERT_EQ(order.size(), 1600);
    for (int row = 0; row < 1600; ++row)
        ASSERT_EQ(QString::number(seen[size_t(row)]), order[row]) << "row " << row;
    // The next move says rows went away and shows the view as stored.
    try {
        t.next();
        ADD_FAILURE() << "the move did not notice the removed rows";
    } catch (const db::DatabaseError& e) {
        EXPECT_NE(e.message().indexOf("records were removed"), -1) << e.message().toStdString();
    }
    EXPECT_EQ(t.recordCount(), 1600);
    int n = 0;
    for (t.first(); !t.eof(); t.next())
        ASSERT_EQ(QString::number(t.fieldByName("NOMVOPR")->value().toInt()), order[n++]);
    EXPECT_EQ(n, 1600);
}

} // namespace
