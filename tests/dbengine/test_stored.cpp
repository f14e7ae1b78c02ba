// Searches and writes over every stored row, whatever filter the windows left on the table.
#include "TestDb.h"
#include "dataset/Table.h"
#include "dataset/Variant.h"
#include "dbf/DbfFile.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace db;

namespace {

// Rows (A, B, V): A 1..rows, B = A % 3, V = 10 * A.
class StoredRowsTest : public ::testing::Test {
protected:
    void fill(int rows) {
        table.close();
        path = dir.filePath(QStringLiteral("s%1.dbf").arg(rows));
        dbf::DbfFile::create(path.toStdString(), {{"A", 'N', 9, 0}, {"B", 'N', 6, 0}, {"V", 'N', 9, 0}});
        table.setTableName(path);
        table.open();
        table.file()->setDurable(false);
        for (int i = 1; i <= rows; ++i) {
            table.append();
            table.setFields({i, i % 3, 10 * i});
            table.post();
        }
        table.first();
    }
    int64_t at(const char* field) { return table.fieldByName(field)->asInteger(); }

    QTemporaryDir dir;
    QString path;
    Table table;
};

} // namespace

TEST_F(StoredRowsTest, FindReachesRowsOutsideTheFilterAndLeavesTheViewAlone) {
    for (int rows : {20, 5000}) { // a plain scan and the key index
        SCOPED_TRACE(rows);
        fill(rows);
        table.filterBy(QStringLiteral("B=1"));
        table.moveBy(2);
        const int64_t before = at("A");
        const int64_t rec = table.findStored(QStringLiteral("A;B"), {9, 0});
        ASSERT_EQ(rec, 8); // record numbers count from 0
        EXPECT_EQ(table.storedValue(uint32_t(rec), table.fieldByName("V")).toInt(), 90);
        EXPECT_EQ(table.findStored(QStringLiteral("A;B"), {9, 1}), -1) << "every field must match";
        EXPECT_EQ(table.findStored(QStringLiteral("A"), {rows + 1}), -1);
        EXPECT_EQ(table.filter(), QStringLiteral("B=1"));
        EXPECT_TRUE(table.filtered());
        EXPECT_EQ(at("A"), before);
    }
}

TEST_F(StoredRowsTest, FindSkipsDeletedRecords) {
    fill(6);
    table.locate(QStringLiteral("A"), {4});
    table.deleteRecord();
    EXPECT_EQ(table.findStored(QStringLiteral("A"), {4}), -1);
}

TEST_F(StoredRowsTest, WritesOutsideTheViewKeepTheCursorAndReachTheFile) {
    fill(30);
    table.filterBy(QStringLiteral("B=2"));
    table.moveBy(3); // A = 11
    ASSERT_EQ(at("A"), 11);
    table.writeStored(0, table.fieldByName("V"), 777); // A = 1, not in the view
    EXPECT_EQ(at("A"), 11);
    EXPECT_EQ(table.recordCount(), 10);

    // A write that brings a record into the view before the cursor keeps the cursor on its record.
    table.writeStored(2, table.fieldByName("B"), 2); // A = 3 joins the view
    EXPECT_EQ(table.recordCount(), 11);
    EXPECT_EQ(at("A"), 11);

    const uint32_t added = table.appendStored({99, 2, 5});
    EXPECT_EQ(added, 30u);
    EXPECT_EQ(table.recordCount(), 12);
    EXPECT_EQ(at("A"), 11);
    const uint32_t hidden = table.appendStored({100, 0, 6});
    EXPECT_EQ(table.recordCount(), 12);
    EXPECT_EQ(table.findStored(QStringLiteral("A"), {100}), int64_t(hidden));

    Table fresh;
    fresh.setTableName(path);
    fresh.open();
    ASSERT_EQ(fresh.recordCount(), 32);
    ASSERT_TRUE(fresh.locate(QStringLiteral("A"), {1}));
    EXPECT_EQ(fresh.fieldByName("V")->asInteger(), 777);
    ASSERT_TRUE(fresh.locate(QStringLiteral("A"), {100}));
    EXPECT_EQ(fresh.fieldByName("V")->asInteger(), 6);
    EXPECT_EQ(fresh.fieldByName("B")->asInteger(), 0);
}

TEST_F(StoredRowsTest, KeyIndexSeesStoredWritesAndAppends) {
    fill(5000);
    table.filterBy(QStringLiteral("B=0"));
    ASSERT_EQ(table.findStored(QStringLiteral("A;B"), {4000, 1}), 3999);
    table.writeStored(3999, table.fieldByName("B"), 2);
    EXPECT_EQ(table.findStored(QStringLiteral("A;B"), {4000, 1}), -1);
    EXPECT_EQ(table.findStored(QStringLiteral("A;B"), {4000, 2}), 3999);
    const uint32_t rec = table.appendStored({7000, 1, 0});
    EXPECT_EQ(table.findStored(QStringLiteral("A;B"), {7000, 1}), int64_t(rec));
}

TEST_F(StoredRowsTest, AWriteChangesOnlyItsFieldAndKeepsUnreadableNeighbours) {
    fill(3);
    dbf::DbfFile& file = *table.file();
    const dbf::FieldDef& v = file.fields()[2];
    std::string bytes(file.record(0), file.recordLength());
    bytes.replace(1 + v.offset, v.length, std::string("  ab*\0 12", v.length)); // another writer's rubbish
    file.writeRecord(0, bytes);
    table.writeStored(0, table.fieldByName("B"), 2);
    const std::string after(file.record(0), file.recordLength());
    EXPECT_EQ(after.substr(1 + v.offset, v.length), bytes.substr(1 + v.offset, v.length));
    EXPECT_EQ(table.storedValue(0, table.fieldByName("B")).toInt(), 2);
}

TEST_F(StoredRowsTest, WritesAndAppendsRefuseWhatAPostRefuses) {
    fill(2);
    // B is a smallint column: a value past its range must not reach the file by this way either.
    EXPECT_THROW(table.writeStored(0, table.fieldByName("B"), 40000), ConversionError);
    EXPECT_EQ(table.storedValue(0, table.fieldByName("B")).toInt(), 1);
    EXPECT_THROW(table.appendStored({3, -40000, 30}), ConversionError);
    EXPECT_EQ(table.file()->recordCount(), 2u);
}
