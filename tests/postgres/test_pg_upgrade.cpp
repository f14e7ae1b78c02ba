// Server databases made by an older program: `morv-db upgrade` adds what they lack in one
// transaction, the start tells of missing change notices, the optional tables reach every role
// the README's setup makes, and a wrong password is told apart on a server that speaks German.
// What is stored is read with psql; the roles are made with psql as the README says.
#include "PgConnection.h"
#include "PgSchema.h"
#include "PgServer.h"
#include "PgStore.h"
#include "TestDb.h"
#include "UiTest.h"
#include "app/ServerLogin.h"
#include "app/Startup.h"
#include "data/DM.h"
#include "dataset/Aliases.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// What makes a database the program's: its indexes, keys and triggers, as the catalogue lists them.
QString schemaOf(const QString& url) {
    return psqlText(url,
                    "SELECT string_agg(x, ' ' ORDER BY x) FROM ("
                    "SELECT indexdef AS x FROM pg_indexes WHERE schemaname = 'public' UNION ALL "
                    "SELECT conrelid::regclass || '.' || conname FROM pg_constraint WHERE "
                    "connamespace = 'public'::regnamespace UNION ALL "
                    "SELECT tgrelid::regclass || '.' || tgname FROM pg_trigger WHERE NOT tgisinternal) s");
}

// Takes a database back to what the program before the change notices made: no triggers, no
// optional tables.
void makeOld(const QString& url) {
    psqlText(url,
             "DROP FUNCTION morv_notify() CASCADE; DROP TABLE IF EXISTS bd_seans, bd_kod, bd_ustr, bd_norm");
    ASSERT_EQ(psqlText(url, "SELECT count(*) FROM pg_trigger WHERE NOT tgisinternal"), "0");
}

int triggers(const QString& url) {
    return psqlText(url,
                    "SELECT count(*) FROM pg_trigger WHERE tgname LIKE '%\\_notify' AND NOT tgisinternal")
        .toInt();
}

class PgUpgradeTest : public PgDatabaseTest {
protected:
    void TearDown() override {
        if (started_) DestroyApplicationForms();
        PgDatabaseTest::TearDown();
        pg::Connection::dropShared();
    }
    int upgrade(QString* out) { return runCommand(MORV_DB_TOOL, {"upgrade", url}, out); }
    bool started_ = false;
};

TEST_F(PgUpgradeTest, AnOldDatabaseGainsWhatANewOneHasAndItsListsThenFollowOtherWorkstations) {
    if (!ready()) return;
    makeSample();
    QString out;
    const QString fresh = server->newDatabase();
    ASSERT_EQ(runCommand(MORV_DB_TOOL, {"create", fresh}, &out), 0) << out.toStdString();
    makeOld(url);
    const int orgs = psqlText(url, "SELECT count(*) FROM bd_org").toInt();

    // The start says once that the lists will not follow by themselves, and how to mend it.
    MessageRecorder messages;
    EXPECT_TRUE(ServerDatabaseReady());
    ASSERT_EQ(messages.entries.size(), 1u);
    EXPECT_TRUE(messages.texts().value(0).contains("morv-db upgrade " + pg::Connection::safeUrl(url)))
        << messages.texts().value(0).toStdString();
    EXPECT_TRUE(ServerDatabaseReady());
    EXPECT_EQ(messages.entries.size(), 1u);

    // So does binding an alias to it.
    QTemporaryDir config;
    const QByteArray aliases = qgetenv("MORV_ALIASES");
    qputenv("MORV_ALIASES", config.filePath("aliases.ini").toUtf8());
    EXPECT_EQ(runCommand(MORV_DB_TOOL, {"alias", "office", url}, &out), 0) << out.toStdString();
    qputenv("MORV_ALIASES", aliases);
    EXPECT_TRUE(out.contains("'morv-db upgrade " + pg::Connection::safeUrl(url) + "'")) << out.toStdString();

    ASSERT_EQ(upgrade(&out), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("change-notice trigger bd_org_notify")) << out.toStdString();
    EXPECT_TRUE(out.contains("table bd_seans (empty) with its indexes and keys")) << out.toStdString();
    EXPECT_EQ(triggers(url), 14); // every table but bd_rezult, optional ones included
    // The same indexes, keys and triggers as a database this version makes, and every row kept.
    EXPECT_EQ(schemaOf(url), schemaOf(fresh));
    EXPECT_EQ(psqlText(url, "SELECT count(*) FROM bd_org").toInt(), orgs);
    ASSERT_EQ(upgrade(&out), 0) << out.toStdString();
    EXPECT_TRUE(out.trimmed().endsWith("nothing to do")) << out.toStdString();
    EXPECT_FALSE(out.contains("added")) << out.toStdString();

    // Another workstation's new institution shows in this one's open list by itself.
    InitApplication();
    CreateApplicationForms();
    started_ = true;
    ASSERT_EQ(BD->Table_org->recordCount(), orgs);
    psqlText(url, "INSERT INTO bd_org (nom_org, tipu, nameu) VALUES (950, 1, 'Из другого кабинета')");
    EXPECT_TRUE(QTest::qWaitFor([&] { return BD->Table_org->recordCount() == orgs + 1; }, 10000))
        << BD->Table_org->recordCount();
    EXPECT_EQ(messages.entries.size(), 1u);
}

