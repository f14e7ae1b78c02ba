// What the administrator's commands say of erasures: the log holds only erasures that happened,
// and `morv-db check` names an erasure a crash stopped half way until it is finished.
#include "TestDb.h"
#include "data/Erasure.h"
#include "dataset/Table.h"
#include "dbf/Erase.h"
#include "dbf/Os.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace os = dbf::os;

namespace {

int morvDb(const QStringList& args, QString* out = nullptr) {
    return runCommand(QStringLiteral(MORV_DB_TOOL), args, out);
}

void fill(const QString& path, const std::vector<std::vector<db::Variant>>& rows) {
    db::Table t;
    t.setTableName(path);
    t.open();
    for (const auto& r : rows) {
        t.append();
        t.setFields(r);
        t.post();
    }
}

// Two testees of institution 1 with answers and scores.
void makeDatabase(const TestDb& db) {
    fill(db.path("bd_anket.dbf"),
         {{1, 1, "Иванов", "Пётр", "Ильич", "М", 1990, 1}, {2, 1, "Петрова", "Анна", "", "Ж", 1985, 2}});
    std::vector<std::vector<db::Variant>> answers, scores;
    for (int q = 1; q <= 10; ++q)
        for (int testee = 1; testee <= 2; ++testee)
            answers.push_back({1, testee, QDate(2024, 3, testee), 5, q, q % 4});
    for (int testee = 1; testee <= 2; ++testee)
        scores.push_back({1, testee, QDate(2024, 3, testee), 5, 1, 10.5 + testee});
    fill(db.path("bd_rezult.dbf"), answers);
    fill(db.path("bd_rez.dbf"), scores);
}

int rowsOf(const QString& path, int testee) {
    int n = 0;
    for (const QString& v : readColumn(path, "NOMTESTIR"))
        n += v.toInt() == testee;
    return n;
}

QStringList logLines(const TestDb& db) {
    QFile log(db.path(QLatin1String(schema::kErasureLog)));
    if (!log.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
}

TEST(ErasureLog, HoldsOnlyErasuresThatHappened) {
    TestDb db;
    makeDatabase(db);
    QString out;
    EXPECT_EQ(morvDb({"erase", db.dir(), "--org", "2", "--testee", "77"}, &out), 1);
    EXPECT_TRUE(out.contains("nothing erased")) << out.toStdString();
    EXPECT_TRUE(logLines(db).isEmpty()) << logLines(db).join('\n').toStdString();

    ASSERT_EQ(morvDb({"erase", db.dir(), "--org", "1", "--testee", "2"}, &out), 0) << out.toStdString();
    ASSERT_EQ(logLines(db).size(), 1);
    EXPECT_TRUE(logLines(db)[0].contains("erased institution 1 testee 2")) << logLines(db)[0].toStdString();
    // Erasing the same person again finds nothing, and the log keeps its one line.
    EXPECT_EQ(morvDb({"erase", db.dir(), "--org", "1", "--testee", "2"}, &out), 1);
    EXPECT_EQ(logLines(db).size(), 1);
}

// Stops an erasure after its journal was stored and some of its renames made: a rename fails,
// and so does the opening by which the erasure would finish on the spot, as when the process is
// killed in between. Tries the nth opening until that state is reached.
bool stopHalfWay(const TestDb& db) {
    const QStringList files = QDir(db.dir()).entryList(QDir::Files);
    QMap<QString, QByteArray> original;
    for (const QString& f : files)
        original[f] = bytesOf(db.path(f));
    for (int rename = 3; rename <= 6; ++rename)
        for (int open = 1; open <= 60; ++open) {
            for (auto it = original.begin(); it != original.end(); ++it) {
                QFile f(db.path(it.key()));
                if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
                f.write(it.value());
            }
            for (const QString& f : QDir(db.dir()).entryList(QDir::Files))
                if (!original.contains(f)) QFile::remove(db.path(f));
            os::failNext(os::Call::Rename, EIO, rename);
            os::failNext(os::Call::Open, EMFILE, open);
            try {
                schema::eraseTestee(db.dir(), 1, 2);
            } catch (const std::exception&) {
            }
            os::clearFaults();
            const std::string left = dbf::unfinishedErasure(db.dir().toStdString());
            if (left.find("half way") != std::string::npos && left.find("no table") == std::string::npos)
                return true;
        }
    return false;
}

TEST(ErasureCheck, NamesAnErasureStoppedHalfWayUntilItIsFinished) {
    TestDb db;
    makeDatabase(db);
    QString out;
    ASSERT_EQ(morvDb({"check", db.dir()}, &out), 0) << out.toStdString();
    ASSERT_TRUE(stopHalfWay(db)) << "no opening count left the erasure half done";
    // Half done indeed: some table is erased, the testee's own row is still there.
    EXPECT_EQ(rowsOf(db.path("bd_anket.dbf"), 2), 1);

    EXPECT_EQ(morvDb({"check", db.dir()}, &out), 1);
    EXPECT_TRUE(out.contains(QRegularExpression("erase.journal +FAILED: an erasure was stopped half way: .* "
                                                "erased, .*bd_anket.dbf not yet")))
        << out.toStdString();
    EXPECT_TRUE(out.contains("morv-db erase " + db.dir() + " --finish")) << out.toStdString();
    EXPECT_TRUE(out.contains("an erasure is unfinished")) << out.toStdString();

    ASSERT_EQ(morvDb({"erase", db.dir(), "--finish"}, &out), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("an interrupted erasure was finished")) << out.toStdString();
    for (const char* table : {"bd_anket.dbf", "bd_rezult.dbf", "bd_rez.dbf"}) {
        EXPECT_EQ(rowsOf(db.path(table), 2), 0) << table;
        EXPECT_GT(rowsOf(db.path(table), 1), 0) << table;
    }
    EXPECT_EQ(morvDb({"check", db.dir()}, &out), 0) << out.toStdString();
    EXPECT_EQ(morvDb({"erase", db.dir(), "--finish"}, &out), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("no unfinished erasure")) << out.toStdString();
}

} // namespace
