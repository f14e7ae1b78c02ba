// Refused index steps and a damaged free-page list: a step the disk refuses leaves table and
// index byte for byte as they were; a writer never hands out a page a tag still uses.
#include "MdxTest.h"
#include "TestDb.h"
#include "dataset/Table.h"
#include "dbf/Bytes.h"
#include "dbf/Os.h"

#include <QFile>
#include <cerrno>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <unistd.h>

using dbf::DbfFile;
using dbf::TagSpec;
namespace os = dbf::os;

namespace {

QByteArray le32(uint32_t v) {
    QByteArray b(4, '\0');
    dbf::put32(reinterpret_cast<unsigned char*>(b.data()), v);
    return b;
}

void expectPeerSound(const QString& table) {
    if (mdxPeer().isEmpty()) return;
    QString out;
    EXPECT_EQ(runCommand(mdxPeer(), {QStringLiteral("check"), table}, &out), 0) << out.toStdString();
}

std::vector<std::string> readOnlyCheck(const QString& table) {
    return DbfFile::open(table.toStdString(), true)->checkIndex();
}

} // namespace

// Every write, sync and truncate of an answer row's append, in turn, fails as a full or failing
// disk makes it fail. A refused append leaves both files as they were, the busy mark clear; one
// that went through (the failing call was the last mark's) leaves every posted row keyed.
TEST(MdxRefusedStep, EveryFailingCallOfAnAnswerAppendLeavesTableAndIndexAsTheyWere) {
    TestDb tdb;
    const QString rezult = tdb.path(QStringLiteral("bd_rezult.dbf"));
    const QString mdx = tdb.path(QStringLiteral("bd_rezult.MDX"));
    std::mt19937 rng(23);
    auto row = [&] {
        return std::vector<db::Variant>{db::Variant(int(rng() % 3) + 1),   db::Variant(int(rng() % 60) + 1),
                                        db::Variant(QDate(2024, 3, 1)),    db::Variant(int(rng() % 4) + 1),
                                        db::Variant(int(rng() % 200) + 1), db::Variant(-1)};
    };
    for (int i = 0; i < 200; ++i) // several leaves, so appends land inside the tree and split it
        tdb.add(QStringLiteral("bd_rezult.dbf"), row());
    db::Table table;
    table.setTableName(rezult);
    table.open();
    int refused = 0, posted = 0;
    for (os::Call call : {os::Call::Write, os::Call::Sync, os::Call::Truncate}) {
        for (int nth = 1; nth <= 14; ++nth) {
            SCOPED_TRACE(testing::Message() << "call " << int(call) << ", nth " << nth);
            const QByteArray dbfBefore = bytesOf(rezult), mdxBefore = bytesOf(mdx);
            table.append();
            table.setFields(row());
            os::failNext(call, call == os::Call::Write ? ENOSPC : EIO, nth);
            bool ok = true;
            try {
                table.post();
            } catch (const db::DatabaseError& e) {
                ok = false;
                EXPECT_TRUE(e.message().contains(tdb.dir())) << e.what();
            }
            os::clearFaults();
            if (!ok) {
                ++refused;
                table.cancel();
                ASSERT_EQ(bytesOf(rezult), dbfBefore);
                ASSERT_EQ(bytesOf(mdx), mdxBefore) << "the refused step changed the index";
                EXPECT_EQ(readOnlyCheck(rezult), std::vector<std::string>{});
            } else {
                ++posted;
                // A mark the last call could not clear is repaired by the next writer.
                EXPECT_EQ(DbfFile::open(rezult.toStdString())->checkIndex(), std::vector<std::string>{});
            }
            expectPeerSound(rezult);
        }
    }
    EXPECT_GE(refused, 10); // the record, the mark, the pages, the header, the count: each written and synced
    EXPECT_GT(posted, 0);
}

// A real file system filling up under appends with wide keys: the index never changes on a
// refused append, and the index the last successful one left is sound for both readers.
TEST(MdxRefusedStep, AFullDiskLeavesTheIndexAsTheLastStoredRecordLeftIt) {
    QTemporaryDir mountPoint;
    const QString mount = QStringLiteral("mount -t tmpfs -o size=160k tmpfs '%1'").arg(mountPoint.path());
    if (geteuid() != 0 || std::system(mount.toLocal8Bit().constData()) != 0)
        GTEST_SKIP() << "no tmpfs can be mounted here (needs root)";
    struct Unmount {
        QByteArray at;
        ~Unmount() { (void)!std::system(("umount '" + at + "'").constData()); }
    } unmount{mountPoint.path().toLocal8Bit()};
    const QString table = mountPoint.filePath(QStringLiteral("full.dbf"));
    makeTable(table.toStdString(), 20, 2);
    DbfFile::createIndex(table.toStdString(),
                         {{"WIDE", "NAME+NAME+NAME", "", false, false}, {"QTY", "QTY", "", false, false}});
    const QString mdx = QString::fromStdString(DbfFile::indexPathFor(table.toStdString()));
    auto f = DbfFile::open(table.toStdString());
    std::mt19937 rng(8);
    uint32_t stored = f->recordCount();
    int refusals = 0;
    for (int i = 0; i < 5000 && refusals < 3; ++i) {
        const QByteArray before = bytesOf(mdx), dbfBefore = bytesOf(table);
        try {
            f->appendRecord(randomRecord(*f, rng));
            ++stored;
        } catch (const dbf::DbfError& e) {
            ++refusals;
            EXPECT_NE(std::string(e.what()).find(os::reason(ENOSPC)), std::string::npos) << e.what();
            ASSERT_EQ(bytesOf(mdx), before) << "after " << stored << " records";
            ASSERT_EQ(bytesOf(table), dbfBefore);
        }
    }
    ASSERT_GT(refusals, 0) << "the disk never filled";
    f.reset();
    auto reader = DbfFile::open(table.toStdString(), true);
    EXPECT_EQ(reader->recordCount(), stored);
    EXPECT_EQ(reader->checkIndex(), std::vector<std::string>{});
    expectPeerSound(table);
}

