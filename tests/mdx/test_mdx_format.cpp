// The production index file: keys of every type and order as other dBASE programs store them,
// kept in step through appends, writes and deletion marks, checked against a fresh build.
#include "MdxTest.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <random>

using dbf::DbfError;
using dbf::DbfFile;
using dbf::MdxFile;
using dbf::TagSpec;

TEST(MdxKeys, NumbersAreStoredAsDbaseBcd) {
    auto hex = [](const std::string& k) { return QByteArray(k.data(), int(k.size())).toHex().toStdString(); };
    // As the foreign fixture's QTY tag holds them.
    EXPECT_EQ(hex(dbf::bcdKey(12)), "360912000000000000000000");
    EXPECT_EQ(hex(dbf::bcdKey(-7)), "358570000000000000000000");
    EXPECT_EQ(hex(dbf::bcdKey(0)), "340100000000000000000000");
    EXPECT_EQ(hex(dbf::bcdKey(1234)), "381112340000000000000000");
    // As the peer writes them: the digit count is that of the number as written.
    EXPECT_EQ(hex(dbf::bcdKey(-120)), "378d12000000000000000000");
    EXPECT_EQ(hex(dbf::bcdKey(-0.05)), "338950000000000000000000");
    EXPECT_EQ(hex(dbf::bcdKey(0.5)), "340550000000000000000000");
    EXPECT_EQ(hex(dbf::bcdKey(3.25)), "350d32500000000000000000");
    EXPECT_EQ(hex(dbf::bcdKey(10)), "360910000000000000000000");
    EXPECT_EQ(hex(dbf::bcdKey(99.99)), "361199990000000000000000");
    for (double v : {12.5, -0.05, 1200.0, 3.25, 99999.9999, -123456.0, 0.001})
        EXPECT_DOUBLE_EQ(dbf::bcdValue(reinterpret_cast<const unsigned char*>(dbf::bcdKey(v).data())), v)
            << v;
}

TEST(MdxKeys, ExpressionsGiveDbaseValues) {
    std::vector<dbf::FieldDef> fields = {
        {"NAME", 'C', 10, 0, 0}, {"QTY", 'N', 6, 0, 10}, {"BORN", 'D', 8, 0, 16}};
    std::string rec = std::string(" ") + "ivanov    " + "   -42" + "19991231";
    auto text = [&](const char* e) { return dbf::KeyExpr(e, fields).eval(rec.data()).s; };
    EXPECT_EQ(text("UPPER(NAME)"), "IVANOV    ");
    EXPECT_EQ(text("STR(QTY,5)+DTOS(BORN)"), "  -4219991231");
    EXPECT_EQ(text("SUBSTR(NAME,2,3)+LEFT(NAME,2)+RIGHT(DTOS(BORN),4)"), "vaniv1231");
    EXPECT_EQ(text("STR(QTY)"), "       -42");
    EXPECT_EQ(text("STR(VAL('12.5'),6,1)"), "  12.5");
    EXPECT_EQ(dbf::KeyExpr("VAL(RIGHT(DTOS(BORN),2))", fields).eval(rec.data()).n, 31);
    EXPECT_TRUE(dbf::KeyExpr("QTY < 0 .AND. .NOT. DELETED() .AND. NAME = \"iva\"", fields).test(rec.data()));
    rec[0] = '*';
    EXPECT_FALSE(dbf::KeyExpr("QTY < 0 .AND. .NOT. DELETED()", fields).test(rec.data()));
    for (const char* bad :
         {"SOUNDEX(NAME)", "NOSUCH", "NAME +", "STR(NAME)", "NAME + QTY", "SUBSTR(NAME,QTY,2)"})
        EXPECT_THROW(dbf::KeyExpr(bad, fields), DbfError) << bad;
}

