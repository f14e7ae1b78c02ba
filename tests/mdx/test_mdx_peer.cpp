// The index against an independent reader and writer of production indexes (../shared/tools/
// mdx-peer): what we write it finds sound and lists in our order; what it writes we read in
// its order and keep sound. Skipped on a checkout without ../shared.
// The peer has faults of its own that these tests step around, each shown by a tag it builds
// itself failing its own check: it orders numbers of unequal digit counts wrongly when they are
// negative or the tag descends (880.90 before 880.92); it calls every unique tag broken; and it
// keys DTOS() of a blank date as "13917040" where dBASE gives eight blanks. Its check of a tag
// with a FOR condition is not to be trusted either (it calls broken a tag of ten records and
// four right keys, which its own "keys" lists in our order), so FOR is tested by our tests only.
#include "MdxTest.h"
#include "TestDb.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <random>

using dbf::DbfFile;
using dbf::TagSpec;

namespace {

int peer(const QStringList& args, QString* out = nullptr) {
    return runCommand(mdxPeer(), args, out);
}

// Record numbers (0-based) in the peer's order of a tag.
std::vector<uint32_t> peerKeys(const QString& table, const QString& tag) {
    QString out;
    EXPECT_EQ(peer({QStringLiteral("keys"), table, tag}, &out), 0) << out.toStdString();
    std::vector<uint32_t> r;
    for (const QString& line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        bool ok = false;
        uint32_t n = line.trimmed().toUInt(&ok);
        if (ok) r.push_back(n - 1);
    }
    return r;
}

void expectPeerFindsItSound(const QString& table) {
    QString out;
    EXPECT_EQ(peer({QStringLiteral("check"), table}, &out), 0) << out.toStdString();
    EXPECT_FALSE(out.contains(QStringLiteral("BROKEN"))) << out.toStdString();
}

std::string recordWith(const DbfFile& f, const std::vector<std::pair<const char*, std::string>>& values) {
    std::string r = f.blankRecord();
    for (const auto& [name, text] : values) {
        int i = f.fieldIndex(name);
        const dbf::FieldDef& d = f.fields()[size_t(i)];
        std::string v = d.type == 'N' || d.type == 'F' ? f.formatNumber(i, std::stod(text)) : text;
        v.resize(d.length, ' ');
        r.replace(1 + d.offset, d.length, v);
    }
    return r;
}

} // namespace

TEST(MdxPeer, FindsWhatWeWriteSoundAndInOurOrder) {
    if (mdxPeer().isEmpty()) GTEST_SKIP() << "no ../shared/tools/mdx-peer beside this checkout";
    QTemporaryDir dir;
    std::string path = dir.filePath("t.dbf").toStdString();
    makeTable(path, 1500, 7);
    std::vector<TagSpec> tags = {{"NAME", "NAME", "", false, false},
                                 {"QTYD", "QTY", "", true, false},
                                 {"PRICE", "PRICE", "", false, false},
                                 {"BORN", "BORN", "", false, false},
                                 {"MIX", "UPPER(NAME)+STR(QTY,6)+STR(PRICE,9,2)", "", true, false}};
    DbfFile::createIndex(path, tags);
    const QString table = QString::fromStdString(path);
    expectPeerFindsItSound(table);
    {
        // Appends, key changes and deletion marks with splits, as the program makes them.
        auto f = DbfFile::open(path);
        f->setDurable(false);
        std::mt19937 rng(5);
        for (int i = 0; i < 1500; ++i) {
            if (i % 3 == 0) {
                uint32_t r = rng() % f->recordCount();
                std::string rec = randomRecord(*f, rng);
                rec[0] = ' ';
                f->writeRecord(r, rec);
            } else {
                f->appendRecord(randomRecord(*f, rng));
            }
        }
    }
    expectPeerFindsItSound(table);
    auto f = DbfFile::open(path, true);
    for (const TagSpec& t : tags) {
        std::vector<uint32_t> ours;
        ASSERT_TRUE(f->tagOrder(t.name, ours));
        EXPECT_EQ(peerKeys(table, QString::fromStdString(t.name)), ours) << t.name;
    }
}

