// Moving an office's folder to a server and back carries the tables made on first use too:
// group sessions, their codes and the norms, with the server's keys on them.
#include "PgSchema.h"
#include "PgServer.h"
#include "PgStore.h"
#include "TestDb.h"
#include "data/Schema.h"
#include "dataset/Aliases.h"
#include "dataset/Table.h"

#include <QDir>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QStringList kOptional = {"bd_seans", "bd_kod", "bd_norm"};

// Norm rows as the norms window stores them: a mean and deviation row and percentile rows,
// with empty fields, fractions and a Cyrillic sex.
void addNorms(const QString& dir) {
    db::Table t;
    t.setTableName(schema::ensureTable(dir, schema::norms()));
    t.open();
    const std::vector<std::vector<db::Variant>> rows = {
        {3, 1, QStringLiteral("Ж"), 18, 25, 12.5, 2.25, db::Variant(), db::Variant(), 40.0},
        {3, 1, QStringLiteral("Ж"), 18, 25, db::Variant(), db::Variant(), 14.0, 60.5, db::Variant()},
        {4, 2, QString(), db::Variant(), db::Variant(), -1.75, 0.125, db::Variant(), db::Variant(), 7.0}};
    for (const auto& row : rows) {
        t.append();
        for (size_t c = 0; c < row.size(); ++c)
            t.fields()[qsizetype(c)]->setValue(row[c]);
        t.post();
    }
}

// Every row of table in dir and on the server, compared value by value by outside readers.
void expectSameOnServer(const QString& dir, const QString& url, const QString& table) {
    const QStringList folder = peerDump(dir, table);
    ASSERT_FALSE(folder.isEmpty()) << table.toStdString();
    QStringList columns;
    for (const QString& n : QJsonDocument::fromJson(folder[0].toUtf8()).object().keys())
        columns << n.toLower();
    const QStringList server = psqlDump(url, table, columns);
    ASSERT_EQ(server.size(), folder.size()) << table.toStdString();
    for (qsizetype i = 0; i < folder.size(); ++i) {
        QString why;
        EXPECT_TRUE(sameRow(QJsonDocument::fromJson(folder[i].toUtf8()).object(),
                            QJsonDocument::fromJson(server[i].toUtf8()).object(), &why))
            << table.toStdString() << " row " << i + 1 << ": " << why.toStdString();
    }
}

class PgMigrateTest : public PgDatabaseTest {};

TEST_F(PgMigrateTest, SessionsCodesAndNormsGoToTheServerWithTheirKeysAndComeBackWithTheirIndexes) {
    QTemporaryDir work;
    const QString office = work.filePath("office"), back = work.filePath("back");
    QString out;
    ASSERT_EQ(runCommand(MORV_DB_TOOL, {"sample", office}, &out), 0) << out.toStdString();
    ASSERT_EQ(
        runCommand(MORV_DB_TOOL, {"session", office, "--test", "1", "--org", "1", "--testees", "all"}, &out),
        0)
        << out.toStdString();
    ASSERT_EQ(runCommand(MORV_DB_TOOL, {"session", office, "--close", "1"}, &out), 0) << out.toStdString();
    addNorms(office);

    ASSERT_EQ(runCommand(MORV_DB_TOOL, {"migrate", office, url}, &out), 0) << out.toStdString();
    for (const QString& table : kOptional)
        expectSameOnServer(office, url, table);
    // The server keeps the keys a workstation relies on: one row per session number.
    EXPECT_EQ(psqlText(url, "SELECT conname FROM pg_constraint WHERE conrelid = 'bd_seans'::regclass AND "
                            "contype = 'u'"),
              "bd_seans_unique1");
    EXPECT_TRUE(psqlText(url, "SELECT indexdef FROM pg_indexes WHERE indexname = 'bd_norm_norm'")
                    .endsWith("(nomtesta, krit)"));

    ASSERT_EQ(runCommand(MORV_DB_TOOL, {"migrate", url, back}, &out), 0) << out.toStdString();
    EXPECT_EQ(peerCheck(back, &out), 0) << out.toStdString();
    EXPECT_EQ(runCommand(MORV_DB_TOOL, {"check", back}, &out), 0) << out.toStdString();
    for (const QString& table : kOptional) {
        EXPECT_EQ(peerDump(back, table), peerDump(office, table)) << table.toStdString();
        EXPECT_TRUE(QFileInfo::exists(QDir(back).filePath(table + ".MDX"))) << table.toStdString();
    }
    // The sessions open again in the new folder: the codes are found through its index.
    EXPECT_EQ(runCommand(MORV_DB_TOOL, {"session", back, "--reopen", "1"}, &out), 0) << out.toStdString();
    const QString peer = sharedTool(QStringLiteral("mdx-peer"));
    if (peer.isEmpty()) GTEST_SKIP() << "no ../shared/tools/mdx-peer beside this checkout";
    for (const QString& table : kOptional)
        EXPECT_EQ(runCommand(peer, {"check", QDir(back).filePath(table + ".dbf")}, &out), 0)
            << table.toStdString() << ": " << out.toStdString();
}

TEST_F(PgMigrateTest, AnOptionalTableTheServerRefusesOrAlreadyHoldsLeavesTheServerAsItWas) {
    // Two sessions with one number: the folder's own program would never write it, a damaged
    // copy might.
    TestDb office;
    office.add("bd_sprav.dbf", {1, 1, QStringLiteral("Школа")});
    office.add("bd_org.dbf", {7.0, 1, QStringLiteral("Первая")});
    schema::ensureTable(office.dir(), schema::sessionsTable());
    office.add("bd_seans.dbf", {5, 1, 7.0, QStringLiteral("AAAAAA"), 1, 0, QDate(2024, 3, 1)});
    office.add("bd_seans.dbf", {5, 2, 7.0, QStringLiteral("BBBBBB"), 1, 0, QDate(2024, 3, 2)});
    QString out;
    EXPECT_EQ(runCommand(MORV_DB_TOOL, {"migrate", office.dir(), url}, &out), 1);
    EXPECT_TRUE(out.contains("bd_seans")) << out.toStdString();
    EXPECT_TRUE(pg::existingTables(url).isEmpty());
    EXPECT_EQ(psqlText(url, "SELECT count(*) FROM information_schema.tables WHERE table_schema = 'public'"),
              "0");

    // A server that already holds norms of its own keeps them unless the copy is forced.
    const QString other = server->newDatabase();
    schema::ensureTable(other, schema::norms());
    psqlText(other, "INSERT INTO bd_norm (nomtesta, krit) VALUES (9, 9)");
    ASSERT_EQ(psqlText(other, "SELECT krit::int FROM bd_norm"), "9");
    TestDb plain;
    addNorms(plain.dir());
    EXPECT_EQ(runCommand(MORV_DB_TOOL, {"migrate", plain.dir(), other}, &out), 1);
    EXPECT_TRUE(out.contains("bd_norm")) << out.toStdString();
    EXPECT_TRUE(pg::existingTables(other).isEmpty());
    EXPECT_EQ(psqlText(other, "SELECT krit::int FROM bd_norm"), "9");
    ASSERT_EQ(runCommand(MORV_DB_TOOL, {"migrate", plain.dir(), other, "--force"}, &out), 0)
        << out.toStdString();
    expectSameOnServer(plain.dir(), other, "bd_norm");
}

} // namespace
