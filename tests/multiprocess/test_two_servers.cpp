// Two `morv-db serve` processes on one folder, and a browser whose requests alternate between
// them (directly, and through haproxy): the takeover, the close and the device that answers a
// run are the database's, not one server's. And a close by `morv-db session --close` counts at
// the next click, on either server.
#include "TestDb.h"
#include "dataset/Table.h"
#include "web/Takeover.h"
#include "web/WebClient.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <map>
#include <memory>

namespace {

int morvDb(const QStringList& args, QString* out) {
    return runCommand(QStringLiteral(MORV_DB_TOOL), args, out);
}

// A server of its own on 127.0.0.1, with the port it took.
struct Serve {
    QProcess process;
    uint16_t port = 0;
    explicit Serve(const QString& database) {
        process.start(QStringLiteral(MORV_DB_TOOL), {"serve", database, "--listen", "127.0.0.1:0"});
        if (!process.waitForReadyRead(30000)) return;
        port = uint16_t(
            QRegularExpression(":(\\d+)/").match(QString::fromUtf8(process.readLine())).captured(1).toUInt());
    }
    ~Serve() {
        process.terminate();
        process.waitForFinished(10000);
    }
};

// The stored choice of a question of testee's run of test 1 in institution 1; -2 for no row.
int stored(const QString& dir, int testee, int question) {
    db::Table t;
    t.setTableName(dir + "/bd_rezult.dbf");
    t.open();
    int found = -2, rows = 0;
    for (t.first(); !t.eof(); t.next())
        if (t.fieldValue("NOMU").toInt() == 1 && t.fieldValue("NOMTESTIR").toInt() == testee &&
            t.fieldValue("NOMTESTA").toInt() == 1 && t.fieldValue("NOMVOPR").toInt() == question) {
            const db::Variant v = t.fieldValue("OTVET");
            found = v.isNull() ? -1 : int(v.toInt());
            ++rows;
        }
    EXPECT_LE(rows, 1) << "testee " << testee << " question " << question;
    return found;
}

class TwoServers : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::map<int, std::string> codes;
    int session = 0;

    void SetUp() override {
        QString out;
        ASSERT_EQ(morvDb({"sample", dir.path()}, &out), 0) << out.toStdString();
        ASSERT_EQ(morvDb({"session", dir.path(), "--test", "1", "--org", "1", "--testees", "1,2"}, &out), 0)
            << out.toStdString();
        session = QRegularExpression("session (\\d+)").match(out).captured(1).toInt();
        for (const auto& m :
             QRegularExpression("^(\\d+) (\\w{6})$", QRegularExpression::MultilineOption).globalMatch(out))
            codes[m.captured(1).toInt()] = m.captured(2).toStdString();
        ASSERT_EQ(codes.size(), 2u) << out.toStdString();
    }

    void takeoverAndClose(uint16_t a, uint16_t b) {
        ::takeoverAndClose(
            a, b, codes[1], [&](int q) { return stored(dir.path(), 1, q); },
            [&] {
                QString out;
                ASSERT_EQ(morvDb({"session", dir.path(), "--close", QString::number(session)}, &out), 0)
                    << out.toStdString();
            });
    }
};

} // namespace

TEST_F(TwoServers, TakeoverAndCloseHoldWhicheverServerAClickReaches) {
    Serve one(dir.path()), two(dir.path());
    ASSERT_NE(one.port, 0);
    ASSERT_NE(two.port, 0);
    takeoverAndClose(one.port, two.port);
}

TEST_F(TwoServers, ARegistrationFormSentTwiceThroughBothServersRegistersOnce) {
    QString out;
    ASSERT_EQ(morvDb({"session", dir.path(), "--test", "1", "--org", "1", "--group"}, &out), 0);
    const std::string group = QRegularExpression("group (\\w+)").match(out).captured(1).toStdString();
    Serve one(dir.path()), two(dir.path());
    WebClient b(one.port, false);
    b.alternate(two.port);
    b.get("/");
    ASSERT_EQ(b.post("/code", {{"t", b.token()}, {"kod", group}}).status, 200);
    const std::string form = b.token(), cookie = b.cookies()["mv"];
    const std::map<std::string, std::string> fields{{"t", form}, {"fam", "Дубль"}, {"nam", "Ян"}};
    EXPECT_EQ(b.post("/register", fields).status, 200); // through server two
    WebClient again(one.port, false);
    again.cookies()["mv"] = cookie;
    EXPECT_EQ(again.post("/register", fields).status, 409) << "server one finds the first";
    db::Table anket;
    anket.setTableName(dir.filePath("bd_anket.dbf"));
    anket.open();
    int made = 0;
    for (anket.first(); !anket.eof(); anket.next())
        made += anket.fieldValue("FAMTESTIR").toString().trimmed() == QStringLiteral("Дубль");
    EXPECT_EQ(made, 1);
}

TEST_F(TwoServers, TakeoverAndCloseHoldBehindABalancer) {
    const QString haproxy = QStandardPaths::findExecutable(QStringLiteral("haproxy"));
    if (haproxy.isEmpty()) {
        if (qEnvironmentVariable("CI") == QLatin1String("true")) FAIL() << "haproxy is not installed";
        GTEST_SKIP() << "no haproxy (scripts/deps.sh installs it)";
    }
    Serve one(dir.path()), two(dir.path());
    ASSERT_NE(one.port, 0);
    ASSERT_NE(two.port, 0);
    QTcpServer probe; // a free port for the balancer
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const uint16_t port = probe.serverPort();
    probe.close();
    QFile config(dir.filePath("haproxy.cfg"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    // Each request comes on a connection of its own, so round robin alternates the servers.
    config.write(QStringLiteral("defaults\n  mode http\n  timeout connect 5s\n  timeout client 30s\n"
                                "  timeout server 30s\nfrontend front\n  bind 127.0.0.1:%1\n"
                                "  default_backend class\nbackend class\n  balance roundrobin\n"
                                "  server one 127.0.0.1:%2\n  server two 127.0.0.1:%3\n")
                     .arg(port)
                     .arg(one.port)
                     .arg(two.port)
                     .toUtf8());
    config.close();
    QProcess balancer;
    balancer.setProcessChannelMode(QProcess::MergedChannels);
    balancer.start(haproxy, {"-db", "-f", config.fileName()});
    ASSERT_TRUE(balancer.waitForStarted(10000));
    HttpReply up;
    for (int i = 0; i < 100 && up.status != 200; ++i) {
        QThread::msleep(50);
        up = rawExchange(port, "GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 2000, false);
    }
    ASSERT_EQ(up.status, 200) << balancer.readAll().toStdString();
    takeoverAndClose(port, port);
    balancer.terminate();
    balancer.waitForFinished(10000);
}
