// Erasing a testee for good: the others' rows stay byte for byte, nothing of the person stays
// in any file of the folder, the indexes stay sound, and a failure at any step leaves all or none.
#include "TestDb.h"
#include "data/Erasure.h"
#include "dataset/Table.h"
#include "dbf/CodePage.h"
#include "dbf/DbfFile.h"
#include "dbf/Os.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <map>

namespace os = dbf::os;

namespace {

const QString kErased = QStringLiteral("Щербакова");
const QByteArray kSecret = "confidential-note-of-testee-2";

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

// Three testees of institution 1, their answers and scores interleaved, so that removing the
// second moves later rows up; and a table another part of the program may add, with a memo.
void makeDatabase(const TestDb& db) {
    fill(db.path("bd_anket.dbf"), {{1, 1, "Иванов", "Пётр", "Ильич", "М", 1990, 1},
                                   {2, 1, kErased, "Анна", "Юрьевна", "Ж", 1985, 2},
                                   {3, 1, "Сидоров", "Олег", "", "М", 2001, 1},
                                   {2, 7, "Другой", "Тот же", "номер", "М", 1970, 1}});
    std::vector<std::vector<db::Variant>> answers, scores;
    for (int q = 1; q <= 30; ++q)
        for (int testee = 1; testee <= 3; ++testee)
            answers.push_back({1, testee, QDate(2024, 3, testee), 5, q, (q + testee) % 4});
    for (int k = 1; k <= 4; ++k)
        for (int testee = 1; testee <= 3; ++testee)
            scores.push_back({1, testee, QDate(2024, 3, testee), 5, k, 10.5 * k + testee});
    fill(db.path("bd_rezult.dbf"), answers);
    fill(db.path("bd_rez.dbf"), scores);
    dbf::DbfFile::create(db.path("web_code.dbf").toStdString(),
                         {{"NOMU", 'N', 20, 4}, {"NOMTESTIR", 'N', 20, 4}, {"NOTE", 'M', 10, 0}});
    fill(db.path("web_code.dbf"), {{1, 1, QStringLiteral("первый ") + QString(600, 'a')},
                                   {1, 2, QString::fromLatin1(kSecret) + QString(900, 'b')},
                                   {1, 3, QStringLiteral("третий")}});
}

// Raw records of a table as stored, in order.
std::vector<QByteArray> records(const QString& path) {
    auto f = dbf::DbfFile::open(path.toStdString(), true);
    std::vector<QByteArray> out;
    for (uint32_t r = 0; r < f->recordCount(); ++r)
        out.emplace_back(f->record(r), f->recordLength());
    return out;
}

bool isErasedRow(const QByteArray& rec) {
    // NOMU and NOMTESTIR are the first two fields of every table here but bd_anket.
    return rec.mid(1, 40) == QByteArray("              1.0000              2.0000");
}

struct Snapshot {
    std::map<QString, QByteArray> files;
    std::map<QString, std::vector<QByteArray>> rows;
};

const QStringList kTables = {"bd_anket.dbf", "bd_rezult.dbf", "bd_rez.dbf", "web_code.dbf"};

Snapshot snapshot(const QString& dir) {
    Snapshot s;
    for (const QString& name : QDir(dir).entryList(QDir::Files))
        if (name != QLatin1String(schema::kErasureLog)) s.files[name] = bytesOf(QDir(dir).filePath(name));
    for (const QString& t : kTables)
        s.rows[t] = records(QDir(dir).filePath(t));
    return s;
}

// What erasing testee 2 of institution 1 must leave: every other row, in order.
std::map<QString, std::vector<QByteArray>> expectedRows(const Snapshot& before) {
    std::map<QString, std::vector<QByteArray>> out;
    for (const auto& [table, rows] : before.rows)
        for (const QByteArray& r : rows) {
            const bool gone = table == QLatin1String("bd_anket.dbf")
                                  ? r.mid(1, 40) == QByteArray("              2.0000              1.0000")
                                  : isErasedRow(r);
            if (!gone) out[table].push_back(r);
        }
    return out;
}

// Nothing of the person in any file: not the name (as stored, cp866), not the memo text, not
// one of the removed rows, not the index key of the answers.
void expectNothingLeft(const QString& dir, const Snapshot& before) {
    std::string stored;
    ASSERT_TRUE(dbf::encode(kErased, dbf::CodePage::Cp866, stored));
    const QByteArray name = QByteArray::fromStdString(stored);
    const QByteArray key = "         1         2     5";
    std::vector<QByteArray> gone;
    for (const auto& [table, rows] : before.rows)
        for (const QByteArray& r : rows)
            if (isErasedRow(r)) gone.push_back(r);
    ASSERT_EQ(gone.size(), 30u + 4u + 1u);
    for (const QString& file : QDir(dir).entryList(QDir::Files)) {
        const QByteArray bytes = bytesOf(QDir(dir).filePath(file));
        EXPECT_FALSE(bytes.contains(name)) << file.toStdString();
        EXPECT_FALSE(bytes.contains(kSecret)) << file.toStdString();
        EXPECT_FALSE(bytes.contains(key)) << file.toStdString();
        for (const QByteArray& r : gone)
            ASSERT_FALSE(bytes.contains(r)) << file.toStdString() << ": " << r.toStdString();
    }
}

void expectIndexesSound(const QString& dir) {
    for (const QString& t : kTables) {
        auto f = dbf::DbfFile::open(QDir(dir).filePath(t).toStdString());
        const auto faults = f->checkIndex();
        EXPECT_TRUE(faults.empty()) << t.toStdString() << ": " << (faults.empty() ? "" : faults.front());
    }
    QString report;
    EXPECT_EQ(peerCheck(dir, &report), 0) << report.toStdString();
    const QString peer = sharedTool(QStringLiteral("mdx-peer"));
    if (peer.isEmpty()) return;
    for (const char* t : {"bd_anket.dbf", "bd_rezult.dbf"}) {
        QString out;
        EXPECT_EQ(runCommand(peer, {QStringLiteral("check"), QDir(dir).filePath(QLatin1String(t))}, &out), 0)
            << out.toStdString();
    }
}

} // namespace