// Every key type, both orders, unique and FOR: what the index gives is what sorting gives.
TEST(MdxFile, EveryKeyTypeAndOrderRoundTrips) {
    QTemporaryDir dir;
    std::string path = dir.filePath("t.dbf").toStdString();
    makeTable(path, 700, 11);
    std::vector<TagSpec> tags = {{"NAME", "NAME", "", false, false},
                                 {"QTYD", "QTY", "", true, false},
                                 {"BORN", "BORN", "", false, false},
                                 {"BORND", "BORN", "", true, false},
                                 {"MIX", "UPPER(NAME)+STR(QTY,6)+DTOS(BORN)", "", false, false},
                                 {"UNIQ", "QTY", "", false, true},
                                 {"POS", "PRICE", "QTY > 0 .AND. .NOT. DELETED()", false, false}};
    DbfFile::createIndex(path, tags);
    auto f = DbfFile::open(path);
    ASSERT_NE(f->productionIndex(), nullptr);
    EXPECT_EQ(f->checkIndex(), std::vector<std::string>{});
    for (const TagSpec& t : tags) {
        std::vector<uint32_t> got;
        ASSERT_TRUE(f->tagOrder(t.name, got));
        EXPECT_EQ(got, expectedOrder(*f, t)) << t.name;
    }
    // A fresh open reads the same from disk.
    auto again = DbfFile::open(path, true);
    std::vector<uint32_t> a, b;
    ASSERT_TRUE(again->tagOrder("MIX", a));
    ASSERT_TRUE(f->tagOrder("MIX", b));
    EXPECT_EQ(a, b);
}

// Thousands of appends, key changes and deletion marks, with small nodes so that nodes split
// and empty ones go: after every batch the tree equals a fresh build of the same records.
TEST(MdxFile, RandomChangesMatchARebuiltIndex) {
    QTemporaryDir dir;
    std::string path = dir.filePath("r.dbf").toStdString();
    makeTable(path, 50, 3);
    // A 100-byte key leaves 9 keys a node: many splits and joins on few records.
    std::vector<TagSpec> tags = {{"WIDE", "NAME+NAME+NAME+LEFT(NAME,10)", "", false, false},
                                 {"QTY", "QTY", ".NOT. DELETED()", true, false},
                                 {"BORN", "BORN", "", false, false}};
    DbfFile::createIndex(path, tags);
    auto f = DbfFile::open(path);
    f->setDurable(false);
    std::mt19937 rng(20261208);
    for (int batch = 0; batch < 12; ++batch) {
        for (int step = 0; step < 400; ++step) {
            uint32_t n = f->recordCount();
            int what = int(rng() % 10);
            if (what < 4 || n == 0) {
                f->appendRecord(randomRecord(*f, rng));
            } else if (what < 8) {
                uint32_t r = rng() % n;
                std::string rec = randomRecord(*f, rng);
                rec[0] = f->record(r)[0];
                f->writeRecord(r, rec);
            } else {
                uint32_t r = rng() % n;
                f->setDeleted(r, !f->isDeleted(r));
            }
        }
        ASSERT_EQ(f->checkIndex(), std::vector<std::string>{}) << "batch " << batch;
        for (const TagSpec& t : tags) {
            std::vector<uint32_t> got;
            ASSERT_TRUE(f->tagOrder(t.name, got));
            ASSERT_EQ(got, expectedOrder(*f, t)) << t.name << " batch " << batch;
        }
    }
    // Taking every key away leaves empty, sound tags.
    for (uint32_t r = 0; r < f->recordCount(); ++r)
        if (!f->isDeleted(r)) f->setDeleted(r, true);
    EXPECT_EQ(f->checkIndex(), std::vector<std::string>{});
    std::vector<uint32_t> none;
    ASSERT_TRUE(f->tagOrder("QTY", none));
    EXPECT_TRUE(none.empty());
}

TEST(MdxFile, ATagWeCannotEvaluateMakesTheTableReadOnly) {
    QTemporaryDir dir;
    std::string path = dir.filePath("u.dbf").toStdString();
    makeTable(path, 20, 1);
    DbfFile::createIndex(path,
                         {{"NAME", "NAME", "", false, false}, {"ODD", "UPPER(NAME)", "", false, false}});
    // Another program's tag, with a function this engine does not know.
    std::string mdx = DbfFile::indexPathFor(path);
    patchTagExpression(mdx, 1, "SOUNDEX(NAME)");
    auto f = DbfFile::open(path);
    EXPECT_FALSE(f->writable());
    const std::string& why = f->readOnlyReason();
    EXPECT_NE(why.find("ODD"), std::string::npos) << why;
    EXPECT_NE(why.find(mdx), std::string::npos) << why;
    EXPECT_NE(why.find("SOUNDEX(NAME)"), std::string::npos) << why;
    try {
        f->appendRecord(f->blankRecord());
        FAIL() << "appended to a table whose index it cannot keep";
    } catch (const DbfError& e) {
        EXPECT_NE(std::string(e.what()).find("SOUNDEX(NAME)"), std::string::npos) << e.what();
    }
    // It still reads, in the order of the tag it understands.
    std::vector<uint32_t> order;
    EXPECT_TRUE(f->tagOrder("NAME", order));
    EXPECT_EQ(order.size(), 20u);
}

