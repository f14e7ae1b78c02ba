// The program's database on a PostgreSQL server: made by morv-db, read by outside readers,
// and what a workstation is told when the server goes away or refuses it.
#include "Errors.h"
#include "PgConnection.h"
#include "PgSchema.h"
#include "PgServer.h"
#include "PgStore.h"
#include "TestDb.h"
#include "dataset/Aliases.h"
#include "dataset/Table.h"
#include "sql/SqlRunner.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

std::string messageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const db::EngineError& e) {
        return e.what();
    }
    return "no error";
}

class PgStoreTest : public PgDatabaseTest {};

TEST_F(PgStoreTest, TheSampleOnTheServerHoldsEveryValueOfTheFolderSampleAsOutsideReadersSeeThem) {
    QTemporaryDir dir;
    QString out;
    ASSERT_EQ(runCommand(MORV_DB_TOOL, {"sample", dir.path(), "--force"}, &out), 0) << out.toStdString();
    ASSERT_EQ(runCommand(MORV_DB_TOOL, {"sample", url}, &out), 0) << out.toStdString();
    // A second sample into the same database is refused, and names what is there.
    EXPECT_EQ(runCommand(MORV_DB_TOOL, {"sample", url}, &out), 1);
    EXPECT_TRUE(out.contains("already holds the program's tables")) << out.toStdString();

    const QStringList tables = {"bd_test",  "bd_sprav",  "bd_vopros", "bd_otvet", "bd_org",
                                "bd_anket", "bd_rezult", "bd_analiz", "bd_summa", "bd_rez"};
    for (const QString& table : tables) {
        const QStringList folder = peerDump(dir.path(), table); // python3-dbfread
        ASSERT_FALSE(folder.isEmpty()) << table.toStdString();
        const QStringList names = QJsonDocument::fromJson(folder[0].toUtf8()).object().keys();
        QStringList columns;
        for (const QString& n : names)
            columns << n.toLower();
        const QStringList server = psqlDump(url, table, columns);
        ASSERT_EQ(server.size(), folder.size()) << table.toStdString();
        for (qsizetype i = 0; i < folder.size(); ++i) {
            QString why;
            ASSERT_TRUE(sameRow(QJsonDocument::fromJson(folder[i].toUtf8()).object(),
                                QJsonDocument::fromJson(server[i].toUtf8()).object(), &why))
                << table.toStdString() << " row " << i + 1 << ": " << why.toStdString();
        }
    }
}

TEST_F(PgStoreTest, MigrationCarriesEveryValueIntoTheServerAndBackIntoANewFolderOrLeavesTheTargetAsItWas) {
    QTemporaryDir work;
    const QString office = work.filePath("office"), back = work.filePath("back");
    QString out;
    ASSERT_EQ(runCommand(MORV_DB_TOOL, {"sample", office}, &out), 0) << out.toStdString();
    ASSERT_EQ(runCommand(MORV_DB_TOOL, {"migrate", office, url}, &out), 0) << out.toStdString();
    ASSERT_EQ(runCommand(MORV_DB_TOOL, {"migrate", url, back}, &out), 0) << out.toStdString();
    // The new folder reads cleanly with an outside reader, its indexes check, and every value of
    // every table is the office's.
    EXPECT_EQ(peerCheck(back, &out), 0) << out.toStdString();
    EXPECT_EQ(runCommand(MORV_DB_TOOL, {"check", back}, &out), 0) << out.toStdString();
    for (const QString table : {"bd_test", "bd_sprav", "bd_vopros", "bd_otvet", "bd_org", "bd_anket",
                                "bd_rezult", "bd_analiz", "bd_summa", "bd_rez"}) {
        const QStringList before = peerDump(office, table);
        ASSERT_FALSE(before.isEmpty()) << table.toStdString();
        EXPECT_EQ(peerDump(back, table), before) << table.toStdString();
    }
    // An existing target is refused and left alone.
    EXPECT_EQ(runCommand(MORV_DB_TOOL, {"migrate", url, back}, &out), 1);
    EXPECT_TRUE(out.contains("exists")) << out.toStdString();
    EXPECT_EQ(runCommand(MORV_DB_TOOL, {"migrate", office, url}, &out), 1);
    EXPECT_TRUE(out.contains("already holds")) << out.toStdString();

    // A folder the server refuses halfway (two institutions with one number) leaves the
    // database without a single table or row of it.
    TestDb broken;
    broken.add("bd_sprav.dbf", {1, 1, QStringLiteral("Школа")});
    broken.add("bd_org.dbf", {7.0, 1, QStringLiteral("Первая")});
    broken.add("bd_org.dbf", {7.0, 1, QStringLiteral("Вторая")});
    const QString fresh = server->newDatabase();
    EXPECT_EQ(runCommand(MORV_DB_TOOL, {"migrate", broken.dir(), fresh}, &out), 1);
    EXPECT_TRUE(out.contains("bd_org")) << out.toStdString();
    EXPECT_TRUE(pg::existingTables(fresh).isEmpty());
}