TEST_F(PgUpgradeTest, AFailingUpgradeLeavesTheDatabaseAsItWasAndSaysSo) {
    if (!ready()) return;
    QString out;
    ASSERT_EQ(runCommand(MORV_DB_TOOL, {"create", url}, &out), 0) << out.toStdString();
    makeOld(url);
    // Something of the administrator's own stands where the codes table would go.
    psqlText(url, "CREATE VIEW bd_kod AS SELECT 1 AS nomseans");
    const QString before = schemaOf(url);
    EXPECT_EQ(upgrade(&out), 1);
    EXPECT_TRUE(out.contains("was not changed")) << out.toStdString();
    EXPECT_TRUE(out.contains("bd_kod")) << out.toStdString();
    EXPECT_EQ(triggers(url), 0);
    EXPECT_EQ(psqlText(url, "SELECT count(*) FROM pg_class WHERE relname IN ('bd_seans', 'bd_norm')"), "0");
    EXPECT_EQ(psqlText(url, "SELECT nomseans FROM bd_kod"), "1");
    EXPECT_EQ(schemaOf(url), before);

    // Numbers a unique key would refuse: the key is not added, and neither is anything else.
    psqlText(url, "DROP VIEW bd_kod; ALTER TABLE bd_org DROP CONSTRAINT bd_org_unique1; "
                  "INSERT INTO bd_org (nom_org, nameu) VALUES (3, 'Одна'), (3, 'Другая')");
    EXPECT_EQ(upgrade(&out), 1);
    EXPECT_TRUE(out.contains("bd_org_unique1")) << out.toStdString();
    EXPECT_EQ(triggers(url), 0);
    EXPECT_EQ(psqlText(url, "SELECT count(*) FROM bd_org WHERE nom_org = 3"), "2");

    // A database without the program's tables is sent to create.
    const QString empty = server->newDatabase();
    EXPECT_EQ(runCommand(MORV_DB_TOOL, {"upgrade", empty}, &out), 1);
    EXPECT_TRUE(out.contains("morv-db create")) << out.toStdString();
    EXPECT_EQ(psqlText(empty, "SELECT count(*) FROM pg_class WHERE relnamespace = 'public'::regnamespace"),
              "0");
}

