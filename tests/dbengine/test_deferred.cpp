// Views opened but not looked at yet: a table in stored order and a query read their rows on
// first use, so opening the program's big tables costs nothing, and what they show then is what
// is stored then.
#include "Errors.h"
#include "dataset/Aliases.h"
#include "dataset/Query.h"
#include "dataset/Table.h"
#include "dbf/DbfFile.h"
#include "dbf/Os.h"
#include "sql/SqlRunner.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString kAlias = QStringLiteral("deferred");

std::string number(double v, const dbf::DbfFile& f, const char* field) {
    return f.formatNumber(f.fieldIndex(field), v);
}

// bd_rez with n rows: KRIT = i % 7, BALL = i / 4 (quarters), as another program would write them.
void makeScores(const QString& dir, int n) {
    const std::string path = QDir(dir).filePath(QStringLiteral("bd_rez.dbf")).toStdString();
    dbf::DbfFile::create(path, {{"KRIT", 'N', 6, 0, 0}, {"BALL", 'N', 20, 4, 0}});
    auto f = dbf::DbfFile::open(path);
    f->setDurable(false);
    for (int i = 0; i < n; ++i) {
        std::string rec = f->blankRecord();
        rec.replace(1, 6, number(i % 7, *f, "KRIT"));
        rec.replace(7, 20, number(i / 4.0, *f, "BALL"));
        f->appendRecord(rec);
    }
}

class DeferredTest : public testing::Test {
protected:
    void SetUp() override { db::Aliases::bind(kAlias, dir.path()); }
    QTemporaryDir dir;
};

} // namespace

TEST_F(DeferredTest, TableInStoredOrderReadsItsRecordsOnFirstUseAsStoredThen) {
    const int n = 20000;
    makeScores(dir.path(), n);
    const qint64 fileSize = QFileInfo(dir.filePath(QStringLiteral("bd_rez.dbf"))).size();

    db::Table t;
    t.setDatabaseName(kAlias);
    t.setTableName(QStringLiteral("bd_rez.dbf"));
    const uint64_t before = dbf::os::bytesRead();
    t.open();
    EXPECT_LT(dbf::os::bytesRead() - before, uint64_t(fileSize / 20)) << "opening read the records";
    EXPECT_TRUE(t.viewPending());

    {
        // Another program deletes the first two records and adds one before anyone looks.
        auto other = dbf::DbfFile::open(dir.filePath(QStringLiteral("bd_rez.dbf")).toStdString());
        other->setDeleted(0, true);
        other->setDeleted(1, true);
        std::string rec = other->blankRecord();
        rec.replace(1, 6, number(6, *other, "KRIT"));
        rec.replace(7, 20, number(-2.5, *other, "BALL"));
        other->appendRecord(rec);
    }
    // The cursor stands on the first record shown, as after any open.
    EXPECT_FALSE(t.eof());
    EXPECT_TRUE(t.bof());
    EXPECT_EQ(t.recNo(), 0);
    EXPECT_EQ(t.recordCount(), n - 2 + 1);
    EXPECT_EQ(t.fieldValue(QStringLiteral("KRIT")).toInt(), 2);
    EXPECT_DOUBLE_EQ(t.fieldValue(QStringLiteral("BALL")).toDouble(), 0.5);
    t.last();
    EXPECT_DOUBLE_EQ(t.fieldValue(QStringLiteral("BALL")).toDouble(), -2.5);
    double sum = 0;
    int rows = 0;
    for (t.first(); !t.eof(); t.next(), ++rows)
        sum += t.fieldValue(QStringLiteral("BALL")).toDouble();
    EXPECT_EQ(rows, n - 1);
    // 0.25 * (0 + 1 + ... + n-1), less the two deleted (0 and 0.25), plus the new -2.5.
    EXPECT_DOUBLE_EQ(sum, 0.25 * (double(n) * (n - 1) / 2) - 0.25 - 2.5);

    // Every record deleted before the first look: at the end from the start.
    t.close();
    t.open();
    EXPECT_TRUE(t.viewPending());
    {
        auto other = dbf::DbfFile::open(dir.filePath(QStringLiteral("bd_rez.dbf")).toStdString());
        other->setDurable(false);
        for (uint32_t r = 0; r < other->recordCount(); ++r)
            other->setDeleted(r, true);
    }
    EXPECT_TRUE(t.eof());
    EXPECT_TRUE(t.bof());
    EXPECT_EQ(t.recNo(), -1);
    EXPECT_TRUE(t.isEmpty());
}

