// The write side of a run through tables of its own, as the test server uses it: a group of
// choices written with one sync, refused as a whole when that sync fails; a registration
// numbered by the testee window's rule.
#include "Damage.h"
#include "app/AppFixture.h"
#include "dbf/DbfFile.h"
#include "dbf/Os.h"
#include "services/RunService.h"
#include "testing/TestingWindow.h"

#include <QCryptographicHash>
#include <QFile>
#include <cerrno>

namespace {

using RunServiceTest = AppTest;

int answerOf(const QList<RunRow>& rows, int q) {
    for (const RunRow& r : rows)
        if (r.number == q) return r.value;
    return -99;
}

QByteArray hashOf(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

} // namespace

TEST_F(RunServiceTest, RowsMadeTogetherAreOnePerQuestionAndAFailedGroupLeavesTheFilesAsTheyWere) {
    services::RunService runs;
    const results::RunKey a{1, 4, 1}, b{1, 5, 1};
    const QString dbf = db->path(QStringLiteral("bd_rezult.dbf")),
                  mdx = db->path(QStringLiteral("bd_rezult.MDX"));

    // A group whose last step (the record count) fails: neither the table nor its index changes.
    const QByteArray dbfBefore = hashOf(dbf), mdxBefore = hashOf(mdx);
    for (int nth : {1, 2, 3}) {
        dbf::os::failNext(dbf::os::Call::Sync, EIO, nth);
        EXPECT_ANY_THROW(runs.makeRows({{a, 1}, {b, 1}, {a, 2}})) << "sync " << nth;
        dbf::os::clearFaults();
        EXPECT_EQ(hashOf(dbf), dbfBefore) << "sync " << nth;
        EXPECT_EQ(hashOf(mdx), mdxBefore) << "sync " << nth;
    }
    EXPECT_TRUE(answerRows(db->dir(), 1, 4, 1).isEmpty());

    // Shown twice in one group, or again later: one row each, holding no choice.
    runs.makeRows({{a, 1}, {b, 1}, {a, 1}, {a, 2}});
    runs.makeRows({{a, 2}, {b, 1}});
    EXPECT_EQ(answerRows(db->dir(), 1, 4, 1).size(), 2);
    EXPECT_EQ(answerRows(db->dir(), 1, 5, 1).size(), 1);
    EXPECT_EQ(answerOf(answerRows(db->dir(), 1, 4, 1), 2), -1);

    // Choices for questions never shown make their rows with the choice; the same question twice
    // in one group keeps the later choice in its one row.
    std::vector<services::PendingChoice> group = {{a, 3, 1, {}}, {b, 3, 2, {}}, {a, 3, 0, {}}, {a, 1, 2, {}}};
    runs.chooseMany(group);
    for (const services::PendingChoice& c : group)
        EXPECT_TRUE(c.error.isEmpty()) << c.error.toStdString();
    const QList<RunRow> rowsA = answerRows(db->dir(), 1, 4, 1);
    EXPECT_EQ(rowsA.size(), 3);
    EXPECT_EQ(answerOf(rowsA, 3), 0);
    EXPECT_EQ(answerOf(rowsA, 1), 2);
    EXPECT_EQ(answerOf(answerRows(db->dir(), 1, 5, 1), 3), 2);

    // A refused group of new rows refuses each of its choices and stores none of them.
    group = {{a, 4, 1, {}}, {b, 4, 1, {}}};
    dbf::os::failNext(dbf::os::Call::Sync, EIO, 2);
    runs.chooseMany(group);
    dbf::os::clearFaults();
    EXPECT_FALSE(group[0].error.isEmpty() || group[1].error.isEmpty());
    EXPECT_EQ(answerOf(answerRows(db->dir(), 1, 4, 1), 4), -99);
    EXPECT_EQ(answerOf(answerRows(db->dir(), 1, 5, 1), 4), -99);

    // The index holds each row once, as an independent reader of it finds.
    const QString peer = sharedTool(QStringLiteral("mdx-peer"));
    if (peer.isEmpty()) GTEST_SKIP() << "no ../shared/tools/mdx-peer beside this checkout";
    QString out;
    EXPECT_EQ(runCommand(peer, {QStringLiteral("check"), dbf}, &out), 0) << out.toStdString();
}

TEST_F(RunServiceTest, AGroupOfChoicesIsStoredWholeOrNotAtAllWhenItsSyncFails) {
    services::RunService runs;
    const results::RunKey a{1, 4, 1}, b{1, 5, 1};
    for (int q = 1; q <= 3; ++q) {
        runs.show(a, q);
        runs.show(b, q);
    }
    std::vector<services::PendingChoice> group = {{a, 1, 2, {}}, {b, 1, 1, {}}, {a, 2, 3, {}}};
    dbf::os::failNext(dbf::os::Call::Sync, EIO);
    runs.chooseMany(group);
    dbf::os::clearFaults();
    for (const services::PendingChoice& c : group)
        EXPECT_FALSE(c.error.isEmpty()) << "no choice of the group is known to be on disk";
    EXPECT_EQ(answerOf(answerRows(db->dir(), 1, 4, 1), 1), -1);
    EXPECT_EQ(answerOf(answerRows(db->dir(), 1, 5, 1), 1), -1);
    EXPECT_EQ(answerOf(answerRows(db->dir(), 1, 4, 1), 2), -1);

    // The same group again on a sound disk: every choice stored, and an option that the
    // question does not offer refused on its own.
    group = {{a, 1, 2, {}}, {b, 1, 1, {}}, {a, 2, 3, {}}, {a, 3, 4, {}}};
    runs.chooseMany(group);
    EXPECT_TRUE(group[0].error.isEmpty() && group[1].error.isEmpty() && group[2].error.isEmpty());
    EXPECT_FALSE(group[3].error.isEmpty());
    EXPECT_EQ(answerOf(answerRows(db->dir(), 1, 4, 1), 1), 2);
    EXPECT_EQ(answerOf(answerRows(db->dir(), 1, 5, 1), 1), 1);
    EXPECT_EQ(answerOf(answerRows(db->dir(), 1, 4, 1), 2), 3);
    EXPECT_EQ(answerOf(answerRows(db->dir(), 1, 4, 1), 3), -1);
    EXPECT_EQ(answerRows(db->dir(), 1, 4, 1).size(), 3) << "no second row";
}

TEST_F(RunServiceTest, ARegisteredTesteeGetsTheNumberTheTesteeWindowWouldGive) {
    services::RunService runs;
    // Institution 2 holds testees 1..4: the next is 5, and the one after 6, never a shared one.
    EXPECT_EQ(runs.registerTestee(
                  2, {QStringLiteral("Орлова"), QStringLiteral("Вера"), {}, QStringLiteral("Ж"), 2007, 1}),
              5);
    EXPECT_EQ(runs.registerTestee(
                  2, {QStringLiteral("Орлов"), QStringLiteral("Иван"), {}, QStringLiteral("М"), 0, 0}),
              6);
    const auto t = runs.testee(2, 5);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->fullName(), QStringLiteral("Орлова Вера"));
    EXPECT_EQ(t->org, 2);
}

// A damaged answer index does not stop a class: the server's group of choices rebuilds it once,
// and every choice of the group is stored, one row per question.
TEST_F(RunServiceTest, ADamagedAnswerIndexIsRebuiltAndTheWholeGroupStored) {
    spoilIndexRoot(db->path(QStringLiteral("bd_rezult.MDX")));
    services::RunService runs;
    const results::RunKey a{1, 4, 1}, b{1, 5, 1};
    std::vector<services::PendingChoice> group = {{a, 1, 1, {}}, {b, 1, 2, {}}, {a, 2, 0, {}}};
    runs.chooseMany(group);
    for (const services::PendingChoice& c : group)
        EXPECT_TRUE(c.error.isEmpty()) << c.error.toStdString();
    EXPECT_EQ(answerOf(answerRows(db->dir(), 1, 4, 1), 1), 1);
    EXPECT_EQ(answerOf(answerRows(db->dir(), 1, 4, 1), 2), 0);
    EXPECT_EQ(answerOf(answerRows(db->dir(), 1, 5, 1), 1), 2);
    const auto f = dbf::DbfFile::open(db->path(QStringLiteral("bd_rezult.dbf")).toStdString());
    EXPECT_TRUE(f->checkIndex().empty());
}
