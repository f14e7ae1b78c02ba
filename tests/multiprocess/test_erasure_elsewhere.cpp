// Erasing a testee while other workstations, real processes, have the tables open: one editing a
// record stops the erasure with a message and loses nothing; one only looking sees the tables
// replaced and what is stored now.
#include "TestDb.h"
#include "dbf/DbfFile.h"

#include <QDir>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

int morvDb(const QStringList& args, QString* out) {
    return runCommand(QStringLiteral(MORV_DB_TOOL), args, out);
}

// A second workstation: started, waiting after its first line.
struct Workstation {
    QProcess p;
    QString first;
    Workstation(const char* mode, const QString& table) {
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(MORV_LOCK_CHILD), {QLatin1String(mode), table});
        if (p.waitForReadyRead(30000)) first = QString::fromUtf8(p.readLine()).trimmed();
    }
    QString finish() {
        p.write("go\n");
        p.closeWriteChannel();
        p.waitForFinished(30000);
        return QString::fromUtf8(p.readAll()).trimmed();
    }
};

uint32_t records(const QString& table) {
    return dbf::DbfFile::open(table.toStdString(), true)->recordCount();
}

} // namespace

TEST(ErasureElsewhere, AnEditElsewhereStopsItAndAWatcherSeesTheTablesReplaced) {
    QTemporaryDir dir;
    QString out;
    ASSERT_EQ(morvDb({"sample", dir.path()}, &out), 0) << out.toStdString();
    const QString rezult = dir.filePath("bd_rezult.dbf"), anket = dir.filePath("bd_anket.dbf");
    const uint32_t answers = records(rezult), testees = records(anket);

    {
        Workstation editing("edit", rezult);
        ASSERT_EQ(editing.first, "locked");
        EXPECT_EQ(morvDb({"erase", dir.path(), "--org", "1", "--testee", "1"}, &out), 1);
        EXPECT_TRUE(out.contains("bd_rezult.dbf") && out.contains("edit")) << out.toStdString();
        EXPECT_EQ(records(rezult), answers);
        EXPECT_EQ(records(anket), testees);
        EXPECT_FALSE(QFile::exists(dir.filePath("erase.log")));
        EXPECT_EQ(editing.finish(), "");
    }

    Workstation watching("watch", rezult);
    ASSERT_EQ(watching.first, QStringLiteral("open %1").arg(answers));
    ASSERT_EQ(morvDb({"erase", dir.path(), "--org", "1", "--testee", "1"}, &out), 0) << out.toStdString();
    const uint32_t left = records(rezult);
    EXPECT_LT(left, answers);
    EXPECT_EQ(records(anket), testees - 1);
    const QString seen = watching.finish();
    EXPECT_TRUE(seen.contains("bd_rezult.dbf was replaced by another program")) << seen.toStdString();
    EXPECT_TRUE(seen.contains("cuts 1")) << seen.toStdString();
    EXPECT_EQ(morvDb({"check", dir.path()}, &out), 0) << out.toStdString();
}