TEST_F(DeferredTest, QueryReadsItsRowsOnFirstUseAndRefusesBadTextsAtOpen) {
    const int n = 5000;
    makeScores(dir.path(), n);
    db::Query q;
    q.setDatabaseName(kAlias);
    q.setSql({QStringLiteral("Select KRIT,BALL"), QStringLiteral("  From bd_rez")});
    q.open();
    EXPECT_TRUE(q.viewPending());
    ASSERT_EQ(q.fields().size(), 2);
    // The kinds come from the first row, as from a query read whole.
    EXPECT_TRUE(q.fieldAt(0)->isNumeric());
    EXPECT_EQ(q.fieldAt(1)->kind(), db::FieldKind::Float);
    EXPECT_EQ(q.recordCount(), n);
    EXPECT_FALSE(q.viewPending());
    double sum = 0;
    int64_t krit = 0;
    for (int row = 0; row < q.recordCount(); ++row) {
        sum += q.valueAt(row, q.fieldAt(1)).toDouble();
        krit += q.valueAt(row, q.fieldAt(0)).toInt();
    }
    EXPECT_DOUBLE_EQ(sum, 0.25 * (double(n) * (n - 1) / 2));
    int64_t expectKrit = 0;
    for (int i = 0; i < n; ++i)
        expectKrit += i % 7;
    EXPECT_EQ(krit, expectKrit);

    // Refusals and missing tables are still said by open, and leave the query closed.
    db::Query bad;
    bad.setDatabaseName(kAlias);
    bad.setSql({QStringLiteral("Select KRIT From nosuch")});
    EXPECT_THROW(bad.open(), db::DatabaseError);
    EXPECT_FALSE(bad.active());
    bad.setSql({QStringLiteral("Delete From bd_rez")});
    EXPECT_THROW(bad.open(), db::DatabaseError);

    // A text column needs every row for its width: read at open.
    db::Query text;
    text.setDatabaseName(kAlias);
    text.setSql({QStringLiteral("Select KRIT, printf('%d-%d', KRIT, rowid) As T From bd_rez")});
    text.open();
    EXPECT_FALSE(text.viewPending());
    EXPECT_EQ(text.recordCount(), n);
    EXPECT_EQ(text.fieldAt(1)->size(), 6); // "6-4999" and the like
}

TEST_F(DeferredTest, AQueryWhoseRestCannotBeReadShowsNoPartOfIt) {
    makeScores(dir.path(), 60000);
    const qint64 limit = db::sql::memoryLimit();
    db::sql::setMemoryLimit(qint64(600) << 10); // room for SQLite, not for 60000 rows of two cells
    db::Query q;
    q.setDatabaseName(kAlias);
    q.setSql({QStringLiteral("Select KRIT,BALL From bd_rez")});
    try {
        q.open();
    } catch (...) {
        db::sql::setMemoryLimit(limit);
        throw;
    }
    EXPECT_TRUE(q.viewPending());
    EXPECT_THROW(q.recordCount(), db::DatabaseError);
    db::sql::setMemoryLimit(limit);
    // Told once; then an empty result, never the rows read before the failure.
    EXPECT_EQ(q.recordCount(), 0);
    EXPECT_TRUE(q.eof());
    EXPECT_TRUE(q.fieldValue(QStringLiteral("BALL")).isNull());
}
