// Another program cutting, rewriting or replacing a table this process has open: every read
// stays within what we hold, the change is noticed and said, and nothing is written to the wrong
// place.
#include "../app/AppFixture.h"
#include "Errors.h"
#include "TestDb.h"
#include "app/Main.h"
#include "data/DM.h"
#include "dataset/Table.h"
#include "dbf/DbfFile.h"
#include "maintenance/Table.h"
#include "widgets/DBGrid.h"
#include "widgets/DBNavigator.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

void otherTool(const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(MORV_LOCK_CHILD), args);
    ASSERT_TRUE(p.waitForFinished(60000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAll().toStdString();
    QThread::msleep(30); // past the table's pause between looks at the file
}

class Underneath : public ::testing::Test {
protected:
    void SetUp() override {
        dbf::DbfFile::create(path().toStdString(), {{"NAME", 'C', 20, 0}, {"N", 'N', 10, 0}});
        auto f = dbf::DbfFile::open(path().toStdString());
        f->setDurable(false);
        for (int i = 0; i < kRecords; ++i)
            f->appendRecord(" " + std::string(20, 'a' + i % 26) + f->formatNumber(1, i));
        t.setTableName(path());
        t.open();
    }
    QString path() const { return dir.filePath("counter.dbf"); }
    // The number of records the file's header gives and the file's length agree on.
    uint32_t storedRecords() {
        auto f = dbf::DbfFile::open(path().toStdString(), true);
        EXPECT_EQ(f->strayBytes(), 0u);
        return f->recordCount();
    }
    QString failure(const std::function<void()>& step) {
        try {
            step();
        } catch (const db::EngineError& e) {
            return e.message();
        }
        return {};
    }
    static constexpr int kRecords = 20000; // many chunks of records
    QTemporaryDir dir;
    db::Table t;
};

} // namespace

TEST_F(Underneath, AFileCutShorterIsReadWithinWhatItHoldsThenNoticedAndTheViewRebuilt) {
    t.last(); // the last chunk is read
    EXPECT_EQ(t.fieldValue("N").toInt(), kRecords - 1);
    otherTool({QStringLiteral("cut"), path(), QStringLiteral("10")});
    // Records past the new end, read before anyone noticed: blank, never a crash.
    dbf::DbfFile* f = t.file();
    for (uint32_t rec : {10u, 5000u, 12345u, uint32_t(kRecords - 1)})
        (void)f->readString(rec, 0);

    const QString said = failure([&] { t.first(); });
    EXPECT_TRUE(said.contains(QStringLiteral("counter.dbf")) && said.contains("another program"))
        << said.toStdString();
    EXPECT_EQ(t.recordCount(), 10);
    EXPECT_EQ(t.recNo(), 0);
    int seen = 0;
    for (t.first(); !t.eof(); t.next())
        EXPECT_EQ(t.fieldValue("N").toInt(), seen++);
    EXPECT_EQ(seen, 10);

    // A new record goes after what is stored, not after what was there before the cut.
    t.append();
    t.setFields({QStringLiteral("new"), 99});
    t.post();
    EXPECT_EQ(t.recordNumber(t.recNo()), 10u);
    EXPECT_EQ(storedRecords(), 11u);
}

TEST_F(Underneath, AnEditOfARecordCutAwayIsRefusedAndWritesNothing) {
    t.moveBy(15000);
    otherTool({QStringLiteral("cut"), path(), QStringLiteral("10")});
    const qint64 size = QFileInfo(path()).size();
    EXPECT_FALSE(failure([&] { t.edit(); }).isEmpty());
    EXPECT_EQ(t.state(), db::DataSetState::Browse);
    EXPECT_EQ(t.recordCount(), 10);
    EXPECT_EQ(QFileInfo(path()).size(), size);

    // The same for a record written past the view: the engine's own check refuses it.
    t.last();
    t.edit();
    otherTool({QStringLiteral("cut"), path(), QStringLiteral("3")});
    t.setFieldValue("N", 1);
    EXPECT_TRUE(failure([&] { t.post(); }).contains("no longer stored"));
    EXPECT_EQ(storedRecords(), 3u);
    t.cancel();
}

