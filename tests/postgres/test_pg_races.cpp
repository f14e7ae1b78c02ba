// Workstations racing on one PostgreSQL database, each a process of its own.
#include "Errors.h"
#include "PgConnection.h"
#include "PgSchema.h"
#include "PgServer.h"
#include "PgStore.h"
#include "dataset/Aliases.h"
#include "dataset/Table.h"

#include <QProcess>
#include <gtest/gtest.h>
#include <memory>

namespace {

class PgRaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_PG_SERVER(server);
        url = server->newDatabase();
        pg::createDatabase(url);
    }
    // Starts the children together and waits for all; their outputs.
    QStringList race(const std::vector<QStringList>& argsOf) {
        std::vector<std::unique_ptr<QProcess>> children;
        for (const QStringList& args : argsOf) {
            auto p = std::make_unique<QProcess>();
            p->setProcessChannelMode(QProcess::MergedChannels);
            p->start(QStringLiteral(MORV_PG_CHILD), QStringList{url} + args);
            children.push_back(std::move(p));
        }
        QStringList out;
        for (auto& p : children) {
            EXPECT_TRUE(p->waitForFinished(120000));
            out << QString::fromUtf8(p->readAll()).trimmed();
        }
        return out;
    }
    int number(const QString& sql) {
        pg::Result r = pg::Connection(url).exec(sql);
        return int(r.text(0, 0).toDouble()); // numeric(20,4) reads as 900.0000
    }
    QString url;
};

TEST_F(PgRaceTest, ThreeWorkstationsRegisteringAtOnceGiveEveryTesteeANumberOfItsOwn) {
    const QStringList out =
        race({{"register", "1", "300"}, {"register", "1", "300"}, {"register", "1", "300"}});
    EXPECT_EQ(out, QStringList({"ok", "ok", "ok"}));
    EXPECT_EQ(number("SELECT count(*) FROM bd_anket WHERE nomu = 1"), 900);
    EXPECT_EQ(number("SELECT count(DISTINCT nomtestir) FROM bd_anket WHERE nomu = 1"), 900);
    EXPECT_EQ(number("SELECT max(nomtestir) FROM bd_anket WHERE nomu = 1"), 900);
    // Each workstation's rows are all there: none lost another's.
    EXPECT_EQ(number("SELECT count(DISTINCT famtestir) FROM bd_anket"), 3);
    EXPECT_EQ(number("SELECT max(c) FROM (SELECT count(*) c FROM bd_anket GROUP BY famtestir) x"), 300);
}

TEST_F(PgRaceTest, TheSameRunAnsweredOnThreeWorkstationsHasOneRowPerQuestion) {
    const QStringList out = race({{"answer", "7", "150"}, {"answer", "7", "150"}, {"answer", "7", "150"}});
    EXPECT_EQ(out, QStringList({"ok", "ok", "ok"}));
    EXPECT_EQ(number("SELECT count(*) FROM bd_rezult"), 150);
    EXPECT_EQ(number("SELECT count(DISTINCT nomvopr) FROM bd_rezult WHERE nomtestir = 7"), 150);
    EXPECT_EQ(number("SELECT count(*) FROM bd_rezult WHERE otvet IS NULL"), 0); // every click stored
}

TEST_F(PgRaceTest, AnEditHeldOnAnotherWorkstationLocksTheRecordUntilPosted) {
    pg::Connection(url).exec("INSERT INTO bd_anket (nomtestir, nomu, famtestir) VALUES (5, 1, 'Old')");
    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QStringLiteral(MORV_PG_CHILD), {url, "edit", "5", "Theirs", "1500"});
    ASSERT_TRUE(child.waitForReadyRead(20000));
    ASSERT_EQ(QString::fromUtf8(child.readLine()).trimmed(), "editing");

    pg::PgStore::registerScheme();
    db::Aliases::bind("morv", url);
    db::Table anket;
    anket.setDatabaseName("morv");
    anket.setTableName("bd_anket.dbf");
    anket.open();
    try {
        anket.edit();
        FAIL() << "the edit got a record another workstation edits";
    } catch (const db::DatabaseError& e) {
        EXPECT_EQ(e.message(), "Record locked by another user.");
    }
    EXPECT_EQ(anket.state(), db::DataSetState::Browse);
    EXPECT_EQ(anket.fieldByName("FAMTESTIR")->asString(), "Old");
    ASSERT_TRUE(child.waitForFinished(20000));
    EXPECT_EQ(QString::fromUtf8(child.readAll()).trimmed(), "ok");
    // Once posted, the record can be edited, and the edit starts from what the other stored.
    anket.edit();
    EXPECT_EQ(anket.fieldByName("FAMTESTIR")->asString(), "Theirs");
    anket.fieldByName("FAMTESTIR")->setValue(QStringLiteral("Mine"));
    anket.post();
    EXPECT_EQ(pg::Connection(url).exec("SELECT famtestir FROM bd_anket").text(0, 0), "Mine");
    db::Aliases::unbind("morv");
}

} // namespace
