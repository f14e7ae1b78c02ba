// A test as one file on a server database: the same file out of a folder and out of the server,
// and two workstations importing at once getting two numbers.
#include "PgServer.h"
#include "TestDb.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

int morvDb(const QStringList& args, QString* out = nullptr) {
    return runCommand(QStringLiteral(MORV_DB_TOOL), args, out);
}

class PgExchangeTest : public PgDatabaseTest {};

TEST_F(PgExchangeTest, ServerGivesTheFolderFileBackAndTwoImportsGetTwoNumbers) {
    if (!ready()) return;
    makeSample();
    QTemporaryDir work;
    const QString folder = work.filePath(QStringLiteral("office"));
    ASSERT_EQ(morvDb({QStringLiteral("sample"), folder}), 0);
    const QString fromFolder = work.filePath(QStringLiteral("folder.json")),
                  fromServer = work.filePath(QStringLiteral("server.json"));
    QString out;
    ASSERT_EQ(morvDb({QStringLiteral("test-export"), folder, QStringLiteral("--test"), QStringLiteral("3"),
                      QStringLiteral("--output"), fromFolder},
                     &out),
              0)
        << out.toStdString();
    ASSERT_EQ(morvDb({QStringLiteral("test-export"), url, QStringLiteral("--test"), QStringLiteral("3"),
                      QStringLiteral("--output"), fromServer},
                     &out),
              0)
        << out.toStdString();
    EXPECT_EQ(bytesOf(fromFolder), bytesOf(fromServer));

    // Refused without --as-new, nothing written.
    const QString before = psqlText(url, QStringLiteral("SELECT count(*) FROM bd_vopros"));
    EXPECT_EQ(morvDb({QStringLiteral("test-import"), url, fromFolder}, &out), 1) << out.toStdString();
    EXPECT_EQ(psqlText(url, QStringLiteral("SELECT count(*) FROM bd_vopros")), before);

    QProcess a, b;
    const QStringList args{QStringLiteral("test-import"), url, fromFolder, QStringLiteral("--as-new")};
    a.start(QStringLiteral(MORV_DB_TOOL), args);
    b.start(QStringLiteral(MORV_DB_TOOL), args);
    ASSERT_TRUE(a.waitForFinished(120000) && b.waitForFinished(120000));
    EXPECT_EQ(a.exitCode(), 0) << a.readAllStandardError().toStdString();
    EXPECT_EQ(b.exitCode(), 0) << b.readAllStandardError().toStdString();
    EXPECT_EQ(psqlText(url, QStringLiteral("SELECT string_agg(ntest::text, ',' ORDER BY ntest) FROM bd_test "
                                           "WHERE ntest > 3"))
                  .trimmed(),
              QStringLiteral("4,5"));
    // Each copy whole: as many questions and key rows as the original.
    EXPECT_EQ(
        psqlText(url, QStringLiteral("SELECT count(DISTINCT c) FROM (SELECT ntest, count(*) c FROM bd_vopros "
                                     "WHERE ntest IN (3, 4, 5) GROUP BY ntest) q"))
            .trimmed(),
        QStringLiteral("1"));
    EXPECT_EQ(psqlText(url, QStringLiteral("SELECT count(DISTINCT c) FROM (SELECT nomtesta, count(*) c FROM "
                                           "bd_summa WHERE nomtesta IN (3, 4, 5) GROUP BY nomtesta) q"))
                  .trimmed(),
              QStringLiteral("1"));
}

} // namespace