TEST_F(Underneath, ARecordChangedElsewhereIsReadAgainWhenAnEditTakesItsLock) {
    t.first();
    EXPECT_EQ(t.fieldValue("N").toInt(), 0);
    {
        // Another instance's post of the first record.
        db::Table other;
        other.setTableName(path());
        auto f = dbf::DbfFile::open(path().toStdString());
        std::string rec(f->record(0), f->recordLength());
        rec.replace(21, 10, f->formatNumber(1, 777));
        f->writeRecord(0, rec);
    }
    t.edit();
    EXPECT_EQ(t.fieldValue("N").toInt(), 777);
    t.setFieldValue("NAME", QStringLiteral("mine"));
    t.post();
    db::Table check;
    check.setTableName(path());
    check.open();
    EXPECT_EQ(check.fieldValue("N").toInt(), 777) << "the post overwrote a change it had not seen";
    EXPECT_EQ(check.fieldValue("NAME").toString(), QStringLiteral("mine"));
}

TEST_F(Underneath, AFileRewrittenWithAnotherStructureOrReplacedTakesNoMoreWrites) {
    t.last();
    otherTool({QStringLiteral("reshape"), path()});
    const QByteArray after = [&] {
        QFile f(path());
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    const QString said = failure([&] { t.first(); });
    EXPECT_TRUE(said.contains("another structure")) << said.toStdString();
    EXPECT_EQ(t.recordCount(), 0);
    EXPECT_FALSE(failure([&] {
                     t.append();
                     t.setFields({QStringLiteral("x"), 1});
                     t.post();
                 }).isEmpty());
    t.cancel();
    QFile f(path());
    f.open(QIODevice::ReadOnly);
    EXPECT_EQ(f.readAll(), after) << "a write reached a file of another structure";
}

TEST_F(Underneath, AnAppendToAFileAnotherProgramPutInItsPlaceIsRefused) {
    t.first();
    otherTool({QStringLiteral("replace"), path()});
    const QString said = failure([&] {
        t.append();
        t.setFields({QStringLiteral("lost?"), 1});
        t.post();
    });
    EXPECT_TRUE(said.contains("replaced")) << said.toStdString();
    t.cancel();
    EXPECT_EQ(storedRecords(), 0u) << "the append went to the file no one sees any more";
}

// The table window over bd_rezult when another program packs that table.
TEST_F(AppTest, ATableWindowOverAFileCutUnderneathSaysSoAndShowsWhatIsStored) {
    FormMain->bd_rezult1->trigger();
    ui::DBGrid* grid = FormTable->DBGrid1;
    const int before = grid->model()->rowCount();
    ASSERT_GT(before, 20);
    BD->Table_rezult->last();
    otherTool({QStringLiteral("cut"), db->path("bd_rezult.dbf"), QStringLiteral("5")});
    FormTable->grab(); // the grid paints rows past the new end
    messages->clear();
    QTest::mouseClick(FormTable->DBNavigator1->button(ui::nbFirst), Qt::LeftButton);
    settle();
    ASSERT_EQ(messages->entries.size(), 1u);
    EXPECT_TRUE(messages->entries[0].text.contains(QStringLiteral("bd_rezult")))
        << messages->entries[0].text.toStdString();
    EXPECT_EQ(grid->model()->rowCount(), 5);
    EXPECT_EQ(BD->Table_rezult->recNo(), 0);
    messages->clear();
    QTest::mouseClick(FormTable->DBNavigator1->button(ui::nbLast), Qt::LeftButton);
    EXPECT_TRUE(messages->entries.empty());
    EXPECT_EQ(BD->Table_rezult->recNo(), 4);
    FormTable->Close();
}
