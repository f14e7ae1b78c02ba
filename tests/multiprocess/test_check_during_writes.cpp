// `morv-db check` while workstations write: a writer between its steps is no damage, and damage
// that stays is still reported. Real processes throughout: the writers are program instances
// registering testees and answering whole tests, the check is the command administrators run.
#include "TestDb.h"
#include "dbf/DbfFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

int morvDb(const QStringList& args, QString* out = nullptr) {
    return runCommand(QStringLiteral(MORV_DB_TOOL), args, out);
}

TEST(CheckDuringWrites, ReportsNothingWhileTwoWorkstationsWriteAndStillFindsRealDamage) {
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("db");
    QString out;
    ASSERT_EQ(morvDb({"sample", dir}, &out), 0) << out.toStdString();

    // Two writers, each registering testees and answering test 1 in full for each: appends,
    // key changes of the answer index and score rows, all the time.
    QProcess writers[2];
    for (QProcess& w : writers) {
        w.setProcessChannelMode(QProcess::MergedChannels);
        w.start(QStringLiteral(MORV_WORKSTATION_CHILD), {"runs", dir, "40"});
        ASSERT_TRUE(w.waitForStarted());
    }
    int checks = 0;
    QStringList falseReports;
    auto writing = [&] {
        return writers[0].state() != QProcess::NotRunning || writers[1].state() != QProcess::NotRunning;
    };
    // Bounded: at most 200 checks, and the writers' own end stops it sooner.
    while (writing() && checks < 200) {
        if (morvDb({"check", dir}, &out) != 0) falseReports << out;
        ++checks;
    }
    for (QProcess& w : writers) {
        ASSERT_TRUE(w.waitForFinished(300000));
        EXPECT_EQ(w.exitCode(), 0) << w.readAll().toStdString();
    }
    EXPECT_GE(checks, 5) << "the writers ended before the checks could meet them";
    EXPECT_TRUE(falseReports.isEmpty())
        << falseReports.size() << " of " << checks << " checks reported damage, the first:\n"
        << falseReports.value(0).toStdString();
    ASSERT_EQ(morvDb({"check", dir}, &out), 0) << out.toStdString();

    // Damage that stays: a record cut off after the last one, and a broken date field.
    {
        QFile f(QDir(dir).filePath("bd_rez.dbf"));
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("   1     1");
    }
    const QString rezult = QDir(dir).filePath("bd_rezult.dbf");
    qint64 at = 0;
    {
        const auto f = dbf::DbfFile::open(rezult.toStdString(), true);
        at = f->headerLength() + 1 + f->fields()[size_t(f->fieldIndex("DATA"))].offset;
    }
    patchFile(rezult, at, "20241399");
    EXPECT_EQ(morvDb({"check", dir}, &out), 1);
    EXPECT_TRUE(out.contains(QRegularExpression("bd_rez.dbf +FAILED: 10 bytes after the last record")))
        << out.toStdString();
    EXPECT_TRUE(out.contains(QRegularExpression("bd_rezult.dbf +FAILED: record 1, field DATA")))
        << out.toStdString();
}

} // namespace
