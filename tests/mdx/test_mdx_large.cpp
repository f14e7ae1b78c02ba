// A new index over more records than one sorting run holds: the keys are sorted in runs spilled
// to a scratch file and merged, and the index must be the one a table of a few records gets,
// in every order, for ties, descending, unique and filtered tags; and the peer reads it.
#include "MdxTest.h"
#include "TestDb.h"

#include <QDir>
#include <gtest/gtest.h>

using dbf::DbfFile;
using dbf::TagSpec;

TEST(MdxLarge, AnIndexBuiltFromSpilledRunsGivesEveryTagsOrderAndLeavesNoScratchFile) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("big.dbf").toStdString();
    DbfFile::create(path,
                    {{"NAME", 'C', 30, 0}, {"QTY", 'N', 6, 0}, {"PRICE", 'N', 12, 2}, {"BORN", 'D', 8, 0}});
    constexpr int kRecords = 300000; // a little over two runs of 131072
    {
        auto f = DbfFile::open(path);
        f->setDurable(false);
        std::mt19937 rng(3);
        std::vector<std::string> batch;
        for (int i = 0; i < kRecords; ++i) {
            batch.push_back(randomRecord(*f, rng));
            if (batch.size() == 20000) {
                f->appendRecords(batch);
                batch.clear();
            }
        }
        f->appendRecords(batch);
    }
    const std::vector<TagSpec> tags = {{"NAME", "NAME", "", false, false},
                                       {"QTYD", "QTY", "", true, false},
                                       {"UNIQ", "QTY", "", false, true},
                                       {"MIX", "UPPER(NAME)+STR(QTY,6)+DTOS(BORN)", "", false, false},
                                       {"POS", "PRICE", "QTY > 0 .AND. .NOT. DELETED()", false, false}};
    DbfFile::createIndex(path, tags);
    QStringList files = QDir(dir.path()).entryList(QDir::Files);
    files.sort(Qt::CaseInsensitive);
    EXPECT_EQ(files, QStringList({"big.dbf", "big.MDX"})); // no scratch file left
    auto f = DbfFile::open(path, true);
    ASSERT_EQ(f->recordCount(), uint32_t(kRecords));
    EXPECT_EQ(f->checkIndex(), std::vector<std::string>{});
    for (const TagSpec& t : tags) {
        std::vector<uint32_t> got;
        ASSERT_TRUE(f->tagOrder(t.name, got));
        EXPECT_EQ(got, expectedOrder(*f, t)) << t.name;
    }
    // The peer reads the indexes of the smaller tables in the other index tests: on this size it
    // takes minutes, too long for every run.
}
