// Writes on a failing disk: every failing write, sync, truncate and close is refused with the
// file and the system's reason, and leaves the files exactly as they were.
#include "TestDb.h"
#include "dataset/Table.h"
#include "dbf/DbfFile.h"
#include "dbf/Os.h"

#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

using dbf::DbfError;
using dbf::DbfFile;
namespace os = dbf::os;

namespace {

struct Fault {
    os::Call call;
    int err;
    int nth;
    const char* name;
};

class FailingDisk : public ::testing::Test {
protected:
    void SetUp() override {
        dbfPath = dir.filePath("t.dbf");
        dbtPath = dir.filePath("t.dbt");
        DbfFile::create(dbfPath.toStdString(), {{"NAME", 'C', 20, 0}, {"NOTES", 'M', 10, 0}});
        table.setTableName(dbfPath);
        table.open();
        add("Первый", "память первого");
        add("Второй", "");
    }
    void TearDown() override { os::clearFaults(); }

    void add(const QString& name, const QString& notes) {
        table.append();
        table.setFieldValue("NAME", name);
        table.setFieldValue("NOTES", notes);
        table.post();
    }
    void snapshot() {
        dbfBefore = bytesOf(dbfPath);
        dbtBefore = bytesOf(dbtPath);
    }
    // The post fails with the file's name and the reason, the files are as before, the record
    // stays in edit, and it posts once the disk works again.
    void expectRefusedThenPosted(const Fault& f, const QString& expectName, const QString& expectNotes) {
        SCOPED_TRACE(f.name);
        os::failNext(f.call, f.err, f.nth);
        try {
            table.post();
            ADD_FAILURE() << "the post was not refused";
        } catch (const db::DatabaseError& e) {
            const QString m = e.message();
            EXPECT_TRUE(m.contains(dir.path())) << m.toStdString();
            EXPECT_TRUE(m.contains(QString::fromStdString(os::reason(f.err)))) << m.toStdString();
        }
        os::clearFaults();
        EXPECT_EQ(bytesOf(dbfPath), dbfBefore);
        EXPECT_EQ(bytesOf(dbtPath), dbtBefore);
        EXPECT_NE(table.state(), db::DataSetState::Browse);
        table.post();
        EXPECT_EQ(table.fieldValue("NAME").toString(), expectName);
        QString report;
        EXPECT_EQ(peerCheck(dir.path(), &report), 0) << report.toStdString();
        Table fresh;
        fresh.setTableName(dbfPath);
        fresh.open();
        fresh.last();
        if (table.recNo() == table.recordCount() - 1) {
            EXPECT_EQ(fresh.fieldValue("NAME").toString(), expectName);
            EXPECT_EQ(fresh.fieldValue("NOTES").toString(), expectNotes);
        }
    }

    using Table = db::Table;
    QTemporaryDir dir;
    QString dbfPath, dbtPath;
    Table table;
    QByteArray dbfBefore, dbtBefore;
};

// The calls of an append with a memo: memo blocks, memo sync, memo header, memo sync, then the
// record, its sync, the header, its sync.
const Fault kAppendFaults[] = {
    {os::Call::Write, ENOSPC, 1, "memo text half written"},
    {os::Call::Sync, EIO, 1, "memo text sync"},
    {os::Call::Write, ENOSPC, 2, "memo header"},
    {os::Call::Sync, EIO, 2, "memo header sync"},
    {os::Call::Write, ENOSPC, 3, "record half written"},
    {os::Call::Sync, EIO, 3, "record sync"},
    {os::Call::Write, EIO, 4, "record count"},
    {os::Call::Sync, EIO, 4, "record count sync"},
};

} // namespace

TEST_F(FailingDisk, AFailedAppendLeavesBothFilesAsTheyWere) {
    for (const Fault& f : kAppendFaults) {
        snapshot();
        table.append();
        table.setFieldValue("NAME", QString::fromUtf8(f.name).left(20));
        table.setFieldValue("NOTES", QStringLiteral("заметка, которой нет на диске"));
        expectRefusedThenPosted(f, QString::fromUtf8(f.name).left(20),
                                QStringLiteral("заметка, которой нет на диске"));
    }
    EXPECT_EQ(table.recordCount(), 2 + int(std::size(kAppendFaults)));
}

TEST_F(FailingDisk, AFailedEditKeepsTheOldRecordAndTheOldMemoText) {
    // A shorter text is written over the old one's block; a longer one goes to new blocks.
    const Fault faults[] = {
        {os::Call::Write, ENOSPC, 1, "memo rewritten in place, half"},
        {os::Call::Sync, EIO, 1, "memo rewritten in place, sync"},
        {os::Call::Write, ENOSPC, 2, "record after its memo, half"},
        {os::Call::Sync, EIO, 2, "record after its memo, sync"},
    };
    for (const Fault& f : faults) {
        snapshot();
        table.first();
        table.edit();
        table.setFieldValue("NAME", QStringLiteral("Изменён"));
        table.setFieldValue("NOTES", QStringLiteral("короче"));
        expectRefusedThenPosted(f, QStringLiteral("Изменён"), QStringLiteral("короче"));
        // Back to a long text for the next round.
        table.edit();
        table.setFieldValue("NOTES", QStringLiteral("память первого, снова длинная"));
        table.post();
    }
}

