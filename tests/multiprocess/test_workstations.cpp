// Two program instances registering at once on one database folder, as real processes.
#include "TestDb.h"
#include "dataset/Table.h"

#include <QProcess>
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