TEST_F(PgStoreTest, LargeFillsAServerWithTheRowsItPutsInAFolderAndRefusesAFilledOne) {
    const QStringList counts = {"--orgs",    "3",   "--testees", "40", "--tests",    "2", "--questions", "6",
                                "--answers", "150", "--scores",  "30", "--criteria", "3"};
    QTemporaryDir work;
    QString out;
    ASSERT_EQ(runCommand(MORV_DB_TOOL, QStringList{"large", url} + counts, &out), 0) << out.toStdString();
    ASSERT_EQ(runCommand(MORV_DB_TOOL, QStringList{"large", work.filePath("f")} + counts, &out), 0)
        << out.toStdString();
    for (const QString table : {"bd_test", "bd_sprav", "bd_vopros", "bd_otvet", "bd_org", "bd_anket",
                                "bd_rezult", "bd_analiz", "bd_summa", "bd_rez"}) {
        const QStringList folder = peerDump(work.filePath("f"), table);
        const QStringList server = psqlDump(url, table, {"*"});
        EXPECT_EQ(server.size(), folder.size()) << table.toStdString();
        // Row by row the same values, as the outside readers give them.
        for (qsizetype i = 0; i < std::min(server.size(), folder.size()); ++i) {
            QString why;
            const QJsonObject a = QJsonDocument::fromJson(folder[i].toUtf8()).object();
            const QJsonObject b = QJsonDocument::fromJson(server[i].toUtf8()).object();
            ASSERT_TRUE(sameRow(a, b, &why))
                << table.toStdString() << " row " << i << ": " << why.toStdString();
        }
    }
    EXPECT_EQ(psqlDump(url, "bd_rezult", {"id"}).size(), 150);
    EXPECT_EQ(psqlDump(url, "bd_rez", {"id"}).size(), 30);
    EXPECT_EQ(runCommand(MORV_DB_TOOL, QStringList{"large", url} + counts, &out), 1);
    EXPECT_TRUE(out.contains("already holds")) << out.toStdString();
    EXPECT_EQ(psqlDump(url, "bd_rezult", {"id"}).size(), 150);
}

TEST_F(PgStoreTest, MigrationStreamsTextsWithTabsBackslashesAndLineBreaksIntactBothWays) {
    // What the bulk copy's text format must escape: a literal \N would otherwise read as null.
    const QString name = QStringLiteral("Тест\tA\\B \\N");
    const QString memo = QStringLiteral("строка 1\nстрока 2\r\n\tотступ\\N\\\\");
    TestDb office;
    office.add("bd_test.DBF", {1, 7, name, 3, memo});
    office.add("bd_test.DBF", {2, 8, QStringLiteral("\\N"), 0, QString()});
    QString out;
    ASSERT_EQ(runCommand(MORV_DB_TOOL, {"migrate", office.dir(), url}, &out), 0) << out.toStdString();
    const QStringList rows = psqlDump(url, "bd_test", {"ntest", "name", "xarakt"});
    ASSERT_EQ(rows.size(), 2);
    const QJsonObject first = QJsonDocument::fromJson(rows[0].toUtf8()).object();
    EXPECT_EQ(first.value("name").toString(), name);
    EXPECT_EQ(first.value("xarakt").toString(), memo);
    EXPECT_EQ(QJsonDocument::fromJson(rows[1].toUtf8()).object().value("name").toString(), "\\N");
    QTemporaryDir work;
    ASSERT_EQ(runCommand(MORV_DB_TOOL, {"migrate", url, work.filePath("back")}, &out), 0)
        << out.toStdString();
    EXPECT_EQ(peerDump(work.filePath("back"), "bd_test"), peerDump(office.dir(), "bd_test"));
}

