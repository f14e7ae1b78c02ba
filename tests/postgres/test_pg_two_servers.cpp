// Two `morv-db serve` processes on one server database, and a browser whose requests alternate
// between them: the takeover and the close are decided in the database.
#include "PgServer.h"
#include "TestDb.h"
#include "web/Takeover.h"

#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

class PgTwoServers : public PgDatabaseTest {
protected:
    void SetUp() override {
        PgDatabaseTest::SetUp();
        if (ready()) makeSample();
    }
};

uint16_t serve(QProcess& p, const QString& url) {
    p.start(QStringLiteral(MORV_DB_TOOL), {"serve", url, "--listen", "127.0.0.1:0"});
    if (!p.waitForReadyRead(30000)) return 0;
    return uint16_t(
        QRegularExpression(":(\\d+)/").match(QString::fromUtf8(p.readLine())).captured(1).toUInt());
}

} // namespace

TEST_F(PgTwoServers, TakeoverAndCloseHoldWhicheverServerAClickReaches) {
    if (!ready()) return;
    QString out;
    ASSERT_EQ(
        runCommand(MORV_DB_TOOL, {"session", url, "--test", "1", "--org", "1", "--testees", "1,2"}, &out), 0)
        << out.toStdString();
    const QString session = QRegularExpression("session (\\d+)").match(out).captured(1);
    const std::string code = QRegularExpression("^1 (\\w{6})$", QRegularExpression::MultilineOption)
                                 .match(out)
                                 .captured(1)
                                 .toStdString();
    ASSERT_EQ(code.size(), 6u) << out.toStdString();
    QProcess one, two;
    const uint16_t a = serve(one, url), b = serve(two, url);
    ASSERT_NE(a, 0);
    ASSERT_NE(b, 0);
    takeoverAndClose(
        a, b, code,
        [&](int q) {
            const QString v =
                psqlText(url, QStringLiteral("SELECT coalesce(otvet::int, -1) FROM bd_rezult WHERE "
                                             "nomu = 1 AND nomtestir = 1 AND nomtesta = 1 AND nomvopr = %1")
                                  .arg(q));
            return v.isEmpty() ? -2 : v.toInt();
        },
        [&] {
            QString said;
            ASSERT_EQ(runCommand(MORV_DB_TOOL, {"session", url, "--close", session}, &said), 0)
                << said.toStdString();
        });
    for (QProcess* p : {&one, &two}) {
        p->terminate();
        p->waitForFinished(10000);
    }
}
