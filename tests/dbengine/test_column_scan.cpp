// The one-pass, few-fields reading of a large table that the analyses and the export use.
#include "TestDb.h"
#include "dataset/ColumnScan.h"
#include "dbf/DbfFile.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

namespace {

// Texts as other writers leave them: right-aligned, left-aligned, halves, blanks, signs.
const char* const kA[] = {"      1.0000", "      2.5000", "     -3.5000", "            ", "     12.0001",
                          "      7.4999", " 123456.0000", "0.5000      ", "     -0.5000", "          42"};
const char* const kB[] = {"     7", "    -2", "      ", "0     ", "    15"};
constexpr uint32_t kRows = 60000; // more than one block of the scan

QString makeTable(const QTemporaryDir& dir) {
    const QString path = dir.filePath(QStringLiteral("t.dbf"));
    dbf::DbfFile::create(path.toStdString(), {{"A", 'N', 12, 4}, {"B", 'N', 6, 0}, {"C", 'C', 8, 0}});
    auto f = dbf::DbfFile::open(path.toStdString());
    f->setDurable(false);
    for (uint32_t i = 0; i < kRows; ++i) {
        std::string rec = std::string(" ") + kA[i % 10] + kB[i % 5] + "row     ";
        f->appendRecord(rec);
        if (i % 7 == 3) f->setDeleted(i, true);
    }
    return path;
}

std::optional<int64_t> peerWhole(const QJsonValue& v) {
    if (v.isNull()) return std::nullopt;
    // Python's round() takes halves to the even neighbour too.
    return int64_t(std::nearbyint(v.toDouble()));
}

} // namespace

TEST(ColumnScan, ScanReadsTheNumbersAnotherReaderReads) {
    QTemporaryDir dir;
    makeTable(dir);
    const QStringList peer = peerDump(dir.path(), QStringLiteral("t"));
    ASSERT_EQ(peer.size(), int(kRows - kRows / 7 - (kRows % 7 > 3)));

    const auto t = db::ColumnScan::open(dir.path(), "T.DBF"); // found whatever the letter case
    const int a = t->column("A"), b = t->column("b");
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    EXPECT_EQ(t->column("NONE"), -1);
    int live = 0;
    uint32_t expected = 0;
    t->scan([&](const db::ColumnScan::Record& r) {
        EXPECT_EQ(r.index(), expected++);
        EXPECT_EQ(r.live(), r.index() % 7 != 3);
        if (!r.live()) return true;
        const QJsonObject row = QJsonDocument::fromJson(peer.at(live++).toUtf8()).object();
        EXPECT_EQ(r.whole(a), peerWhole(row["A"])) << r.index() << " " << kA[r.index() % 10];
        EXPECT_EQ(r.whole(b), peerWhole(row["B"])) << r.index() << " " << kB[r.index() % 5];
        EXPECT_EQ(r.number(a).has_value(), !row["A"].isNull());
        return !::testing::Test::HasFailure();
    });
    EXPECT_EQ(expected, kRows);
    EXPECT_EQ(live, peer.size());
}

TEST(ColumnScan, AScanStopsWhenToldAndWhereTheFileWasCut) {
    QTemporaryDir dir;
    const QString path = makeTable(dir);
    const auto t = db::ColumnScan::open(dir.path(), "t.dbf");
    uint32_t seen = 0;
    t->scan([&](const db::ColumnScan::Record&) { return ++seen < 100; });
    EXPECT_EQ(seen, 100u);

    // Another program cuts the table mid-record while the first block is being read: the pass
    // ends with the last whole record the file still holds.
    const qint64 header = 32 + 3 * 32 + 1, length = 1 + 12 + 6 + 8;
    seen = 0;
    uint32_t last = 0;
    t->scan([&](const db::ColumnScan::Record& r) {
        if (seen++ == 10) {
            EXPECT_TRUE(QFile::resize(path, header + 50000 * length + 5));
        }
        last = r.index();
        return true;
    });
    EXPECT_EQ(last, 49999u);
    EXPECT_EQ(seen, 50000u);
}

TEST(ColumnScan, WholeNumbersOfOddTexts) {
    // What dbfread would refuse outright: no digits at all.
    for (const char* s : {"", "     ", ".", "  -", " - .", "abc"})
        EXPECT_EQ(db::wholeNumber(s), std::nullopt) << '"' << s << '"';
    EXPECT_EQ(db::wholeNumber("  -12.000"), -12);
    EXPECT_EQ(db::wholeNumber("  12."), 12);
    EXPECT_EQ(db::wholeNumber("1234567890123456789"), 1234567890123456768); // the nearest double
}