TEST_F(PgStoreTest, StatisticsQueriesMeanTheSameOnTheServerAndChangeNothing) {
    QTemporaryDir dir;
    QString out;
    ASSERT_EQ(runCommand(MORV_DB_TOOL, {"sample", dir.path(), "--force"}, &out), 0) << out.toStdString();
    ASSERT_EQ(runCommand(MORV_DB_TOOL, {"sample", url}, &out), 0) << out.toStdString();
    const std::map<QString, db::Variant> params = {{"NT", 1}};
    for (const QString& q :
         {QStringLiteral("select KRIT, count(*), avg(BALL), min(DATA) from bd_rez where NOMTESTA = :NT "
                         "group by KRIT order by KRIT"),
          QStringLiteral("select a.FAMTESTIR, r.BALL from bd_anket a join bd_rez r on "
                         "r.NOMU = a.NOMU and r.NOMTESTIR = a.NOMTESTIR where r.KRIT = 1 "
                         "order by r.BALL, a.FAMTESTIR"),
          QStringLiteral("select upper(substr(NAME, 1, 5)), length(XARAKT) from bd_test order by NTEST")}) {
        const db::sql::ResultSet folder = db::sql::runSelect(dir.path(), q, params);
        const db::sql::ResultSet server = db::sql::runSelect(url, q, params);
        ASSERT_EQ(server.rows.size(), folder.rows.size()) << q.toStdString();
        ASSERT_GT(folder.rows.size(), 0u) << q.toStdString();
        for (size_t r = 0; r < folder.rows.size(); ++r)
            for (int c = 0; c < folder.rows.columnCount(); ++c)
                EXPECT_TRUE(server.rows.value(r, c).sameAs(folder.rows.value(r, c)))
                    << q.toStdString() << " row " << r << " column " << c << ": "
                    << server.rows.value(r, c).toString().toStdString() << " against "
                    << folder.rows.value(r, c).toString().toStdString();
    }
    // The server's own arithmetic agrees with the average the program computes.
    QProcess psql;
    psql.start("psql", {url, "-AtX", "-c", "SELECT round(avg(ball), 6) FROM bd_rez WHERE krit = 2"});
    psql.waitForFinished(30000);
    const double byServer = QString::fromUtf8(psql.readAllStandardOutput()).trimmed().toDouble();
    const double byProgram = db::sql::runSelect(url, "select avg(BALL) from bd_rez where KRIT = 2", {})
                                 .rows.value(0, 0)
                                 .toDouble();
    EXPECT_NEAR(byProgram, byServer, 1e-6);
    // Nothing but reading.
    const std::string m = messageOf([&] { db::sql::runSelect(url, "delete from bd_rez", {}); });
    EXPECT_NE(m, "no error");
    EXPECT_EQ(pg::Connection(url).exec("SELECT count(*) FROM bd_rez").text(0, 0).toInt(),
              db::sql::runSelect(dir.path(), "select count(*) from bd_rez", {}).rows.value(0, 0).toInt());
}

TEST_F(PgStoreTest, AServerRestartedMidRunLosesNoClickAndTheNextActionConnectsAgain) {
    // A server of its own: a restart would break the other tests' connections.
    QString why;
    auto own = PgServer::startPrivate(&why);
    ASSERT_TRUE(own) << why.toStdString();
    url = own->newDatabase();
    pg::createDatabase(url);
    db::Aliases::bind("morv", url);
    db::Table anket;
    anket.setDatabaseName("morv");
    anket.setTableName("bd_anket.dbf");
    anket.open();
    anket.append();
    anket.setFields({1.0, 1.0, QStringLiteral("Иванов")});
    own->restart();
    const std::string m = messageOf([&] { anket.post(); });
    EXPECT_NE(m.find("was lost"), std::string::npos) << m;
    EXPECT_NE(m.find("Nothing of this step was stored"), std::string::npos) << m;
    EXPECT_EQ(anket.state(), db::DataSetState::Insert); // not shown as stored
    anket.post();                                       // the next action connects again
    EXPECT_EQ(anket.state(), db::DataSetState::Browse);
    EXPECT_EQ(pg::Connection(url).exec("SELECT count(*), min(famtestir) FROM bd_anket").text(0, 0), "1");
    anket.refresh();
    EXPECT_EQ(anket.recordCount(), 1);
    EXPECT_EQ(anket.fieldByName("FAMTESTIR")->asString(), QStringLiteral("Иванов"));
}

TEST_F(PgStoreTest, AnAliasNamesTheServerWithoutAPasswordAndTheStartSaysWhatIsWrong) {
    QTemporaryDir cfg;
    qputenv("MORV_ALIASES", cfg.filePath("aliases.ini").toUtf8());
    QString out;
    // A password never goes into the alias file.
    QString withPassword = url;
    withPassword.replace("postgresql://morv@", "postgresql://morv:secret@");
    EXPECT_EQ(runCommand(MORV_DB_TOOL, {"alias", "morv", withPassword}, &out), 2);
    EXPECT_TRUE(out.contains("~/.pgpass")) << out.toStdString();
    EXPECT_FALSE(QFile::exists(cfg.filePath("aliases.ini")));
    // A database without the tables: the alias is written with a warning, the open names the table.
    ASSERT_EQ(runCommand(MORV_DB_TOOL, {"alias", "morv", url}, &out), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("holds no database of the program")) << out.toStdString();
    EXPECT_EQ(QSettings(cfg.filePath("aliases.ini"), QSettings::IniFormat).value("morv/path").toString(),
              url);
    db::Table t;
    t.setDatabaseName("morv");
    t.setTableName("bd_anket.dbf");
    std::string m = messageOf([&] { t.open(); });
    EXPECT_NE(m.find("Table bd_anket not found in the database"), std::string::npos) << m;
    // A login the server refuses.
    QString stranger = url;
    stranger.replace("postgresql://morv@", "postgresql://stranger@");
    db::Aliases::bind("morv", stranger);
    m = messageOf([&] { t.open(); });
    EXPECT_NE(m.find("Cannot connect to the database server"), std::string::npos) << m;
    EXPECT_NE(m.find("stranger"), std::string::npos) << m;
    qunsetenv("MORV_ALIASES");
}

} // namespace
