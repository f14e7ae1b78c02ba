// The program's database and its six production indexes: made by morv-db, checked and rebuilt
// by it, required at start, and giving the dictionary and testee views their order.
#include "MdxTest.h"
#include "TestDb.h"
#include "data/DM.h"
#include "data/Schema.h"
#include "dataset/Table.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using dbf::DbfFile;

namespace {

const QStringList kIndexes = {"bd_test.MDX",  "bd_sprav.MDX",  "bd_org.MDX",
                              "bd_anket.MDX", "bd_rezult.MDX", "bd_analiz.MDX"};

int morvDb(const QStringList& args, QString* out = nullptr) {
    return runCommand(QStringLiteral(MORV_DB_TOOL), args, out);
}

// The order the views had before the indexes: by the key field, equal keys in record order.
std::vector<uint32_t> sortedByField(const DbfFile& f, const char* field) {
    int c = f.fieldIndex(field);
    std::vector<std::pair<double, uint32_t>> keyed;
    for (uint32_t r = 0; r < f.recordCount(); ++r) {
        double v = 0;
        f.readNumber(r, c, v);
        keyed.emplace_back(v, r);
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<uint32_t> out;
    for (auto& k : keyed)
        out.push_back(k.second);
    return out;
}

std::vector<uint32_t> viewOf(db::Table& t) {
    std::vector<uint32_t> v;
    for (int row = 0; row < t.recordCount(); ++row)
        v.push_back(t.recordNumber(row));
    return v;
}

} // namespace

TEST(MdxProgram, SampleHasSixSoundIndexes) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("db"));
    QString out;
    ASSERT_EQ(morvDb({QStringLiteral("sample"), db}, &out), 0) << out.toStdString();
    for (const QString& mdx : kIndexes)
        EXPECT_TRUE(QFile::exists(QDir(db).filePath(mdx))) << mdx.toStdString();
    EXPECT_FALSE(QFile::exists(QDir(db).filePath(QStringLiteral("bd_vopros.MDX"))));
    if (mdxPeer().isEmpty()) return;
    for (const auto& t : schema::tables()) {
        if (t.tags.empty()) continue;
        QString report;
        EXPECT_EQ(runCommand(mdxPeer(), {QStringLiteral("check"), QDir(db).filePath(QLatin1String(t.file))},
                             &report),
                  0)
            << report.toStdString();
    }
}

TEST(MdxProgram, CheckNamesTableAndTagOfASpoiledIndexAndReindexMendsIt) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("db"));
    ASSERT_EQ(morvDb({QStringLiteral("sample"), db}), 0);
    spoilRoot(QDir(db).filePath(QStringLiteral("bd_rezult.MDX")).toStdString(), false);
    QString out;
    EXPECT_EQ(morvDb({QStringLiteral("check"), db}, &out), 1) << out.toStdString();
    const QString line = out.split(QLatin1Char('\n')).filter(QStringLiteral("bd_rezult.dbf")).join(QString());
    EXPECT_TRUE(line.contains(QStringLiteral("FAILED"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("tag ANSWER"))) << out.toStdString();
    ASSERT_EQ(morvDb({QStringLiteral("reindex"), db}, &out), 0) << out.toStdString();
    EXPECT_EQ(morvDb({QStringLiteral("check"), db}, &out), 0) << out.toStdString();
}

TEST(MdxProgram, AMissingIndexFailsTheStartUntilReindexMakesIt) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("db"));
    ASSERT_EQ(morvDb({QStringLiteral("sample"), db}), 0);
    const QString mdx = QDir(db).filePath(QStringLiteral("bd_sprav.MDX"));
    ASSERT_TRUE(QFile::remove(mdx));
    db::Table t;
    t.setTableName(QDir(db).filePath(QStringLiteral("bd_sprav.dbf")));
    t.setIndexName(QStringLiteral("SPRAV"));
    try {
        t.open();
        FAIL() << "opened bd_sprav without its index";
    } catch (const db::EngineError& e) {
        EXPECT_TRUE(e.message().contains(mdx)) << e.what();
        EXPECT_TRUE(e.message().contains(QStringLiteral("morv-db reindex"))) << e.what();
    }
    QString out;
    EXPECT_EQ(morvDb({QStringLiteral("check"), db}, &out), 1);
    EXPECT_TRUE(out.contains(QStringLiteral("bd_sprav.MDX"))) << out.toStdString();
    ASSERT_EQ(morvDb({QStringLiteral("reindex"), db}, &out), 0) << out.toStdString();
    EXPECT_EQ(morvDb({QStringLiteral("check"), db}, &out), 0) << out.toStdString();
    EXPECT_NO_THROW(t.open());
}

// The dictionary and testee views take their order from the tags SPRAV and NOMU, and it is the
// order they had before: by the key, equal keys in record order, also after rows are added.
TEST(MdxProgram, SpravAndNomuOrdersComeFromTheirTags) {
    TestDb tdb;
    for (int i = 0; i < 60; ++i) {
        tdb.add(QStringLiteral("bd_sprav.dbf"),
                {db::Variant(5 - i % 5), db::Variant(i), db::Variant(QStringLiteral("x"))});
        tdb.add(QStringLiteral("bd_anket.dbf"),
                {db::Variant(i), db::Variant((i * 7) % 9), db::Variant(QStringLiteral("F")),
                 db::Variant(QStringLiteral("N")), db::Variant(QStringLiteral("O")),
                 db::Variant(QStringLiteral("M")), db::Variant(1), db::Variant(1)});
    }
    for (const auto& [file, tag] : {std::pair{"bd_sprav.dbf", "SPRAV"}, std::pair{"bd_anket.dbf", "NOMU"}}) {
        db::Table t;
        t.setTableName(tdb.path(QLatin1String(file)));
        t.setIndexName(QLatin1String(tag));
        t.open();
        std::vector<uint32_t> fromTag;
        ASSERT_TRUE(t.file()->tagOrder(tag, fromTag)) << tag;
        EXPECT_EQ(fromTag, sortedByField(*t.file(), tag)) << tag;
        EXPECT_EQ(viewOf(t), fromTag) << tag;
    }
}

// A folder made before the indexes (its headers say nothing of an index) does not start either:
// the program keeps six of its tables with their index, and names the file and the remedy.
TEST(MdxProgram, TheStartNeedsTheSixIndexesAlsoWhereTheHeaderSaysNone) {
    TestDb tdb;
    ASSERT_TRUE(QFile::remove(tdb.path(QStringLiteral("bd_org.MDX"))));
    QFile table(tdb.path(QStringLiteral("bd_org.dbf")));
    ASSERT_TRUE(table.open(QIODevice::ReadWrite));
    table.seek(28);
    table.write("\0", 1);
    table.close();
    try {
        TBD module;
        FAIL() << "started without bd_org.MDX";
    } catch (const db::EngineError& e) {
        EXPECT_TRUE(e.message().contains(tdb.path(QStringLiteral("bd_org.MDX")))) << e.what();
        EXPECT_TRUE(e.message().contains(QStringLiteral("morv-db reindex"))) << e.what();
    }
    QString out;
    ASSERT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL), {QStringLiteral("reindex"), tdb.dir()}, &out), 0)
        << out.toStdString();
    EXPECT_NO_THROW(TBD());
}