// The README's roles: a group for the psychologists with two of them, and a read-only group
// with one reader. Roles belong to the whole server: their names are this test's own.
class PgRolesTest : public PgDatabaseTest {
protected:
    void SetUp() override {
        PgDatabaseTest::SetUp();
        if (!ready()) return;
        const QString k = QUuid::createUuid().toString(QUuid::Id128).left(8);
        group = "psychologists_" + k, ivanova = "ivanova_" + k, petrova = "petrova_" + k;
        readers = "readers_" + k, reader = "reader_" + k, db = "office_" + k;
        const QString admin = server->adminUrl();
        for (const QString& sql : {QStringLiteral("CREATE ROLE %1 NOLOGIN").arg(group),
                                   QStringLiteral("CREATE ROLE %1 LOGIN IN ROLE %2").arg(ivanova, group),
                                   QStringLiteral("CREATE ROLE %1 LOGIN IN ROLE %2").arg(petrova, group),
                                   QStringLiteral("CREATE ROLE %1 NOLOGIN").arg(readers),
                                   QStringLiteral("CREATE ROLE %1 LOGIN IN ROLE %2").arg(reader, readers),
                                   QStringLiteral("CREATE DATABASE %1 OWNER %2").arg(db, group)})
            ASSERT_EQ(runCommand("psql", {admin, "-v", "ON_ERROR_STOP=1", "-c", sql}), 0)
                << sql.toStdString();
    }
    void TearDown() override {
        PgDatabaseTest::TearDown();
        pg::Connection::dropShared();
    }
    QString as(const QString& role) const {
        return QString(url).replace(QRegularExpression("postgresql://morv@/[^?]+"),
                                    QStringLiteral("postgresql://%1@/%2").arg(role, db));
    }
    // The README's grants, run by whoever owns the tables.
    void grant(const QString& by) {
        const QString sql =
            QStringLiteral("GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA public TO "
                           "%1; GRANT USAGE ON ALL SEQUENCES IN SCHEMA public TO %1; GRANT "
                           "SELECT ON ALL TABLES IN SCHEMA public TO %2;")
                .arg(group, readers);
        ASSERT_EQ(runCommand("psql", {as(by), "-v", "ON_ERROR_STOP=1", "-c", sql}), 0);
    }
    // What a role may do with a table: psql's exit status for a write and a read.
    bool writes(const QString& role, const QString& sql) {
        return runCommand("psql", {as(role), "-v", "ON_ERROR_STOP=1", "-c", sql}) == 0;
    }
    // The optional tables as a workstation makes them on first use, in a process of its own.
    void firstUse(const QString& role) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(MORV_PG_CHILD), {as(role), "tables", "0", "0"});
        ASSERT_TRUE(p.waitForFinished(60000));
        ASSERT_EQ(QString::fromUtf8(p.readAll()).trimmed(), "ok");
    }
    QString owners() {
        return psqlText(as(ivanova),
                        "SELECT string_agg(DISTINCT pg_get_userbyid(relowner), ' ') FROM pg_class "
                        "WHERE relname IN ('bd_seans', 'bd_kod', 'bd_norm')");
    }
    void expectEveryRoleReaches() {
        EXPECT_TRUE(writes(ivanova, "INSERT INTO bd_seans (nomseans, nomtesta) VALUES (1, 1)"));
        EXPECT_TRUE(writes(petrova, "INSERT INTO bd_seans (nomseans, nomtesta) VALUES (2, 1)"));
        EXPECT_TRUE(
            writes(petrova, "INSERT INTO bd_kod (nomseans, nomu, nomtestir, kod) VALUES (2, 1, 1, 'AB')"));
        EXPECT_TRUE(writes(ivanova, "UPDATE bd_kod SET kod = 'CD'"));
        EXPECT_TRUE(writes(ivanova, "INSERT INTO bd_norm (nomtesta, krit) VALUES (1, 1)"));
        EXPECT_EQ(psqlText(as(reader), "SELECT count(*) FROM bd_seans"), "2");
        EXPECT_EQ(psqlText(as(reader), "SELECT kod FROM bd_kod"), "CD");
        EXPECT_FALSE(writes(reader, "INSERT INTO bd_norm (nomtesta, krit) VALUES (2, 2)"));
        EXPECT_FALSE(writes(reader, "DELETE FROM bd_seans"));
        EXPECT_EQ(psqlText(as(ivanova), "SELECT count(*) FROM bd_seans"), "2");
    }
    QString group, ivanova, petrova, readers, reader, db;
};

TEST_F(PgRolesTest, TablesMadeOnFirstUseInAnOldDatabaseReachTheRolesTheTenAreGrantedTo) {
    if (!ready()) return;
    pg::createDatabase(as(ivanova));
    makeOld(as(ivanova));
    grant(ivanova);
    firstUse(petrova);
    EXPECT_EQ(owners(), petrova);
    expectEveryRoleReaches();
}

TEST_F(PgRolesTest, ANewDatabaseHoldsAllItsTablesSoFirstUseMakesNothing) {
    if (!ready()) return;
    QString out;
    ASSERT_EQ(runCommand(MORV_DB_TOOL, {"create", as(ivanova)}, &out), 0) << out.toStdString();
    grant(ivanova);
    firstUse(petrova);
    EXPECT_EQ(owners(), ivanova);
    expectEveryRoleReaches();
}

TEST_F(PgRolesTest, UpgradeGrantsTheOptionalTablesOrNamesTheRoleThatMust) {
    if (!ready()) return;
    pg::createDatabase(as(ivanova));
    makeOld(as(ivanova));
    grant(ivanova);
    // As an older program made them on petrova's first use: hers alone, with no grants.
    firstUse(petrova);
    ASSERT_TRUE(writes(petrova, QStringLiteral("REVOKE ALL ON bd_seans, bd_kod, bd_norm, bd_seans_id_seq, "
                                               "bd_kod_id_seq, bd_norm_id_seq FROM %1, %2, %3")
                                    .arg(ivanova, group, readers)));
    EXPECT_FALSE(writes(ivanova, "INSERT INTO bd_seans (nomseans) VALUES (1)"));
    QString out;
    ASSERT_EQ(runCommand(MORV_DB_TOOL, {"upgrade", as(ivanova)}, &out), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("warning: bd_seans belongs to the role " + petrova)) << out.toStdString();
    // Her first use made the optional tables with their change notices: every table has one.
    EXPECT_EQ(triggers(as(ivanova)), 14);
    ASSERT_EQ(runCommand(MORV_DB_TOOL, {"upgrade", as(petrova)}, &out), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("granted " + group)) << out.toStdString();
    expectEveryRoleReaches();
    ASSERT_EQ(runCommand(MORV_DB_TOOL, {"upgrade", as(petrova)}, &out), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("nothing to do")) << out.toStdString();
}

