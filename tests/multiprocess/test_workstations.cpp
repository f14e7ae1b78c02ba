// Two program instances registering at once on one database folder, as real processes.
#include "TestDb.h"
#include "dataset/Table.h"
#include "dbf/DbfFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>
#include <set>

namespace {

// Every number in field of the rows of file whose scope field equals scopeValue (or all rows).
std::vector<int64_t> numbers(const QString& path, const char* field, const char* scope = nullptr,
                             int64_t scopeValue = 0) {
    db::Table t;
    t.setTableName(path);
    t.open();
    std::vector<int64_t> out;
    for (t.first(); !t.eof(); t.next())
        if (!scope || t.fieldValue(scope).toInt() == scopeValue) out.push_back(t.fieldValue(field).toInt());
    return out;
}

void race(const TestDb& db, const char* what, int each) {
    QProcess a, b;
    for (QProcess* p : {&a, &b}) {
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(QStringLiteral(MORV_WORKSTATION_CHILD),
                 {QString::fromLatin1(what), db.dir(), QString::number(each)});
    }
    for (QProcess* p : {&a, &b}) {
        ASSERT_TRUE(p->waitForFinished(300000));
        EXPECT_EQ(p->exitCode(), 0) << p->readAll().toStdString();
    }
}

} // namespace

TEST(TwoWorkstations, TesteesRegisteredAtOnceInOneInstitutionNeverShareANumber) {
    TestDb db;
    db.add("bd_org.dbf", {1, 1, QStringLiteral("Школа"), QString(), 1, 1});
    db.add("bd_anket.dbf", {1, 1, QStringLiteral("Первый")});
    constexpr int kEach = 300;
    race(db, "testees", kEach);
    const auto got = numbers(db.path("bd_anket.dbf"), "NOMTESTIR", "NOMU", 1);
    EXPECT_EQ(got.size(), size_t(2 * kEach + 1)) << "a registration was lost";
    EXPECT_EQ(std::set<int64_t>(got.begin(), got.end()).size(), got.size()) << "two testees share a number";
}

TEST(TwoWorkstations, InstitutionsRegisteredAtOnceNeverShareANumber) {
    TestDb db;
    db.add("bd_org.dbf", {1, 1, QStringLiteral("Школа"), QString(), 1, 1});
    constexpr int kEach = 300;
    race(db, "institutions", kEach);
    const auto got = numbers(db.path("bd_org.dbf"), "NOM_ORG");
    EXPECT_EQ(got.size(), size_t(2 * kEach + 1));
    EXPECT_EQ(std::set<int64_t>(got.begin(), got.end()).size(), got.size())
        << "two institutions share a number";
}

TEST(TwoWorkstations, TheSameTesteeAnsweredAtOnceGetsOneRowPerQuestion) {
    TestDb db;
    constexpr int kQuestions = 300;
    race(db, "answers", kQuestions);
    const auto got = numbers(db.path("bd_rezult.dbf"), "NOMVOPR");
    EXPECT_EQ(got.size(), size_t(kQuestions)) << "a question got two rows";
    EXPECT_EQ(std::set<int64_t>(got.begin(), got.end()).size(), size_t(kQuestions));
}

TEST(ThreeWorkstations, MakingTheNormTableAtOnceMakesOneThatAllThreeWriteTo) {
    constexpr int kRows = 20;
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        TestDb db;
        QProcess p[3];
        for (QProcess& c : p) {
            c.setProcessChannelMode(QProcess::MergedChannels);
            c.start(QStringLiteral(MORV_WORKSTATION_CHILD), {"norms", db.dir(), QString::number(kRows)});
            ASSERT_TRUE(c.waitForStarted());
        }
        QThread::msleep(300); // all three waiting for the word
        QFile go(db.path(QStringLiteral("go")));
        ASSERT_TRUE(go.open(QIODevice::WriteOnly));
        go.close();
        for (QProcess& c : p) {
            ASSERT_TRUE(c.waitForFinished(60000));
            EXPECT_EQ(c.exitCode(), 0) << c.readAll().toStdString();
        }
        go.remove();
        // One table and one index, nothing left over from the attempts that lost.
        const QStringList left =
            QDir(db.dir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        EXPECT_EQ(left.filter(QStringLiteral("bd_norm"), Qt::CaseInsensitive),
                  QStringList({"bd_norm.dbf", "bd_norm.MDX"}));
        EXPECT_TRUE(left.filter(QStringLiteral(".make")).isEmpty()) << left.join(' ').toStdString();
        // No process wrote into a table another's rename then replaced.
        const auto all = numbers(db.path(QStringLiteral("bd_norm.dbf")), "KRIT");
        EXPECT_EQ(all.size(), size_t(3 * kRows));
        EXPECT_EQ(std::set<int64_t>(all.begin(), all.end()).size(), size_t(kRows));
        auto f = dbf::DbfFile::open(db.path(QStringLiteral("bd_norm.dbf")).toStdString(), true);
        EXPECT_TRUE(f->checkIndex().empty());
        QString report;
        EXPECT_EQ(peerCheck(db.dir(), &report), 0) << report.toStdString();
        const QString peer = sharedTool(QStringLiteral("mdx-peer"));
        if (peer.isEmpty()) continue; // the team's tools are not beside this checkout
        EXPECT_EQ(
            runCommand(peer, {QStringLiteral("check"), db.path(QStringLiteral("bd_norm.dbf"))}, &report), 0)
            << report.toStdString();
        EXPECT_TRUE(report.contains(QStringLiteral("NORM"))) << report.toStdString();
    }
}
