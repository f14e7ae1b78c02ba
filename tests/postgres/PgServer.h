#pragma once
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>
#include <memory>

// A throwaway PostgreSQL server shared by the tests of one program: started on first use in a
// temporary folder (as nobody when run as root), reached through a Unix socket only, stopped at
// exit. Every test gets a database of its own.
class PgServer {
public:
    // The server, or null when none can be started here (why says why).
    static PgServer* get(QString* why = nullptr);
    // A server of the caller's own, stopped when dropped: for a test that restarts it.
    struct Stop {
        void operator()(PgServer* s) const;
    };
    static std::unique_ptr<PgServer, Stop> startPrivate(QString* why = nullptr);
    // One that also listens on 127.0.0.1 at a free port, where a login needs its password
    // (scram-sha-256); the socket stays open to the superuser without one. With a language
    // ("de"), the server speaks it where it has the translations.
    static std::unique_ptr<PgServer, Stop> startWithTcp(QString* why = nullptr, const QString& language = {});
    int port() const { return port_; }
    // A new empty database; its URL.
    QString newDatabase();
    // The URL of the server's maintenance database.
    QString adminUrl() const;
    // Stops and starts the server again: connections of every client break.
    void restart();
    // Kills the server without a shutdown and starts it again, as after a power cut.
    void crash();
    // Stops the server as an administrator would (pg_ctl stop -m fast), and starts it again.
    void halt();
    void resume();
    const QString& socketDir() const { return dir_; }
    bool ownsServer() const { return own_; }

private:
    static void startOwn();
    static PgServer* start(QString& why, int port = 0, const QString& language = {});
    QString dir_;
    int port_ = 0; // 0: the socket only
    QString portParam() const;
    bool own_ = true;
    int databases_ = 0;
};

// What psql prints for a query, one line a row (-At).
QString psqlText(const QString& url, const QString& sql);

// One table's rows as psql prints them, one JSON object a line, in stored order.
QStringList psqlDump(const QString& url, const QString& table, const QStringList& columns);
// Two readers' rows are the same values: names whatever their case, numbers by value, an empty
// memo whether the reader says null or "".
bool sameRow(const QJsonObject& a, const QJsonObject& b, QString* why);

// Skips the test when no server can be started, but fails it in CI (CI=true), where the server
// must run.
#define REQUIRE_PG_SERVER(server)                                                                            \
    QString pgWhy_;                                                                                          \
    PgServer* server = PgServer::get(&pgWhy_);                                                               \
    if (!server) {                                                                                           \
        if (qEnvironmentVariable("CI") == QLatin1String("true"))                                             \
            FAIL() << "no PostgreSQL server could be started: " << pgWhy_.toStdString();                     \
        GTEST_SKIP() << "no PostgreSQL server could be started: " << pgWhy_.toStdString();                   \
    }

// A test on a new database of the throwaway server; the alias morv is unbound afterwards.
class PgDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // False when SetUp skipped or failed: a fixture's own SetUp then stops.
    bool ready() const { return !IsSkipped() && !HasFailure(); }
    // The demonstration database on the server, bound to the alias morv.
    void makeSample();
    PgServer* server = nullptr;
    QString url;
};