// A server that asks for passwords over TCP and answers in German where it can.
TEST(PgPasswordLanguage, AWrongPasswordIsAskedAgainWhateverTheServerSpeaks) {
    REQUIRE_PG_SERVER(shared);
    (void)shared;
    pg::setPasswordPrompt({});
    QString why;
    auto own = PgServer::startWithTcp(&why, QStringLiteral("de"));
    ASSERT_TRUE(own) << why.toStdString();
    psqlText(own->adminUrl(), "CREATE ROLE ivanova LOGIN PASSWORD 'Eule-42'");
    psqlText(own->adminUrl(), "CREATE DATABASE office OWNER ivanova");
    const QString url = QStringLiteral("postgresql://ivanova@127.0.0.1:%1/office").arg(own->port());
    QTemporaryDir home;
    QFile(home.filePath("pgpass")).open(QIODevice::WriteOnly); // not the developer's own
    qputenv("PGPASSFILE", home.filePath("pgpass").toUtf8());

    // Without a prompt: refused, in the server's language.
    try {
        pg::Connection(url + "?password=falsch");
        ADD_FAILURE() << "a wrong password let us in";
    } catch (const pg::ConnectError& e) {
        EXPECT_EQ(e.kind(), pg::ConnectError::Kind::Refused);
        EXPECT_FALSE(e.detail().contains("28P01")) << e.detail().toStdString();
        if (!e.detail().contains("Passwort")) {
            qunsetenv("PGPASSFILE");
            GTEST_SKIP() << "the server has no German messages here: " << e.detail().toStdString();
        }
    }

    MessageRecorder messages;
    InstallServerPasswordPrompt();
    int asked = 0;
    whenModal([&](QWidget* w) {
        ++asked;
        EXPECT_TRUE(child<QLabel>(w, "LabelProblem")->text().isEmpty());
        typeText(child<QLineEdit>(w, "EditPassword"), QStringLiteral("eule-42"));
        whenModal([&](QWidget* again) {
            ++asked;
            EXPECT_EQ(child<QLabel>(again, "LabelProblem")->text(),
                      QStringLiteral("Сервер не принял пароль. Введите его ещё раз."));
            typeText(child<QLineEdit>(again, "EditPassword"), QStringLiteral("Eule-42"));
            clickButton(again, "OKBtn");
        });
        clickButton(w, "OKBtn");
    });
    EXPECT_NO_THROW(pg::Connection{url});
    EXPECT_EQ(asked, 2);

    // The right password for a database the server lacks: a refusal, not a question again.
    ForgetServerPasswords();
    asked = 0;
    whenModal([&](QWidget* w) {
        ++asked;
        typeText(child<QLineEdit>(w, "EditPassword"), QStringLiteral("Eule-42"));
        clickButton(w, "OKBtn");
    });
    try {
        pg::Connection(QStringLiteral("postgresql://ivanova@127.0.0.1:%1/nirgends").arg(own->port()));
        ADD_FAILURE() << "connected to a database that is not there";
    } catch (const pg::ConnectError& e) {
        EXPECT_EQ(e.kind(), pg::ConnectError::Kind::Refused);
        EXPECT_TRUE(e.detail().contains("nirgends")) << e.detail().toStdString();
    }
    EXPECT_EQ(asked, 1);
    pg::setPasswordPrompt({});
    ForgetServerPasswords();
    qunsetenv("PGPASSFILE");
}

// A server that takes the connection and never answers: connect_timeout still ends the wait, as
// with libpq's own blocking connect.
TEST(PgConnectTimeout, AServerThatNeverAnswersIsGivenUpAfterTheTimeoutAsUnreachable) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len), 0);
    ASSERT_EQ(::listen(fd, 4), 0); // never accepted: the client's hello goes unanswered
    const QString url = QStringLiteral("postgresql://x@127.0.0.1:%1/db?connect_timeout=2&sslmode=disable")
                            .arg(ntohs(a.sin_port));
    try {
        pg::Connection c(url);
        ADD_FAILURE() << "connected to a socket that never answers";
    } catch (const pg::ConnectError& e) {
        EXPECT_EQ(e.kind(), pg::ConnectError::Kind::Unreachable) << e.detail().toStdString();
        EXPECT_TRUE(e.detail().contains("connect_timeout")) << e.detail().toStdString();
    }
    ::close(fd);
}

} // namespace
