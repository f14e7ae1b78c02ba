// The program's six indexes damaged in their definitions: check names what is wrong, the table
// says why it is read-only and what mends it, and morv-db reindex restores the program's tags
// whatever the file holds, keeping other tags it can evaluate.
#include "MdxTest.h"
#include "TestDb.h"
#include "data/DM.h"
#include "dataset/Table.h"
#include "dbf/Bytes.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using dbf::DbfFile;

namespace {

int morvDb(const QStringList& args, QString* out = nullptr) {
    return runCommand(QStringLiteral(MORV_DB_TOOL), args, out);
}

// Where the first tag's header page lies.
qint64 firstTagHeader(const QString& mdx) {
    const QByteArray b = bytesOf(mdx);
    return qint64(dbf::le32(reinterpret_cast<const unsigned char*>(b.constData()) + 544)) * 512;
}

class MdxRepair : public ::testing::Test {
protected:
    void SetUp() override {
        db = dir.filePath(QStringLiteral("db"));
        ASSERT_EQ(morvDb({QStringLiteral("sample"), db}), 0);
        rezult = QDir(db).filePath(QStringLiteral("bd_rezult.dbf"));
        mdx = QDir(db).filePath(QStringLiteral("bd_rezult.MDX"));
    }
    // check fails naming bd_rezult and what; reindex mends it; check passes and ANSWER holds
    // one key per record again.
    void expectCheckFailsThenReindexMends(const QString& what, const QString& reindexSays = QString()) {
        QString out;
        EXPECT_EQ(morvDb({QStringLiteral("check"), db}, &out), 1) << out.toStdString();
        const QString line =
            out.split(QLatin1Char('\n')).filter(QStringLiteral("bd_rezult")).join(QLatin1Char('\n'));
        EXPECT_TRUE(line.contains(what)) << out.toStdString();
        ASSERT_EQ(morvDb({QStringLiteral("reindex"), db}, &out), 0) << out.toStdString();
        EXPECT_TRUE(out.contains(reindexSays)) << out.toStdString();
        EXPECT_EQ(morvDb({QStringLiteral("check"), db}, &out), 0) << out.toStdString();
        auto f = DbfFile::open(rezult.toStdString());
        ASSERT_TRUE(f->writable()) << f->readOnlyReason();
        std::vector<uint32_t> order;
        ASSERT_TRUE(f->tagOrder("ANSWER", order));
        EXPECT_EQ(order.size(), f->recordCount());
        if (!mdxPeer().isEmpty()) {
            EXPECT_EQ(runCommand(mdxPeer(), {QStringLiteral("check"), rezult}, &out), 0) << out.toStdString();
            EXPECT_TRUE(out.contains(QStringLiteral("ANSWER"))) << out.toStdString();
        }
    }

    QTemporaryDir dir;
    QString db, rezult, mdx;
};

} // namespace

// An expression the engine cannot evaluate, or a key type it does not know: the table opens
// read-only, and an answer click says which tag and what to run; reindex mends it although the
// table would open read-only.
TEST_F(MdxRepair, ADamagedTagDefinitionIsNamedAndReindexRebuildsIt) {
    const QByteArray good = bytesOf(mdx);
    const qint64 header = firstTagHeader(mdx);
    struct Damage {
        qint64 at;
        QByteArray bytes;
        const char* shows;
    };
    const Damage damages[] = {{header + 24, QByteArray("NOSUCHFIELD\0", 12), "NOSUCHFIELD"},
                              {header + 24, QByteArray("STR(((\0", 7), "STR((("},
                              {header + 9, QByteArray("Z"), "key type Z"}};
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.shows);
        {
            QFile w(mdx);
            ASSERT_TRUE(w.open(QIODevice::WriteOnly | QIODevice::Truncate));
            w.write(good);
        }
        patchFile(mdx, d.at, d.bytes);
        db::Table t;
        t.setTableName(rezult);
        t.open();
        t.append();
        t.setFields({1, 1, QDate(2024, 1, 1), 1, 1, 1});
        try {
            t.post();
            ADD_FAILURE() << "posted to a table whose index it cannot keep";
        } catch (const db::DatabaseError& e) {
            const QString m = e.message();
            EXPECT_TRUE(m.contains(QStringLiteral("read-only"))) << e.what();
            EXPECT_TRUE(m.contains(QStringLiteral("ANSWER"))) << e.what();
            EXPECT_TRUE(m.contains(QLatin1String(d.shows))) << e.what();
            EXPECT_TRUE(m.contains(QStringLiteral("morv-db reindex"))) << e.what();
        }
        t.cancel();
        t.close();
        expectCheckFailsThenReindexMends(QStringLiteral("tag ANSWER"), QStringLiteral("rebuilt 1 tags"));
    }
}

