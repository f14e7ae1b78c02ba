// What the table cursor reads while it browses, checked against readers we did not write: libc
// for number texts, dbfread for whole tables.
#include "TestDb.h"
#include "dataset/Aliases.h"
#include "dataset/Table.h"
#include "dbf/DbfFile.h"
#include "dbf/NumberText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <string>

namespace {

// A number text as stored: right-aligned in a field of the given width, often not.
std::string randomText(std::mt19937_64& rng, int width) {
    static const char* const kOdd[] = {"-", "+", ".", "-.5", "+7", "1,5", "1 2", "0x1", "1e2", "--1", "*"};
    std::string s;
    switch (rng() % 6) {
    case 0:
        s = kOdd[rng() % std::size(kOdd)];
        break;
    case 1:
        s = std::to_string(int64_t(rng() % 200000000) - 100000000);
        break;
    case 2: {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.*f", int(rng() % 5),
                      double(int64_t(rng() % 2000000) - 1000000) / double(1 + rng() % 1000));
        s = buf;
        break;
    }
    default:
        s = std::to_string(rng() % 100000);
        break;
    }
    if (int(s.size()) > width) s.resize(size_t(width));
    const size_t pad = size_t(width) - s.size();
    return rng() % 5 ? std::string(pad, ' ') + s : s + std::string(pad, ' ');
}

// libc's reading of a field text, blanks around it allowed, nothing else.
bool libcNumber(const std::string& field, double& out) {
    std::string t = field;
    for (char& c : t)
        if (c == ',') c = '.';
    const size_t b = t.find_first_not_of(' ');
    if (b == std::string::npos) return false;
    const std::string body = t.substr(b, t.find_last_not_of(' ') + 1 - b);
    // Hex and infinities are not dBASE numbers; strtod would take them.
    if (body.find_first_not_of("0123456789+-.eE") != std::string::npos) return false;
    char* end = nullptr;
    out = std::strtod(body.c_str(), &end);
    return end == body.c_str() + body.size() && end != body.c_str();
}

} // namespace

TEST(NumberText, FieldsReadInPlaceGiveWhatLibcReads) {
    // Each field sits after bytes of the record before it, as in a real record: the reader may
    // look at them but must not take them for part of the number.
    std::mt19937_64 rng(7);
    for (int i = 0; i < 300000; ++i) {
        const int width = 1 + int(rng() % 20);
        const std::string text = randomText(rng, width);
        std::string record = std::string(8, char('0' + rng() % 10)) + text;
        const char* p = record.data() + 8;
        const char* e = p + width;

        double expected = 0, got = -1;
        const bool ok = libcNumber(text, expected);
        ASSERT_EQ(dbf::number::parseNumberAt(p, e, got), ok) << '"' << text << '"';
        if (ok) {
            ASSERT_EQ(got, expected) << '"' << text << '"';
        }

        // The whole-number shortcut answers only what it reads exactly; the rest it leaves.
        int64_t whole = 0;
        if (dbf::number::parseShortWhole(p, e, whole)) {
            ASSERT_TRUE(ok) << '"' << text << '"';
            ASSERT_EQ(double(whole), expected) << '"' << text << '"';
            ASSERT_EQ(std::strtoll(text.c_str(), nullptr, 10), whole) << '"' << text << '"';
        }
    }
}

namespace {

// Texts other writers leave in each kind of number field; every one dbfread reads too.
const char* const kWide[] = {"              3.0000",
                             "  -12.5000          ",
                             "           1234.5678",
                             "                    ",
                             "      -0.5000",
                             "12345678901234.5678",
                             "  +7"};
const char* const kWhole[] = {"     7", "    -2", "      ", "007   ", "   1.5",
                              "  -2.5", "    +3", "999999", "-99999", "  0.50"};
const char* const kShort[] = {"5", " ", "0", "9"}; // one byte wide, the first field of a record
const char* const kDates[] = {"20240229", "        ", "19991231"};
constexpr int kRows = 7000;

// N(1,0), N(20,4), N(6,0), D, N(8,0): the short fields lie right after other fields' bytes.
QString makeTable(const QTemporaryDir& dir) {
    const QString path = dir.filePath(QStringLiteral("r.dbf"));
    dbf::DbfFile::create(
        path.toStdString(),
        {{"S", 'N', 1, 0}, {"W", 'N', 20, 4}, {"B", 'N', 6, 0}, {"D", 'D', 8, 0}, {"E", 'N', 8, 0}});
    auto f = dbf::DbfFile::open(path.toStdString());
    f->setDurable(false);
    for (int i = 0; i < kRows; ++i) {
        char eight[9];
        std::snprintf(eight, sizeof eight, "%8d", (i * 7919) % 19999999 - 9999999);
        std::string wide = kWide[i % std::size(kWide)];
        wide.resize(20, ' ');
        f->appendRecord(std::string(" ") + kShort[i % std::size(kShort)] + wide +
                        kWhole[i % std::size(kWhole)] + kDates[i % std::size(kDates)] + eight);
    }
    return path;
}

// One record as dbfread gives it, each value as the cursor should show it.
struct Expected {
    std::optional<double> s, w, b, e;
    QString d;
};

std::optional<double> peerNumber(const QJsonValue& v, bool whole) {
    if (v.isNull()) return std::nullopt;
    // Python's round() takes halves to the even neighbour, as whole-number fields do.
    return whole ? std::nearbyint(v.toDouble()) : v.toDouble();
}

std::vector<Expected> expectedRows(const QTemporaryDir& dir) {
    std::vector<Expected> rows;
    for (const QString& line : peerDump(dir.path(), QStringLiteral("r"))) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        rows.push_back({peerNumber(o["S"], true), peerNumber(o["W"], false), peerNumber(o["B"], true),
                        peerNumber(o["E"], true), o["D"].isNull() ? QString() : o["D"].toString()});
    }
    return rows;
}

