// The browser test server (`morv-db serve`, a process of its own) and two workstations (processes
// answering through the same write side) on one folder at once: testees registered in the browser
// with the group code and at the workstations all get numbers no one else has, and every answer
// of every run is stored exactly once, with the option chosen.
#include "TestDb.h"
#include "dataset/Table.h"
#include "web/WebClient.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <thread>

namespace {

int morvDb(const QStringList& args, QString* out) {
    return runCommand(QStringLiteral(MORV_DB_TOOL), args, out);
}

struct Testee {
    int number = 0;
    QString surname;
};

std::vector<Testee> testees(const QString& dir, int org) {
    db::Table t;
    t.setTableName(dir + "/bd_anket.dbf");
    t.open();
    std::vector<Testee> out;
    for (t.first(); !t.eof(); t.next())
        if (t.fieldValue("NOMU").toInt() == org)
            out.push_back(
                {int(t.fieldValue("NOMTESTIR").toInt()), t.fieldValue("FAMTESTIR").toString().trimmed()});
    return out;
}

} // namespace

TEST(ServerAndWorkstations, RegisterAndAnswerAtOnceWithUniqueNumbersAndEveryAnswerStoredOnce) {
    QTemporaryDir dir;
    QString out;
    ASSERT_EQ(morvDb({"sample", dir.path()}, &out), 0) << out.toStdString();
    const size_t before = testees(dir.path(), 1).size();
    ASSERT_EQ(morvDb({"session", dir.path(), "--test", "1", "--org", "1", "--group"}, &out), 0)
        << out.toStdString();
    const std::string group = QRegularExpression("group (\\w+)").match(out).captured(1).toStdString();
    ASSERT_EQ(group.size(), 6u) << out.toStdString();

    QProcess serve;
    serve.start(QStringLiteral(MORV_DB_TOOL), {"serve", dir.path(), "--listen", "127.0.0.1:0"});
    ASSERT_TRUE(serve.waitForReadyRead(30000));
    const uint16_t port = uint16_t(
        QRegularExpression(":(\\d+)/").match(QString::fromUtf8(serve.readLine())).captured(1).toUInt());
    ASSERT_NE(port, 0);

    // Two workstations and six browsers, all at once.
    constexpr int kBrowsers = 6, kPerWorkstation = 4;
    QProcess stations[2];
    for (QProcess& p : stations) {
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(MORV_WORKSTATION_CHILD),
                {"runs", dir.path(), QString::number(kPerWorkstation)});
    }
    std::vector<std::map<int, int>> chosen(kBrowsers), options(kBrowsers);
    std::vector<std::string> faults(kBrowsers);
    std::vector<std::thread> browsers;
    for (int i = 0; i < kBrowsers; ++i)
        browsers.emplace_back([&, i] {
            faults[size_t(i)] = browserRun(port, group, "Браузер" + std::to_string(i), i, chosen[size_t(i)],
                                           options[size_t(i)]);
        });
    for (std::thread& t : browsers)
        t.join();
    std::vector<int> stationTestees;
    for (QProcess& p : stations) {
        ASSERT_TRUE(p.waitForFinished(120000));
        const QString said = QString::fromUtf8(p.readAll());
        ASSERT_EQ(p.exitCode(), 0) << said.toStdString();
        for (const auto& m : QRegularExpression("testee (\\d+)").globalMatch(said))
            stationTestees.push_back(m.captured(1).toInt());
    }
    serve.terminate();
    ASSERT_TRUE(serve.waitForFinished(10000));
    for (int i = 0; i < kBrowsers; ++i)
        EXPECT_EQ(faults[size_t(i)], "") << "browser " << i;

    // Every registration got a number no one else has, and each workstation learnt its own.
    const std::vector<Testee> all = testees(dir.path(), 1);
    ASSERT_EQ(all.size(), before + kBrowsers + 2 * kPerWorkstation);
    std::set<int> numbers;
    std::map<QString, int> bySurname;
    for (const Testee& t : all) {
        EXPECT_TRUE(numbers.insert(t.number).second) << "number " << t.number << " twice";
        ++bySurname[t.surname];
        if (t.surname.startsWith(QStringLiteral("Станция"))) {
            EXPECT_NE(std::count(stationTestees.begin(), stationTestees.end(), t.number), 0) << t.number;
        }
    }
    EXPECT_EQ(stationTestees.size(), size_t(2 * kPerWorkstation));

    // Every answer of every new run once, holding its choice.
    std::map<std::pair<int, int>, std::vector<int>> stored; // (testee, question) → choices
    db::Table rezult;
    rezult.setTableName(dir.filePath("bd_rezult.dbf"));
    rezult.open();
    for (rezult.first(); !rezult.eof(); rezult.next())
        if (rezult.fieldValue("NOMU").toInt() == 1 && rezult.fieldValue("NOMTESTA").toInt() == 1)
            stored[{int(rezult.fieldValue("NOMTESTIR").toInt()), int(rezult.fieldValue("NOMVOPR").toInt())}]
                .push_back(int(rezult.fieldValue("OTVET").toInt()));
    for (const Testee& t : all) {
        std::map<int, int> expected;
        if (t.surname.startsWith(QStringLiteral("Браузер"))) {
            ASSERT_EQ(bySurname[t.surname], 1) << t.surname.toStdString();
            expected = chosen[size_t(t.surname.mid(7).toInt())];
        } else if (t.surname.startsWith(QStringLiteral("Станция"))) {
            for (const auto& [q, n] : options[0])
                expected[q] = (t.number + q) % n; // as the workstation chose
        } else {
            continue;
        }
        ASSERT_FALSE(expected.empty());
        for (const auto& [q, o] : expected) {
            const auto it = stored.find({t.number, q});
            ASSERT_NE(it, stored.end()) << "testee " << t.number << " question " << q;
            ASSERT_EQ(it->second.size(), 1u) << "testee " << t.number << " question " << q;
            EXPECT_EQ(it->second.front(), o) << "testee " << t.number << " question " << q;
        }
    }

    EXPECT_EQ(morvDb({"check", dir.path()}, &out), 0) << out.toStdString();
    const QString peer = sharedTool("peer-check");
    if (peer.isEmpty()) GTEST_SKIP() << "no ../shared/tools/peer-check beside this checkout";
    EXPECT_EQ(runCommand(peer, {dir.path()}, &out), 0) << out.toStdString();
}
