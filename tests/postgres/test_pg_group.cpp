// A group session on a database on a PostgreSQL server: the window and `morv-db serve` with real
// HTTP clients answering at once, every answer row read back with psql.
#include "PgConnection.h"
#include "PgServer.h"
#include "PgStore.h"
#include "TestDb.h"
#include "UiTest.h"
#include "dataset/Aliases.h"
#include "group/GroupSession.h"
#include "web/TestServer.h"
#include "web/WebClient.h"

#include <QCheckBox>
#include <QComboBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTest>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

class PgGroupTest : public PgDatabaseTest {
protected:
    void SetUp() override {
        PgDatabaseTest::SetUp();
        if (ready()) makeSample();
    }

    // Three browsers register with the group code and answer every question at once, while
    // wait keeps this thread's events going (a server of this process answers through them).
    void answerAtOnce(uint16_t port, const std::string& group, const std::function<void(bool&)>& wait) {
        std::atomic<int> done{0};
        for (int i = 0; i < kBrowsers; ++i)
            browsers.emplace_back([&, i] {
                faults[size_t(i)] = browserRun(port, group, "Сервер" + std::to_string(i), i,
                                               chosen[size_t(i)], options[size_t(i)]);
                ++done;
            });
        bool finished = false;
        while (!finished) {
            wait(finished);
            finished = finished || done == kBrowsers;
        }
        for (std::thread& t : browsers)
            t.join();
        for (int i = 0; i < kBrowsers; ++i)
            EXPECT_EQ(faults[size_t(i)], "") << "browser " << i;
    }
    // Each browser's testee has one answer row per question, holding its choice, as psql reads it.
    void expectOneRowPerQuestion(int test) {
        for (int i = 0; i < kBrowsers; ++i) {
            const QString testee = psqlText(
                url,
                QStringLiteral("SELECT nomtestir::int FROM bd_anket WHERE famtestir = 'Сервер%1'").arg(i));
            ASSERT_FALSE(testee.isEmpty() || testee.contains('\n'))
                << "browser " << i << ": " << testee.toStdString();
            QStringList expected;
            for (const auto& [q, o] : chosen[size_t(i)])
                expected << QStringLiteral("%1|%2").arg(q).arg(o);
            const QString rows =
                psqlText(url, QStringLiteral("SELECT nomvopr::int || '|' || otvet::int FROM bd_rezult "
                                             "WHERE nomu = 1 AND nomtesta = %1 AND nomtestir = %2 "
                                             "ORDER BY nomvopr, id")
                                  .arg(test)
                                  .arg(testee));
            ASSERT_FALSE(expected.isEmpty());
            EXPECT_EQ(rows, expected.join('\n')) << "browser " << i;
        }
    }
    static constexpr int kBrowsers = 3;
    std::vector<std::thread> browsers;
    std::vector<std::map<int, int>> chosen = std::vector<std::map<int, int>>(kBrowsers);
    std::vector<std::map<int, int>> options = std::vector<std::map<int, int>>(kBrowsers);
    std::vector<std::string> faults = std::vector<std::string>(kBrowsers);
};

TEST_F(PgGroupTest, TheWindowRunsAGroupSessionOnTheServerAndEveryAnswerIsStoredOnce) {
    MessageRecorder messages;
    TFormGroupSession w;
    w.OpenFor(1, 3);
    w.CheckGroupCode->setChecked(true);
    w.ComboAddress->setCurrentIndex(w.ComboAddress->findText(QStringLiteral("127.0.0.1")));
    w.SpinPort->setValue(0);
    w.ButtonStart->click();
    EXPECT_TRUE(messages.texts().isEmpty()) << messages.texts().join(" / ").toStdString();
    ASSERT_TRUE(w.server() && w.server()->running());
    const std::string group = w.session().groupCode.toStdString();
    ASSERT_EQ(group.size(), 6u);
    // The session is on the server, in the table made for it there.
    EXPECT_EQ(psqlText(url, "SELECT nomtesta::int || ' ' || nomu::int || ' ' || grkod FROM bd_seans"),
              QStringLiteral("3 1 %1").arg(QString::fromStdString(group)));

    answerAtOnce(w.server()->port(), group, [](bool&) { QTest::qWait(20); });
    EXPECT_TRUE(messages.texts().isEmpty()) << messages.texts().join(" / ").toStdString();
    w.ButtonEnd->click(); // confirmed, should a browser still count as answering
    expectOneRowPerQuestion(3);
    EXPECT_EQ(psqlText(url, "SELECT otkr::int FROM bd_seans"), "0");
}

TEST_F(PgGroupTest, AServerProcessRunsTheSessionOfAServerDatabase) {
    QString out;
    ASSERT_EQ(runCommand(MORV_DB_TOOL, {"session", url, "--test", "1", "--org", "1", "--group"}, &out), 0)
        << out.toStdString();
    const std::string group = QRegularExpression("group (\\w+)").match(out).captured(1).toStdString();
    ASSERT_EQ(group.size(), 6u) << out.toStdString();
    QProcess serve;
    serve.start(QStringLiteral(MORV_DB_TOOL), {"serve", url, "--listen", "127.0.0.1:0"});
    ASSERT_TRUE(serve.waitForReadyRead(30000)) << serve.readAllStandardError().toStdString();
    const uint16_t port = uint16_t(
        QRegularExpression(":(\\d+)/").match(QString::fromUtf8(serve.readLine())).captured(1).toUInt());
    ASSERT_NE(port, 0);
    answerAtOnce(port, group, [](bool&) { QThread::msleep(20); });
    serve.terminate();
    ASSERT_TRUE(serve.waitForFinished(10000));
    expectOneRowPerQuestion(1);
}

} // namespace