TEST(MdxPeer, ForeignIndexIsReadInItsOrderAndKeptSound) {
    if (mdxPeer().isEmpty()) GTEST_SKIP() << "no ../shared/tools/mdx-peer beside this checkout";
    const QString fixture = QStringLiteral(MORV_SHARED_DIR "/fixtures/foreign/xbase64-mdx");
    QTemporaryDir dir;
    for (const char* ext : {".DBF", ".DBT", ".MDX"}) {
        QString to = dir.filePath(QStringLiteral("PEOPLE") + QLatin1String(ext));
        ASSERT_TRUE(QFile::copy(fixture + QStringLiteral("/PEOPLE") + QLatin1String(ext), to));
        QFile(to).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }
    const QString table = dir.filePath(QStringLiteral("PEOPLE.DBF"));
    const std::string path = table.toStdString();
    auto sameOrders = [&] {
        auto f = DbfFile::open(path, true);
        for (const char* tag : {"NAME", "QTY", "BORN"}) {
            std::vector<uint32_t> ours;
            ASSERT_TRUE(f->tagOrder(tag, ours)) << tag;
            EXPECT_EQ(ours, peerKeys(table, QString::fromLatin1(tag))) << tag;
        }
    };
    sameOrders();
    {
        auto f = DbfFile::open(path);
        ASSERT_TRUE(f->writable()) << f->readOnlyReason();
        std::mt19937 rng(9);
        for (int i = 0; i < 300; ++i) {
            std::string born = rng() % 5 ? std::to_string(19500101 + int(rng() % 50) * 10000) : "        ";
            f->appendRecord(recordWith(*f, {{"NAME", "N" + std::to_string(rng() % 40)},
                                            {"QTY", std::to_string(int(rng() % 100) - 50)},
                                            {"BORN", born}}));
        }
        for (uint32_t r = 0; r < 40; ++r)
            f->writeRecord(r * 7,
                           recordWith(*f, {{"NAME", "W" + std::to_string(r)}, {"QTY", std::to_string(r)}}));
    }
    expectPeerFindsItSound(table);
    sameOrders();
    // The peer appends to what we kept, and we find it sound.
    for (int i = 0; i < 30; ++i)
        ASSERT_EQ(peer({QStringLiteral("append"), table, QStringLiteral("NAME=P%1").arg(i % 4),
                        QStringLiteral("QTY=%1").arg(i), QStringLiteral("BORN=2001010%1").arg(i % 9 + 1)}),
                  0);
    auto f = DbfFile::open(path);
    EXPECT_EQ(f->checkIndex(), std::vector<std::string>{});
    sameOrders();
}

TEST(MdxPeer, TagsThePeerAddsAreReadAndKept) {
    if (mdxPeer().isEmpty()) GTEST_SKIP() << "no ../shared/tools/mdx-peer beside this checkout";
    // No DTOS() here: the peer keys a blank date as "13917040" where dBASE has eight blanks.
    QTemporaryDir dir;
    std::string path = dir.filePath("p.dbf").toStdString();
    makeTable(path, 400, 3);
    const QString table = QString::fromStdString(path);
    ASSERT_EQ(peer({QStringLiteral("tag"), table, QStringLiteral("SUB"),
                    QStringLiteral("SUBSTR(NAME,2,4)+LEFT(NAME,1)+RIGHT(STR(QTY,6),3)")}),
              0);
    ASSERT_EQ(peer({QStringLiteral("tag"), table, QStringLiteral("PRD"), QStringLiteral("PRICE")}), 0);
    ASSERT_EQ(peer({QStringLiteral("tag"), table, QStringLiteral("QD"), QStringLiteral("STR(QTY,4)+NAME"),
                    QStringLiteral("desc")}),
              0);
    {
        auto f = DbfFile::open(path);
        ASSERT_TRUE(f->writable()) << f->readOnlyReason();
        for (const char* tag : {"SUB", "PRD", "QD"}) {
            std::vector<uint32_t> ours;
            ASSERT_TRUE(f->tagOrder(tag, ours));
            EXPECT_EQ(ours, peerKeys(table, QString::fromLatin1(tag))) << tag;
        }
        f->setDurable(false);
        std::mt19937 rng(4);
        for (int i = 0; i < 600; ++i)
            f->appendRecord(randomRecord(*f, rng));
        EXPECT_EQ(f->checkIndex(), std::vector<std::string>{});
    }
    expectPeerFindsItSound(table);
}
