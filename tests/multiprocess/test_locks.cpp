// Two program instances on one table, as real processes: an edit holds its record, and no
// instance overwrites a change it has not seen.
#include "Errors.h"
#include "TestDb.h"
#include "dataset/Table.h"
#include "dbf/DbfFile.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class TwoInstances : public ::testing::Test {
protected:
    void SetUp() override {
        dbf::DbfFile::create(dir.filePath("counter.dbf").toStdString(),
                             {{"NAME", 'C', 20, 0}, {"N", 'N', 10, 0}});
        db::Table t;
        t.setTableName(dir.filePath("counter.dbf"));
        t.open();
        t.append();
        t.setFields({QStringLiteral("start"), 0});
        t.post();
    }
    QString child(const QStringList& args) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(MORV_LOCK_CHILD), args);
        EXPECT_TRUE(p.waitForFinished(60000));
        return QString::fromUtf8(p.readAll()).trimmed();
    }
    db::Variant stored(const char* field) {
        db::Table t;
        t.setTableName(dir.filePath("counter.dbf"));
        t.open();
        return t.fieldValue(QString::fromLatin1(field));
    }
    QTemporaryDir dir;
};

} // namespace

TEST_F(TwoInstances, AnEditHoldsItsRecordUntilPostAndTheNextEditSeesThePost) {
    QProcess holder;
    holder.start(QStringLiteral(MORV_LOCK_CHILD), {QStringLiteral("hold"), dir.path()});
    ASSERT_TRUE(holder.waitForReadyRead(30000));
    ASSERT_EQ(QString::fromUtf8(holder.readLine()).trimmed(), QStringLiteral("locked"));

    EXPECT_EQ(child({QStringLiteral("try"), dir.path()}), QStringLiteral("Record locked by another user."));
    // This process too: the refusal leaves the dataset browsing and the record as it was.
    db::Table t;
    t.setTableName(dir.filePath("counter.dbf"));
    t.open();
    try {
        t.edit();
        ADD_FAILURE() << "edited a record another process holds";
    } catch (const db::DatabaseError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Record locked by another user."));
    }
    EXPECT_EQ(t.state(), db::DataSetState::Browse);

    holder.write("\n");
    ASSERT_TRUE(holder.waitForFinished(30000));
    EXPECT_TRUE(QString::fromUtf8(holder.readAll()).contains("posted"));
    EXPECT_EQ(child({QStringLiteral("try"), dir.path()}), QStringLiteral("ok held"));
    // An edit begun after the other's post starts from it: nothing it did is lost.
    t.edit();
    EXPECT_EQ(t.fieldValue("NAME").toString(), QStringLiteral("held"));
    t.setFieldValue("N", 5);
    t.post();
    EXPECT_EQ(stored("NAME").toString(), QStringLiteral("held"));
    EXPECT_EQ(stored("N").toInt(), 5);
}

TEST_F(TwoInstances, ConcurrentIncrementsThroughEditAndPostAllCount) {
    constexpr int kEach = 500;
    QProcess a, b;
    for (QProcess* p : {&a, &b}) {
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(QStringLiteral(MORV_LOCK_CHILD),
                 {QStringLiteral("increment"), dir.path(), QString::number(kEach)});
    }
    for (QProcess* p : {&a, &b}) {
        ASSERT_TRUE(p->waitForFinished(120000));
        EXPECT_EQ(p->exitCode(), 0) << p->readAll().toStdString();
    }
    EXPECT_EQ(stored("N").toInt(), 2 * kEach);
    QString report;
    EXPECT_EQ(peerCheck(dir.path(), &report), 0) << report.toStdString();
}