// The free-page list pointing at a page a tag uses (its root, a leaf inside it) or past the end:
// check names it; a writer does not hand that page out, and the tree stays sound.
TEST(MdxFreeList, APageInUseOnTheListIsCaughtByCheckAndNeverHandedOut) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("f.dbf").toStdString();
    makeTable(path, 1500, 4);
    const std::vector<TagSpec> tags = {{"QTY", "QTY", "", false, false}, {"NAME", "NAME", "", false, false}};
    DbfFile::createIndex(path, tags);
    const QString mdx = QString::fromStdString(DbfFile::indexPathFor(path));
    const QString table = QString::fromStdString(path);
    const QByteArray good = bytesOf(mdx), goodTable = bytesOf(table);
    auto* h = reinterpret_cast<const unsigned char*>(good.constData());
    const uint32_t tagHeader = dbf::le32(h + 544), root = dbf::le32(h + tagHeader * 512);
    const uint32_t firstLeaf = tagHeader + 2; // built bottom up: the first leaf follows the header
    ASSERT_NE(firstLeaf, root);
    for (uint32_t page : {root, firstLeaf, tagHeader, dbf::le32(h + 32) + 40}) {
        SCOPED_TRACE(page);
        for (const auto& [file, bytes] : {std::pair{mdx, good}, std::pair{table, goodTable}}) {
            QFile w(file);
            ASSERT_TRUE(w.open(QIODevice::WriteOnly | QIODevice::Truncate));
            w.write(bytes);
        }
        patchFile(mdx, 36, le32(page));
        const auto faults = readOnlyCheck(table);
        ASSERT_EQ(faults.size(), 1u);
        EXPECT_NE(faults[0].find("free-page list holds page " + std::to_string(page)), std::string::npos)
            << faults[0];
        {
            auto f = DbfFile::open(path);
            f->setDurable(false);
            std::mt19937 rng(page);
            for (int i = 0; i < 300; ++i)
                f->appendRecord(randomRecord(*f, rng));
            EXPECT_EQ(f->checkIndex(), std::vector<std::string>{});
            for (const TagSpec& t : tags) {
                std::vector<uint32_t> got;
                ASSERT_TRUE(f->tagOrder(t.name, got));
                EXPECT_EQ(got, expectedOrder(*f, t)) << t.name;
            }
        }
        expectPeerSound(table);
    }
}

// Pages freed by keys going away are a sound list: check accepts it, and later appends take
// those pages again instead of growing the file.
TEST(MdxFreeList, PagesFreedByTheProgramAreCheckedSoundAndUsedAgain) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("g.dbf").toStdString();
    makeTable(path, 1200, 6);
    const TagSpec live{"LIVE", "NAME+NAME", ".NOT. DELETED()", false, false};
    DbfFile::createIndex(path, {live});
    const QString mdx = QString::fromStdString(DbfFile::indexPathFor(path));
    auto f = DbfFile::open(path);
    f->setDurable(false);
    for (uint32_t r = 0; r < f->recordCount(); ++r)
        if (!f->isDeleted(r)) f->setDeleted(r, true);
    const QByteArray emptied = bytesOf(mdx);
    ASSERT_NE(dbf::le32(reinterpret_cast<const unsigned char*>(emptied.constData()) + 36), 0u)
        << "no page was freed";
    EXPECT_EQ(f->checkIndex(), std::vector<std::string>{});
    std::mt19937 rng(1);
    for (int i = 0; i < 400; ++i) {
        std::string r = randomRecord(*f, rng);
        r[0] = ' ';
        f->appendRecord(r);
    }
    EXPECT_EQ(f->checkIndex(), std::vector<std::string>{});
    EXPECT_EQ(bytesOf(mdx).size(), emptied.size()) << "freed pages were not used again";
    std::vector<uint32_t> got;
    ASSERT_TRUE(f->tagOrder("LIVE", got));
    EXPECT_EQ(got, expectedOrder(*f, live));
}
