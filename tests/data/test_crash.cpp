// A writer killed at any moment leaves every table readable with every posted record present.
#include "TestDb.h"
#include "dataset/Table.h"

#include <QMap>
#include <QProcess>
#include <gtest/gtest.h>

TEST(CrashSafety, KilledWriterLosesNoPostedRecordInAnyTable) {
    TestDb db;
    QMap<QString, int> posted;
    for (int round = 0; round < 4; ++round) {
        QProcess writer;
        writer.start(QStringLiteral(MORV_CRASH_WRITER), {db.dir()});
        ASSERT_TRUE(writer.waitForStarted());
        // Let it run for a different number of posts each round, then kill it mid-stream.
        int target = 30 + round * 41, seen = 0;
        QByteArray pending;
        auto consume = [&] {
            pending += writer.readAllStandardOutput();
            int nl;
            while ((nl = pending.indexOf('\n')) >= 0) {
                QList<QByteArray> parts = pending.left(nl).split(' ');
                pending.remove(0, nl + 1);
                if (parts.size() == 2) {
                    posted[QString::fromLatin1(parts[0])] =
                        parts[1].toInt() + (round ? posted.value("base_" + parts[0]) : 0);
                    ++seen;
                }
            }
        };
        while (seen < target && writer.waitForReadyRead(10000))
            consume();
        writer.kill();
        writer.waitForFinished();
        consume();
        ASSERT_GE(seen, target) << "the writer stopped early";

        for (const QString& file : {QStringLiteral("bd_rezult.dbf"), QStringLiteral("bd_rez.dbf"),
                                    QStringLiteral("bd_analiz.dbf")}) {
            SCOPED_TRACE(file.toStdString());
            db::Table t;
            t.setTableName(db.path(file));
            t.open();
            QString base = file.section('.', 0, 0);
            EXPECT_GE(t.recordCount(), posted.value(base)) << "a posted record was lost";
            // Every record and every memo text reads back.
            for (t.first(); !t.eof(); t.next())
                for (db::Field* f : t.fields())
                    (void)f->value();
            posted["base_" + base] = t.recordCount();
        }
        QString report;
        EXPECT_EQ(peerCheck(db.dir(), &report), 0) << report.toStdString();
    }
}
