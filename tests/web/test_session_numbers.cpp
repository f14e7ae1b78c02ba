// Browser sessions made one after another and by several processes at once, in one folder: each
// gets a number of its own, and its codes carry that number. Read back with dbfread.
#include "TestDb.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>

namespace {

// NOMSEANS of every row of a table, as another reader reads them.
std::vector<int> sessionNumbers(const QString& dir, const QString& table) {
    std::vector<int> out;
    for (const QString& line : peerDump(dir, table))
        out.push_back(
            QJsonDocument::fromJson(line.toUtf8()).object().value(QStringLiteral("NOMSEANS")).toInt());
    return out;
}

class SessionNumbers : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        dir_ = tmp_.filePath(QStringLiteral("db"));
        ASSERT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL), {QStringLiteral("sample"), dir_}), 0);
    }
    QStringList session(const QString& test, const QString& extra) const {
        QStringList args{QStringLiteral("session"), dir_,
                         QStringLiteral("--test"),  test,
                         QStringLiteral("--org"),   QStringLiteral("1")};
        args += extra.split(QLatin1Char(' '));
        return args;
    }
    QTemporaryDir tmp_;
    QString dir_;
};

TEST_F(SessionNumbers, SessionsMadeOneAfterAnotherEachGetANumberAndTheirCodesCarryIt) {
    QString out;
    ASSERT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL),
                         session(QStringLiteral("1"), QStringLiteral("--testees all")), &out),
              0)
        << out.toStdString();
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n")); // Windows' text output
    EXPECT_TRUE(out.startsWith(QStringLiteral("session 1\n"))) << out.toStdString();
    ASSERT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL),
                         session(QStringLiteral("2"), QStringLiteral("--group")), &out),
              0);
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    EXPECT_TRUE(out.startsWith(QStringLiteral("session 2\n"))) << out.toStdString();
    ASSERT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL),
                         session(QStringLiteral("1"), QStringLiteral("--testees 1")), &out),
              0);
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    EXPECT_TRUE(out.startsWith(QStringLiteral("session 3\n"))) << out.toStdString();

    EXPECT_EQ(sessionNumbers(dir_, QStringLiteral("bd_seans")), (std::vector<int>{1, 2, 3}));
    // The first session's codes stay its own; the third has one testee, the group session none.
    std::map<int, int> codes;
    for (int n : sessionNumbers(dir_, QStringLiteral("bd_kod")))
        ++codes[n];
    ASSERT_EQ(codes.size(), 2u);
    EXPECT_GT(codes[1], 1);
    EXPECT_EQ(codes[3], 1);
}

TEST_F(SessionNumbers, ProcessesMakingSessionsAtOnceNeverShareANumber) {
    constexpr int kProcesses = 3, kEach = 4;
    // Made once, so that the processes race for numbers, not for making the tables.
    ASSERT_EQ(
        runCommand(QStringLiteral(MORV_DB_TOOL), session(QStringLiteral("1"), QStringLiteral("--group"))), 0);
    std::vector<std::unique_ptr<QProcess>> running;
    for (int p = 0; p < kProcesses; ++p) {
        // Each process makes its sessions in turn through a shell loop of the tool.
        auto proc = std::make_unique<QProcess>();
        proc->setProcessChannelMode(QProcess::MergedChannels);
        proc->start(
            QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"),
             QStringLiteral(
                 "for i in $(seq %1); do \"$0\" session \"$1\" --test 1 --org 1 --testees 1 || exit 1; "
                 "done")
                 .arg(kEach),
             QStringLiteral(MORV_DB_TOOL), dir_});
        running.push_back(std::move(proc));
    }
    std::multiset<QString> printed;
    for (auto& proc : running) {
        ASSERT_TRUE(proc->waitForFinished(120000));
        const QString out = QString::fromUtf8(proc->readAll());
        ASSERT_EQ(proc->exitCode(), 0) << out.toStdString();
        for (const QString& line : out.split(QLatin1Char('\n')))
            if (line.startsWith(QStringLiteral("session "))) printed.insert(line);
    }
    const std::vector<int> stored = sessionNumbers(dir_, QStringLiteral("bd_seans"));
    ASSERT_EQ(stored.size(), size_t(1 + kProcesses * kEach));
    EXPECT_EQ(std::set<int>(stored.begin(), stored.end()).size(), stored.size())
        << "two sessions share a number";
    EXPECT_EQ(std::set<QString>(printed.begin(), printed.end()).size(), size_t(kProcesses * kEach));
    // One code per session, each under its own session's number.
    const std::vector<int> codes = sessionNumbers(dir_, QStringLiteral("bd_kod"));
    EXPECT_EQ(std::set<int>(codes.begin(), codes.end()).size(), codes.size());
    EXPECT_EQ(codes.size(), size_t(kProcesses * kEach));
}

} // namespace