TEST(MdxFile, AMissingIndexFailsTheOpenNamingFileAndRemedy) {
    QTemporaryDir dir;
    std::string path = dir.filePath("m.dbf").toStdString();
    makeTable(path, 5, 1);
    DbfFile::createIndex(path, {{"NAME", "NAME", "", false, false}});
    std::string mdx = DbfFile::indexPathFor(path);
    ASSERT_EQ(std::remove(mdx.c_str()), 0);
    try {
        DbfFile::open(path, true);
        FAIL() << "opened a table without its production index";
    } catch (const DbfError& e) {
        std::string m = e.what();
        EXPECT_NE(m.find(mdx), std::string::npos) << m;
        EXPECT_NE(m.find("morv-db reindex"), std::string::npos) << m;
    }
}

// A writer stopped between marking the index busy and clearing the mark: the next writing
// open rebuilds it; a reader is not fooled into reading it.
TEST(MdxFile, AnUnfinishedChangeIsRepairedByTheNextWriter) {
    QTemporaryDir dir;
    std::string path = dir.filePath("i.dbf").toStdString();
    makeTable(path, 300, 5);
    DbfFile::createIndex(path, {{"QTY", "QTY", "", false, false}});
    std::string mdx = DbfFile::indexPathFor(path);
    spoilRoot(mdx, true);
    {
        auto reader = DbfFile::open(path, true);
        std::vector<uint32_t> order;
        EXPECT_FALSE(reader->tagOrder("QTY", order)); // busy and not ours to repair: no order
        EXPECT_FALSE(reader->checkIndex().empty());
    }
    auto f = DbfFile::open(path);
    EXPECT_EQ(f->checkIndex(), std::vector<std::string>{});
}

TEST(MdxFile, DamagedFilesFailWithAMessage) {
    QTemporaryDir dir;
    std::string path = dir.filePath("d.dbf").toStdString();
    makeTable(path, 200, 2);
    DbfFile::createIndex(path, {{"NAME", "NAME", "", false, false}});
    std::string mdx = DbfFile::indexPathFor(path);
    QFile file(QString::fromStdString(mdx));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray good = file.readAll();
    file.close();
    auto tryWith = [&](QByteArray bytes) {
        QFile w(QString::fromStdString(mdx));
        EXPECT_TRUE(w.open(QIODevice::WriteOnly | QIODevice::Truncate));
        w.write(bytes);
        w.close();
        try {
            auto f = DbfFile::open(path, true);
            std::vector<uint32_t> order;
            f->tagOrder("NAME", order);
            return std::string("opened");
        } catch (const DbfError& e) {
            return std::string(e.what());
        }
    };
    EXPECT_NE(tryWith(good.left(1000)).find("damaged"), std::string::npos);
    QByteArray badRoot = good;
    std::memset(badRoot.data() + 2048, 0x7F, 4); // the tag's root page
    EXPECT_NE(tryWith(badRoot).find("damaged"), std::string::npos);
    QByteArray loop = good;
    // A branch pointing at itself must not recurse forever.
    uint32_t root = uint8_t(good[2048]) | uint8_t(good[2049]) << 8;
    const int at = int(root) * 512;
    loop[at] = 1;
    loop[at + 8] = char(root & 0xFF);
    loop[at + 9] = char(root >> 8);
    loop[at + 8 + 36] = char(root & 0xFF);
    loop[at + 9 + 36] = char(root >> 8);
    EXPECT_NE(tryWith(loop).find("damaged"), std::string::npos);
}