// Tags of another program in the same file: those it can evaluate are kept; one it cannot, and a
// copy of the program's own key under another name, are dropped with the reason.
TEST_F(MdxRepair, ReindexKeepsForeignTagsItCanEvaluateAndSaysWhichItDropped) {
    DbfFile::createIndex(rezult.toStdString(),
                         {{"ANSWER", "STR(NOMU,10)+STR(NOMTESTIR,10)+STR(NOMTESTA,6)", "", false, false},
                          {"OTV", "STR(OTVET,6)+STR(NOMVOPR,6)", "", true, false},
                          {"ODD", "STR(NOMVOPR,6)", "", false, false},
                          {"COPY", "STR(NOMU,10)+STR(NOMTESTIR,10)+STR(NOMTESTA,6)", "", false, false}});
    patchTagExpression(mdx.toStdString(), 2, "SOUNDEX(NOMVOPR)");
    QString out;
    ASSERT_EQ(morvDb({QStringLiteral("reindex"), db}, &out), 0) << out.toStdString();
    const QString line = out.split(QLatin1Char('\n')).filter(QStringLiteral("bd_rezult")).join(QString());
    EXPECT_TRUE(line.contains(QStringLiteral("kept 1 other tags"))) << line.toStdString();
    EXPECT_TRUE(line.contains(QStringLiteral("ODD")) && line.contains(QStringLiteral("SOUNDEX")))
        << line.toStdString();
    EXPECT_TRUE(line.contains(QStringLiteral("COPY (the same key as ANSWER)"))) << line.toStdString();
    auto f = DbfFile::open(rezult.toStdString());
    ASSERT_TRUE(f->writable()) << f->readOnlyReason();
    std::vector<std::string> names;
    for (const auto& t : f->productionIndex()->tags())
        names.push_back(t.name);
    EXPECT_EQ(names, (std::vector<std::string>{"ANSWER", "OTV"}));
    const auto* otv = f->productionIndex()->tag("OTV");
    EXPECT_TRUE(otv->descending);
    std::vector<uint32_t> order;
    ASSERT_TRUE(f->tagOrder("OTV", order));
    EXPECT_EQ(order, expectedOrder(*f, {"OTV", "STR(OTVET,6)+STR(NOMVOPR,6)", "", true, false}));
    EXPECT_EQ(morvDb({QStringLiteral("check"), db}, &out), 0) << out.toStdString();
}

// The program's tags as another program may leave them: none at all, ANSWER made unique (one
// key per testee), ANSWER renamed. Check names each; reindex restores the program's tag.
TEST_F(MdxRepair, CheckVerifiesTheProgramsTagsAndReindexRestoresThem) {
    const QByteArray good = bytesOf(mdx);
    const qint64 header = firstTagHeader(mdx);
    auto restore = [&] {
        QFile w(mdx);
        ASSERT_TRUE(w.open(QIODevice::WriteOnly | QIODevice::Truncate));
        w.write(good);
    };
    patchFile(mdx, 28, QByteArray("\0\0", 2));
    expectCheckFailsThenReindexMends(QStringLiteral("tag ANSWER (STR(NOMU,10)"));
    restore();
    QByteArray flags = good.mid(int(header) + 8, 1);
    flags[0] = char(flags[0] | 0x40);
    patchFile(mdx, header + 8, flags);
    patchFile(mdx, header + 23, QByteArray("\1", 1));
    expectCheckFailsThenReindexMends(QStringLiteral("tag ANSWER is unique"));
    restore();
    patchFile(mdx, 544 + 4, QByteArray("ANSWEX", 6));
    expectCheckFailsThenReindexMends(
        QStringLiteral("tag ANSWER (STR(NOMU,10)+STR(NOMTESTIR,10)+STR(NOMTESTA,6)) is missing"),
        QStringLiteral("dropped tag ANSWEX (the same key as ANSWER)"));
    auto f = DbfFile::open(rezult.toStdString(), true);
    EXPECT_EQ(f->productionIndex()->tags().size(), 1u);
}

// Messages that say what is so: the tags of an unfinished change, an index with 0 pages per block.
TEST_F(MdxRepair, CheckNamesTheTagsOfAnUnfinishedChangeAndTheRealBlockFault) {
    patchFile(mdx, 47, QByteArray("\1", 1));
    expectCheckFailsThenReindexMends(
        QStringLiteral("index bd_rezult.MDX: a change to tag ANSWER was not finished"));
    patchFile(mdx, 20, QByteArray("\0\0", 2));
    expectCheckFailsThenReindexMends(QStringLiteral("0 pages per block"), QStringLiteral("rebuilt 1 tags"));
}