std::optional<double> shown(const db::Field* f) {
    const db::Variant v = f->value();
    if (v.isNull()) return std::nullopt;
    return v.toDouble();
}

void expectRow(db::Table& t, const Expected& x, int row) {
    EXPECT_EQ(shown(t.fieldByName("S")), x.s) << "row " << row;
    EXPECT_EQ(shown(t.fieldByName("W")), x.w) << "row " << row;
    EXPECT_EQ(shown(t.fieldByName("B")), x.b) << "row " << row;
    EXPECT_EQ(shown(t.fieldByName("E")), x.e) << "row " << row;
    const db::Variant d = t.fieldByName("D")->value();
    EXPECT_EQ(d.isNull() ? QString() : d.toDate().toString(Qt::ISODate), x.d) << "row " << row;
}

class CursorReads : public ::testing::Test {
protected:
    void SetUp() override {
        makeTable(dir);
        db::Aliases::bind("cursorreads", dir.path());
        t.setDatabaseName("cursorreads");
        t.setTableName("r.dbf");
        t.open();
    }
    void TearDown() override {
        t.close();
        db::Aliases::unbind("cursorreads");
    }
    QTemporaryDir dir;
    db::Table t;
};

} // namespace

TEST_F(CursorReads, EveryFieldForwardBackwardAndFilteredIsWhatDbfreadReads) {
    const std::vector<Expected> rows = expectedRows(dir);
    ASSERT_EQ(int(rows.size()), kRows);
    ASSERT_EQ(t.recordCount(), kRows);

    int row = 0;
    for (t.first(); !t.eof() && !HasFailure(); t.next(), ++row)
        expectRow(t, rows[size_t(row)], row);
    EXPECT_EQ(row, kRows);
    for (t.last(); !t.bof() && !HasFailure(); t.prior()) {
        --row;
        expectRow(t, rows[size_t(row)], row);
    }
    EXPECT_EQ(row, 0);

    // A filtered view is no longer record for row: the same values by another way.
    t.filterBy(QStringLiteral("E > 0"));
    int matched = 0;
    for (t.first(); !t.eof() && !HasFailure(); t.next()) {
        while (!(rows[size_t(row)].e.value_or(0) > 0))
            ++row;
        expectRow(t, rows[size_t(row)], row);
        ++row;
        ++matched;
    }
    EXPECT_GT(matched, kRows / 4);
    EXPECT_LT(matched, kRows);
}

TEST_F(CursorReads, RecordsAnotherWriterAddsAndChangesAreReadAfterARefresh) {
    t.last();
    {
        auto other = dbf::DbfFile::open(dir.filePath(QStringLiteral("r.dbf")).toStdString());
        other->setDurable(false);
        other->appendRecord(std::string(" 4") + std::string(20, ' ') + "    11" + "20250101" + "      -8");
        std::string first(other->record(0), other->recordLength());
        first.replace(22, 6, "   -64");
        other->writeRecord(0, first);
    }
    t.refresh();
    const std::vector<Expected> rows = expectedRows(dir);
    ASSERT_EQ(int(rows.size()), kRows + 1);
    EXPECT_EQ(*rows[0].b, -64);
    int row = 0;
    for (t.first(); !t.eof() && !HasFailure(); t.next(), ++row)
        expectRow(t, rows[size_t(row)], row);
    EXPECT_EQ(row, kRows + 1);
}

TEST_F(CursorReads, ControlsFollowTheCursorWhoeverJoinsOrLeaves) {
    // A scan nobody watches sends no signals; one that gets a watcher midway must tell it.
    t.first();
    t.next();
    db::DataSource a, b;
    a.setDataSet(&t);
    b.setDataSet(&t);
    QSignalSpy onA(&a, &db::DataSource::scrolled), onB(&b, &db::DataSource::scrolled);
    t.next();
    EXPECT_EQ(onA.count(), 1);
    EXPECT_EQ(onB.count(), 1);
    a.setDataSet(nullptr); // one leaves: the other is still told
    t.next();
    EXPECT_EQ(onA.count(), 1);
    EXPECT_EQ(onB.count(), 2);
    b.setDataSet(nullptr);
    a.setDataSet(&t);
    t.prior();
    EXPECT_EQ(onA.count(), 2);
    {
        db::DataSource passing(nullptr, &t); // one made and deleted while another watches
    }
    t.next();
    EXPECT_EQ(onA.count(), 3);
    EXPECT_EQ(onB.count(), 2);
}
