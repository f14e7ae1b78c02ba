// The administrator's commands on a server database: erasure by command, a database that lost
// one table, change notices on every table but the answers, and what a migration carries and
// leaves behind. What is stored is read with psql, a folder's tables with an outside reader.
#include "PgConnection.h"
#include "PgServer.h"
#include "TestDb.h"
#include "dbf/DbfFile.h"

#include <QDir>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

int morvDb(const QStringList& args, QString* out) {
    return runCommand(QStringLiteral(MORV_DB_TOOL), args, out);
}

int count(const QString& url, const QString& sql) {
    return psqlText(url, sql).toInt();
}

class PgAdminTest : public PgDatabaseTest {};

TEST_F(PgAdminTest, EraseByCommandRemovesEveryRowOfTheTesteeAndOnlyThose) {
    if (!ready()) return;
    makeSample();
    QString out;
    // A browser code of the testee too: every table with both numbers holds the person.
    ASSERT_EQ(morvDb({"session", url, "--test", "1", "--org", "1", "--testees", "all"}, &out), 0)
        << out.toStdString();
    const QString of2 = "WHERE nomu = 1 AND nomtestir = 2";
    ASSERT_GT(count(url, "SELECT count(*) FROM bd_rezult " + of2), 0);
    ASSERT_EQ(count(url, "SELECT count(*) FROM bd_kod " + of2), 1);
    int others = 0;
    for (const char* t : {"bd_anket", "bd_rezult", "bd_rez", "bd_kod"})
        others += count(url, QStringLiteral("SELECT count(*) FROM %1 WHERE NOT (nomu = 1 AND nomtestir = 2)")
                                 .arg(QLatin1String(t)));

    ASSERT_EQ(morvDb({"erase", url, "--org", "1", "--testee", "2"}, &out), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("Erased institution 1 testee 2")) << out.toStdString();
    EXPECT_TRUE(out.contains("bd_anket 1")) << out.toStdString();
    int left = 0;
    for (const char* t : {"bd_anket", "bd_rezult", "bd_rez", "bd_kod"}) {
        EXPECT_EQ(count(url, QStringLiteral("SELECT count(*) FROM %1 ").arg(QLatin1String(t)) + of2), 0) << t;
        left += count(url, QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(t)));
    }
    EXPECT_EQ(left, others) << "rows of other testees went too";
    // Nobody left to erase: said so, with the failure status, as in a folder.
    EXPECT_EQ(morvDb({"erase", url, "--org", "1", "--testee", "2"}, &out), 1);
    EXPECT_TRUE(out.contains("nothing erased")) << out.toStdString();
}

TEST_F(PgAdminTest, ADatabaseThatLostOneTableIsNamedWithTheRemedyThatKeepsTheOthersRows) {
    if (!ready()) return;
    makeSample();
    psqlText(url, "DROP TABLE bd_summa");
    const int orgs = count(url, "SELECT count(*) FROM bd_org");
    QString out;
    const std::vector<QStringList> commands = {
        {"serve", url, "--listen", "127.0.0.1:0"},
        {"session", url, "--test", "1", "--org", "1", "--testees", "all"},
        {"create", url}};
    for (const QStringList& command : commands) {
        EXPECT_EQ(morvDb(command, &out), 1) << command[0].toStdString();
        EXPECT_TRUE(out.contains("lacks the program's table bd_summa")) << out.toStdString();
        EXPECT_TRUE(out.contains("'morv-db upgrade " + pg::Connection::safeUrl(url) + "'"))
            << out.toStdString();
        EXPECT_FALSE(out.contains("run 'morv-db create")) << out.toStdString();
    }
    EXPECT_EQ(count(url, "SELECT count(*) FROM bd_org"), orgs) << "a refused create changed the tables";

    ASSERT_EQ(morvDb({"upgrade", url}, &out), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("added table bd_summa (empty)")) << out.toStdString();
    EXPECT_EQ(count(url, "SELECT count(*) FROM bd_org"), orgs);
    EXPECT_EQ(count(url, "SELECT count(*) FROM pg_trigger WHERE tgname = 'bd_summa_notify'"), 1);
    EXPECT_EQ(morvDb({"session", url, "--test", "1", "--org", "1", "--testees", "all"}, &out), 0)
        << out.toStdString();
}

