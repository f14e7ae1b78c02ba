// The write side of a run through tables of its own, as the test server uses it: a group of
// choices written with one sync, refused as a whole when that sync fails; a registration
// numbered by the testee window's rule.
#include "app/AppFixture.h"
#include "dbf/Os.h"
#include "services/RunService.h"
#include "testing/TestingWindow.h"

#include <cerrno>

namespace {

using RunServiceTest = AppTest;

int answerOf(const QList<RunRow>& rows, int q) {
    for (const RunRow& r : rows)
        if (r.number == q) return r.value;
    return -99;
}

} // namespace

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