TEST_F(FailingDisk, AFailedRecordWriteWithoutMemoAndAFailedDeleteChangeNothing) {
    table.last();
    for (const Fault& f :
         {Fault{os::Call::Write, ENOSPC, 1, "record half"}, Fault{os::Call::Sync, EIO, 1, "sync"}}) {
        snapshot();
        table.edit();
        table.setFieldValue("NAME", QStringLiteral("Третий"));
        expectRefusedThenPosted(f, QStringLiteral("Третий"), QString());
    }
    snapshot();
    os::failNext(os::Call::Sync, EIO);
    EXPECT_THROW(table.deleteRecord(), db::DatabaseError);
    os::clearFaults();
    EXPECT_EQ(bytesOf(dbfPath), dbfBefore);
}

TEST_F(FailingDisk, ACreateThatCannotFinishLeavesNoFile) {
    const Fault faults[] = {{os::Call::Write, ENOSPC, 1, "header"},
                            {os::Call::Sync, EIO, 1, "sync"},
                            {os::Call::Close, EIO, 1, "close"},
                            {os::Call::Close, ENOSPC, 2, "memo file close"}};
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.name);
        const std::string path = dir.filePath("new.dbf").toStdString();
        os::failNext(f.call, f.err, f.nth);
        try {
            DbfFile::create(path, {{"A", 'C', 5, 0}, {"M", 'M', 10, 0}});
            ADD_FAILURE() << "not refused";
        } catch (const DbfError& e) {
            EXPECT_NE(std::string(e.what()).find("new.d"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(os::reason(f.err)), std::string::npos) << e.what();
        }
        os::clearFaults();
        EXPECT_FALSE(QFile::exists(dir.filePath("new.dbf")));
        EXPECT_FALSE(QFile::exists(dir.filePath("new.dbt")));
    }
}

TEST_F(FailingDisk, BytesACrashLeftAreCutAtOpenOrTheOpenFailsSaying) {
    table.close();
    QFile f(dbfPath);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(QByteArray(13, 'x')); // a record cut short by a crash
    f.close();
    os::failNext(os::Call::Truncate, EIO);
    try {
        DbfFile::open(dbfPath.toStdString());
        ADD_FAILURE() << "a tail that cannot be cut must not be taken as a good file";
    } catch (const DbfError& e) {
        EXPECT_NE(std::string(e.what()).find("t.dbf"), std::string::npos) << e.what();
    }
    os::clearFaults();
    auto file = DbfFile::open(dbfPath.toStdString());
    EXPECT_EQ(file->recordCount(), 2u);
    QString report;
    EXPECT_EQ(peerCheck(dir.path(), &report), 0) << report.toStdString();
}

// A real disk filling up: a small tmpfs, where the system is allowed to mount one.
TEST(FullDisk, AppendsUntilTheDiskIsFullLeaveOnlyWholeRecordsAndSayWhy) {
    QTemporaryDir mountPoint;
    const QByteArray where = mountPoint.path().toLocal8Bit();
    const QString mount = QStringLiteral("mount -t tmpfs -o size=300k tmpfs '%1'").arg(mountPoint.path());
    if (geteuid() != 0 || std::system(mount.toLocal8Bit().constData()) != 0)
        GTEST_SKIP() << "no tmpfs can be mounted here (needs root)";
    struct Unmount {
        QByteArray at;
        ~Unmount() { (void)!std::system(("umount '" + at + "'").constData()); }
    } unmount{where};

    const QString dbfPath = mountPoint.filePath("bd_full.dbf");
    DbfFile::create(dbfPath.toStdString(), {{"NAME", 'C', 60, 0}, {"NOTES", 'M', 10, 0}});
    db::Table table;
    table.setTableName(dbfPath);
    table.open();
    int stored = 0;
    QString refusal;
    for (int i = 0; i < 100000 && refusal.isEmpty(); ++i) {
        table.append();
        table.setFieldValue("NAME", QStringLiteral("Испытуемый %1").arg(i));
        // A memo text first, so the memo file has one; then only records, so the table is what
        // fills the disk, as a run of answers does.
        if (i == 0) table.setFieldValue("NOTES", QString(700, QChar(u'ж')));
        try {
            table.post();
            ++stored;
        } catch (const db::DatabaseError& e) {
            refusal = e.message();
            table.cancel();
        }
    }
    ASSERT_FALSE(refusal.isEmpty()) << "the disk never filled";
    EXPECT_TRUE(refusal.contains(mountPoint.path()) &&
                refusal.contains(QString::fromStdString(os::reason(ENOSPC))))
        << refusal.toStdString();
    table.close();
    const QByteArray bytes = bytesOf(dbfPath);
    auto file = DbfFile::open(dbfPath.toStdString(), true);
    EXPECT_EQ(file->recordCount(), uint32_t(stored));
    EXPECT_EQ(bytes.size(), file->headerLength() + stored * file->recordLength() + 1)
        << "bytes past the last record";
    EXPECT_EQ(bytes.back(), '\x1A');
    EXPECT_EQ(file->readString(uint32_t(stored - 1), 0), QStringLiteral("Испытуемый %1").arg(stored - 1));
    QString report;
    EXPECT_EQ(peerCheck(mountPoint.path(), &report), 0) << report.toStdString();
}
