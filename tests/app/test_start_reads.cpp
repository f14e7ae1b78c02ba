// The program's start on a database with big tables reads none of them whole, and a grid over a
// query nobody has looked at yet reads its rows only once it is shown.
#include "Fault.h"
#include "TestDb.h"
#include "UiTest.h"
#include "app/Startup.h"
#include "data/DM.h"
#include "dataset/Query.h"
#include "dataset/Table.h"
#include "dbf/Os.h"
#include "widgets/DBGrid.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

TEST(DeferredStart, HiddenGridLeavesAQueryUnreadUntilShown) {
    TestDb db;
    const int n = 120;
    for (int i = 0; i < n; ++i)
        db.add(QStringLiteral("bd_rez.dbf"), {1, 1, QDate(2024, 5, 6), 1, i % 7, i / 4.0});
    db::Query q;
    q.setDatabaseName(QStringLiteral("morv"));
    q.setSql({QStringLiteral("Select KRIT,BALL From bd_rez")});
    db::DataSource source(nullptr, &q);
    ui::DBGrid grid;
    grid.setDataSource(&source);
    q.open();
    EXPECT_TRUE(q.viewPending());
    EXPECT_EQ(grid.model()->rowCount(), 0);
    grid.resize(300, 200);
    grid.show();
    EXPECT_FALSE(q.viewPending());
    EXPECT_EQ(grid.model()->rowCount(), n);
    EXPECT_EQ(grid.currentIndex().row(), 0);
    EXPECT_DOUBLE_EQ(q.valueAt(n - 1, q.fieldAt(1)).toDouble(), (n - 1) / 4.0);
    // Opened again while shown: read at once.
    q.close();
    q.open();
    EXPECT_FALSE(q.viewPending());
    EXPECT_EQ(grid.model()->rowCount(), n);
}

// The program's start on a database with a big answer table: nothing reads it whole.
TEST(DeferredStart, StartReadsNoWholeAnswerTable) {
    TestDb db;
    QString out;
    ASSERT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL),
                         {QStringLiteral("large"), db.dir(), QStringLiteral("--force"),
                          QStringLiteral("--orgs"), QStringLiteral("2"), QStringLiteral("--testees"),
                          QStringLiteral("1000"), QStringLiteral("--tests"), QStringLiteral("2"),
                          QStringLiteral("--questions"), QStringLiteral("20"), QStringLiteral("--answers"),
                          QStringLiteral("40000"), QStringLiteral("--scores"), QStringLiteral("6000"),
                          QStringLiteral("--criteria"), QStringLiteral("3")},
                         &out),
              0)
        << out.toStdString();
    const qint64 answers = QFileInfo(db.path(QStringLiteral("bd_rezult.dbf"))).size();
    ASSERT_GT(answers, 2'000'000);
    MessageRecorder messages;
    const uint64_t before = dbf::os::bytesRead();
    InitApplication();
    CreateApplicationForms();
    const uint64_t read = dbf::os::bytesRead() - before;
    EXPECT_TRUE(messages.entries.empty()) << messages.texts().join('|').toStdString();
    // The answer table's index is read in part for the lists; its records are not.
    EXPECT_LT(read, uint64_t(answers / 2)) << "the start read " << read << " bytes";
    EXPECT_TRUE(BD->Table_rezult->viewPending());
    EXPECT_TRUE(BD->Query1->viewPending());
    // Used, they show every row.
    EXPECT_EQ(BD->Table_rezult->recordCount(), 40000);
    EXPECT_EQ(BD->Query1->recordCount(), 6000);
    DestroyApplicationForms();
}

// A start refused for a damaged table changes nothing in the folder: no file made, none touched.
TEST(RefusedStart, LeavesTheFolderAsItWas) {
    TestDb db;
    QFile cut(db.path(QStringLiteral("bd_rezult.dbf")));
    ASSERT_TRUE(cut.resize(100));
    auto listing = [&] {
        QStringList files;
        for (const QFileInfo& f : QDir(db.dir()).entryInfoList(QDir::Files | QDir::Hidden, QDir::Name))
            files << f.fileName() + QLatin1Char(' ') + QString::number(f.size()) + QLatin1Char(' ') +
                         QString::number(f.lastModified().toMSecsSinceEpoch());
        return files;
    };
    const QStringList before = listing();
    MessageRecorder messages;
    InitApplication();
    try {
        CreateApplicationForms();
        ADD_FAILURE() << "started on a table cut to 100 bytes";
    } catch (const db::DatabaseError& e) {
        EXPECT_EQ(db::faultOf(e).fault, db::Fault::TableDamaged) << e.what();
    }
    DestroyApplicationForms();
    EXPECT_EQ(listing(), before);
}