TEST(Erasure, RemovesEveryRowOfThePersonAndKeepsTheOthersByteForByte) {
    TestDb db;
    makeDatabase(db);
    const Snapshot before = snapshot(db.dir());
    const auto counted = schema::countTestee(db.dir(), 1, 2);
    EXPECT_EQ(counted.total(), 36u);
    // The confirmation names what the rows are, not the files they are in.
    EXPECT_EQ(counted.describe(), QStringLiteral("результаты (баллы по критериям) — 4\n"
                                                 "ответы на вопросы — 30\n"
                                                 "другие записи (таблица web_code.dbf) — 1\n"
                                                 "анкета тестируемого — 1"));

    const schema::ErasureDone done = schema::eraseTestee(db.dir(), 1, 2);
    EXPECT_TRUE(done.logError.isEmpty()) << done.logError.toStdString();
    EXPECT_EQ(done.rows.summary(),
              QStringLiteral("bd_rez.dbf 4, bd_rezult.dbf 30, web_code.dbf 1, bd_anket.dbf 1"));

    const auto expected = expectedRows(before);
    for (const QString& t : kTables)
        EXPECT_EQ(records(db.path(t)), expected.at(t)) << t.toStdString();
    // The others' memo texts are where their records say.
    db::Table web;
    web.setTableName(db.path("web_code.dbf"));
    web.open();
    EXPECT_EQ(web.fieldValue("NOTE").toString(), QStringLiteral("первый ") + QString(600, 'a'));
    web.next();
    EXPECT_EQ(web.fieldValue("NOTE").toString(), QStringLiteral("третий"));
    web.close();

    expectNothingLeft(db.dir(), before);
    expectIndexesSound(db.dir());
    EXPECT_FALSE(QFile::exists(db.path(dbf::kEraseJournal)));
    EXPECT_FALSE(QFile::exists(db.path(dbf::kEraseLock))) << "the lock outlived the erasure";

    // One line, with numbers and counts, and no name.
    const QByteArray log = bytesOf(db.path(schema::kErasureLog));
    EXPECT_EQ(log.count('\n'), 1);
    EXPECT_TRUE(log.contains("institution 1 testee 2: bd_rez.dbf 4, bd_rezult.dbf 30")) << log.toStdString();
    EXPECT_FALSE(log.contains(kErased.toUtf8()));

    // The same testee again: nothing left to erase.
    EXPECT_EQ(schema::eraseTestee(db.dir(), 1, 2).rows.total(), 0u);
}

// A failure at any write, sync, rename or open of the erasure: on the spot or at the next start,
// the folder holds the old data or the erased data, never a mix.
TEST(Erasure, AFailureAtAnyStepLeavesAllOrNothing) {
    TestDb reference;
    makeDatabase(reference);
    const Snapshot before = snapshot(reference.dir());
    const auto expected = expectedRows(before);
    struct Kind {
        os::Call call;
        int err;
        int upTo;
        const char* name;
    };
    int erasedOnce = 0, refusedOnce = 0;
    for (const Kind& kind :
         {Kind{os::Call::Write, ENOSPC, 12, "write"}, Kind{os::Call::Sync, EIO, 22, "sync"},
          Kind{os::Call::Rename, EIO, 12, "rename"}, Kind{os::Call::Open, EMFILE, 30, "open"}}) {
        for (int nth = 1; nth <= kind.upTo; ++nth) {
            SCOPED_TRACE(std::string(kind.name) + " " + std::to_string(nth));
            QTemporaryDir dir;
            for (const auto& [name, bytes] : before.files) {
                QFile f(dir.filePath(name));
                ASSERT_TRUE(f.open(QIODevice::WriteOnly));
                f.write(bytes);
            }
            bool threw = false;
            os::failNext(kind.call, kind.err, nth);
            try {
                schema::eraseTestee(dir.path(), 1, 2);
            } catch (const db::DatabaseError& e) {
                threw = true;
                EXPECT_TRUE(e.message().contains(dir.path())) << e.message().toStdString();
            }
            os::clearFaults();
            schema::finishErasure(dir.path()); // the next start
            const bool erased = records(dir.filePath("bd_anket.dbf")).size() == 3;
            if (erased) {
                ++erasedOnce;
                for (const QString& t : kTables)
                    EXPECT_EQ(records(dir.filePath(t)), expected.at(t)) << t.toStdString();
                expectNothingLeft(dir.path(), before);
            } else {
                ++refusedOnce;
                EXPECT_TRUE(threw) << "nothing erased and nothing said";
                for (const auto& [name, bytes] : before.files)
                    EXPECT_EQ(bytesOf(dir.filePath(name)), bytes) << name.toStdString();
            }
            EXPECT_TRUE(QDir(dir.path()).entryList({"*" + QLatin1String(dbf::kEraseSuffix)}).isEmpty());
            EXPECT_FALSE(QFile::exists(dir.filePath(dbf::kEraseJournal)));
            EXPECT_FALSE(QFile::exists(dir.filePath(dbf::kEraseLock)));
            expectIndexesSound(dir.path());
        }
    }
    EXPECT_GT(refusedOnce, 0);
    EXPECT_GT(erasedOnce, 0);
}