// A table header whose field list lost its end mark: other readers take the first record for a
// field. Our start and check refuse it with a message, as the independent reader fails too.
TEST(DbfHeader, AFieldListWithoutItsEndMarkFailsCheckAndTheStart) {
    TestDb tdb;
    const QString org = tdb.path(QStringLiteral("bd_org.dbf"));
    tdb.add(QStringLiteral("bd_org.dbf"),
            {db::Variant(1), db::Variant(1), db::Variant(QStringLiteral("Школа")),
             db::Variant(QStringLiteral("")), db::Variant(1), db::Variant(1)});
    const QByteArray b = bytesOf(org);
    const int headerLength = dbf::le16(reinterpret_cast<const unsigned char*>(b.constData()) + 8);
    ASSERT_EQ(b[headerLength - 1], '\x0D');
    patchFile(org, headerLength - 1, QByteArray(" "));
    try {
        TBD module;
        ADD_FAILURE() << "started on a table without its field list's end mark";
    } catch (const db::EngineError& e) {
        EXPECT_TRUE(e.message().contains(org)) << e.what();
        EXPECT_TRUE(e.message().contains(QStringLiteral("end mark (0x0D)"))) << e.what();
    }
    QString out;
    EXPECT_EQ(morvDb({QStringLiteral("check"), tdb.dir()}, &out), 1);
    EXPECT_TRUE(out.contains(QStringLiteral("end mark (0x0D)"))) << out.toStdString();
    QString report;
    EXPECT_NE(peerCheck(tdb.dir(), &report), 0) << "the independent reader took it: " << report.toStdString();
}

// Perl XBase writes bd_org.dbf anew (its header says nothing of an index) with one institution
// more, leaving bd_org.MDX as it was. The index is there: the start opens and keeps it, keys the
// new row, and says the header has it again.
TEST(MdxUnflagged, AnIndexTheHeaderDoesNotAnnounceIsOpenedAndKept) {
    if (runCommand(QStringLiteral("perl"), {QStringLiteral("-MXBase"), QStringLiteral("-e1")}) != 0)
        GTEST_SKIP() << "no Perl XBase (libdbd-xbase-perl) here";
    TestDb tdb;
    for (int i = 1; i <= 3; ++i)
        tdb.add(QStringLiteral("bd_org.dbf"),
                {db::Variant(i * 10), db::Variant(1), db::Variant(QStringLiteral("Org")),
                 db::Variant(QString()), db::Variant(1), db::Variant(1)});
    const QString org = tdb.path(QStringLiteral("bd_org.dbf"));
    const char* rewrite = R"(
        my $old = XBase->new($ARGV[0]) or die XBase->errstr;
        my @rows = map { [ ($old->get_record($_))[1 .. $old->last_field + 1] ] } 0 .. $old->last_record;
        my %def = (field_names => [$old->field_names], field_types => [$old->field_types],
                   field_lengths => [$old->field_lengths], field_decimals => [$old->field_decimals]);
        $old->close;
        unlink $ARGV[0];
        my $t = XBase->create(name => $ARGV[0], version => 3, %def) or die XBase->errstr;
        push @rows, [5, 1, "Perl", "", 1, 1];
        $t->set_record($_, @{$rows[$_]}) or die $t->errstr for 0 .. $#rows;
        $t->close;
    )";
    QString out;
    ASSERT_EQ(runCommand(QStringLiteral("perl"),
                         {QStringLiteral("-MXBase"), QStringLiteral("-e"), QString::fromLatin1(rewrite), org},
                         &out),
              0)
        << out.toStdString();
    ASSERT_EQ(bytesOf(org)[28], '\0') << "Perl XBase kept the flag: nothing to test";
    EXPECT_NO_THROW(TBD());
    EXPECT_EQ(bytesOf(org)[28], '\1');
    auto f = DbfFile::open(org.toStdString(), true);
    ASSERT_NE(f->productionIndex(), nullptr);
    std::vector<uint32_t> order;
    ASSERT_TRUE(f->tagOrder("NOM_ORG", order));
    EXPECT_EQ(order, (std::vector<uint32_t>{3, 0, 1, 2}));
    EXPECT_EQ(morvDb({QStringLiteral("check"), tdb.dir()}, &out), 0) << out.toStdString();
    if (!mdxPeer().isEmpty()) {
        EXPECT_EQ(runCommand(mdxPeer(), {QStringLiteral("check"), org}, &out), 0) << out.toStdString();
    }
}