TEST_F(PgAdminTest, EveryTableButTheAnswersTellsOfItsChangesHoweverTheDatabaseWasMade) {
    if (!ready()) return;
    const QString notices =
        "SELECT string_agg(tgrelid::regclass::text, ',' ORDER BY tgrelid::regclass::text) FROM pg_trigger "
        "WHERE tgname LIKE '%\\_notify' AND NOT tgisinternal";
    const QString all =
        "bd_analiz,bd_anket,bd_irt,bd_kod,bd_norm,bd_org,bd_otvet,bd_rez,bd_seans,bd_sprav,bd_summa,"
        "bd_test,bd_ustr,bd_vopros";
    QString out;
    ASSERT_EQ(morvDb({"create", url}, &out), 0) << out.toStdString();
    EXPECT_EQ(psqlText(url, notices), all);
    const QString sampled = server->newDatabase();
    ASSERT_EQ(morvDb({"sample", sampled}, &out), 0) << out.toStdString();
    EXPECT_EQ(psqlText(sampled, notices), all);
    QTemporaryDir work;
    ASSERT_EQ(morvDb({"sample", work.filePath("office")}, &out), 0) << out.toStdString();
    const QString migrated = server->newDatabase();
    ASSERT_EQ(morvDb({"migrate", work.filePath("office"), migrated}, &out), 0) << out.toStdString();
    EXPECT_EQ(psqlText(migrated, notices), all);

    // A database made before: upgrade adds the three, and a change of a session is announced.
    psqlText(url, "DROP TRIGGER bd_seans_notify ON bd_seans; DROP TRIGGER bd_kod_notify ON bd_kod; "
                  "DROP TRIGGER bd_norm_notify ON bd_norm");
    ASSERT_EQ(morvDb({"upgrade", url}, &out), 0) << out.toStdString();
    for (const char* t : {"bd_seans", "bd_kod", "bd_norm"})
        EXPECT_TRUE(out.contains(QStringLiteral("change-notice trigger %1_notify").arg(QLatin1String(t))))
            << out.toStdString();
    EXPECT_EQ(psqlText(url, notices), all);
    ASSERT_EQ(morvDb({"upgrade", url}, &out), 0) << out.toStdString();
    EXPECT_TRUE(out.trimmed().endsWith("nothing to do")) << out.toStdString();
}

// Every row of table in dir and on the server, compared value by value by outside readers.
void expectSameOnServer(const QString& dir, const QString& url, const QString& table) {
    const QStringList folder = peerDump(dir, table);
    ASSERT_FALSE(folder.isEmpty()) << table.toStdString();
    QStringList columns;
    for (const QString& n : QJsonDocument::fromJson(folder[0].toUtf8()).object().keys())
        columns << n.toLower();
    const QStringList server = psqlDump(url, table, columns);
    ASSERT_EQ(server.size(), folder.size()) << table.toStdString();
    for (qsizetype i = 0; i < folder.size(); ++i) {
        QString why;
        EXPECT_TRUE(sameRow(QJsonDocument::fromJson(folder[i].toUtf8()).object(),
                            QJsonDocument::fromJson(server[i].toUtf8()).object(), &why))
            << table.toStdString() << " row " << i + 1 << ": " << why.toStdString();
    }
}

TEST_F(PgAdminTest, TheStatisticsTableGoesBothWaysAndTablesLeftBehindAreNamed) {
    if (!ready()) return;
    QTemporaryDir work;
    const QString office = work.filePath("office"), back = work.filePath("back");
    QString out;
    ASSERT_EQ(morvDb({"sample", office}, &out), 0) << out.toStdString();
    dbf::DbfFile::create(QDir(office).filePath("notes.dbf").toStdString(), {{"TEXT", 'C', 20, 0}});

    ASSERT_EQ(morvDb({"migrate", office, url}, &out), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("left behind")) << out.toStdString();
    EXPECT_TRUE(out.contains("notes.dbf")) << out.toStdString();
    EXPECT_FALSE(out.contains("bd_stat.dbf")) << out.toStdString();
    EXPECT_EQ(count(url, "SELECT count(*) FROM bd_stat"), 30);
    expectSameOnServer(office, url, "bd_stat");

    psqlText(url, "CREATE TABLE notes_server (x int)");
    ASSERT_EQ(morvDb({"migrate", url, back}, &out), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("notes_server")) << out.toStdString();
    ASSERT_TRUE(QFileInfo::exists(QDir(back).filePath("bd_stat.dbf")));
    EXPECT_EQ(peerDump(back, "bd_stat"), peerDump(office, "bd_stat"));
    EXPECT_EQ(peerCheck(back, &out), 0) << out.toStdString();

    // A server that holds a bd_stat of its own keeps it unless the copy is forced.
    const QString other = server->newDatabase();
    psqlText(other, "CREATE TABLE bd_stat (id serial PRIMARY KEY, nom numeric(6,0))");
    EXPECT_EQ(morvDb({"migrate", office, other}, &out), 1);
    EXPECT_TRUE(out.contains("bd_stat")) << out.toStdString();
    EXPECT_EQ(count(other, "SELECT count(*) FROM information_schema.tables WHERE table_name = 'bd_org'"), 0);
    ASSERT_EQ(morvDb({"migrate", office, other, "--force"}, &out), 0) << out.toStdString();
    EXPECT_EQ(count(other, "SELECT count(*) FROM bd_stat"), 30);
}

} // namespace
