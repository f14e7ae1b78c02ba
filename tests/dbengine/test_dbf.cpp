// The file layer: what we write must read back and satisfy other dBASE readers; what others
// wrote must open; damaged files must fail with a message, never a crash.
#include "TestDb.h"
#include "dbf/DbfFile.h"
#include "dbf/KeyIndex.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <cmath>
#include <csignal>
#include <ctime>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

using dbf::DbfError;
using dbf::DbfFile;
using dbf::FieldDef;

namespace {

std::vector<FieldDef> sampleFields() {
    return {{"NAME", 'C', 30, 0},
            {"QTY", 'N', 6, 0},
            {"PRICE", 'N', 20, 4},
            {"BORN", 'D', 8, 0},
            {"NOTES", 'M', 10, 0}};
}

std::string record(DbfFile& f, const QString& name, double qty, double price, QDate born,
                   const QString& memo) {
    std::string r = f.blankRecord();
    std::string enc;
    EXPECT_TRUE(dbf::encode(name, f.codePage(), enc));
    enc.resize(30, ' ');
    auto put = [&](int field, const std::string& text) {
        r.replace(1 + f.fields()[size_t(field)].offset, text.size(), text);
    };
    put(0, enc);
    put(1, f.formatNumber(1, qty));
    put(2, f.formatNumber(2, price));
    put(3, DbfFile::formatDate(born));
    if (!memo.isEmpty()) {
        std::string m;
        EXPECT_TRUE(dbf::encode(memo, f.codePage(), m));
        std::string num = std::to_string(f.writeMemo(m, 0));
        put(4, std::string(10 - num.size(), ' ') + num);
    }
    return r;
}

QByteArray readBytes(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

QString longMemo() {
    QString s;
    for (int i = 1; i <= 60; ++i)
        s += QStringLiteral("Строка %1 длинного мемо. ").arg(i);
    return s;
}

} // namespace

TEST(DbfFile, WrittenTableReadsBackAndPassesPeerCheck) {
    QTemporaryDir dir;
    std::string path = dir.filePath("t.dbf").toStdString();
    DbfFile::create(path, sampleFields());
    {
        auto f = DbfFile::open(path);
        f->appendRecord(record(*f, QStringLiteral("Иванов Пётр"), 12, 3.5, QDate(1999, 12, 31),
                               QStringLiteral("Короткая")));
        f->appendRecord(
            record(*f, QStringLiteral("Ёжик в тумане"), -7, 1234.5678, QDate(2024, 2, 29), longMemo()));
        f->appendRecord(record(*f, QStringLiteral("ascii"), 0, 0, QDate(), QString()));
    }
    auto f = DbfFile::open(path);
    ASSERT_EQ(f->recordCount(), 3u);
    EXPECT_EQ(f->readString(0, 0), QStringLiteral("Иванов Пётр"));
    EXPECT_EQ(f->readString(1, 0), QStringLiteral("Ёжик в тумане"));
    double v = 0;
    ASSERT_TRUE(f->readNumber(1, 2, v));
    EXPECT_DOUBLE_EQ(v, 1234.5678);
    ASSERT_TRUE(f->readNumber(1, 1, v));
    EXPECT_EQ(v, -7);
    EXPECT_EQ(f->readDate(1, 3), QDate(2024, 2, 29));
    EXPECT_FALSE(f->readDate(2, 3).isValid());
    EXPECT_EQ(f->readMemo(1, 4), longMemo());
    EXPECT_EQ(f->readMemo(2, 4), QString());

    // Header bytes other tools rely on.
    QByteArray dbfBytes = readBytes(dir.filePath("t.dbf"));
    EXPECT_EQ(uint8_t(dbfBytes[0]), 0x8B);
    EXPECT_EQ(uint8_t(dbfBytes[1]), QDate::currentDate().year() - 1900);
    EXPECT_EQ(uint8_t(dbfBytes[29]), 0x26);
    EXPECT_EQ(dbfBytes.back(), '\x1A');
    QByteArray memo = readBytes(dir.filePath("t.dbt"));
    EXPECT_EQ(uint8_t(memo[4]) | uint8_t(memo[5]) << 8, 512);
    EXPECT_EQ(uint8_t(memo[20]) | uint8_t(memo[21]) << 8, 512);
    EXPECT_EQ(memo.size() % 512, 0);

    QString report;
    ASSERT_EQ(peerCheck(dir.path(), &report), 0) << report.toStdString();
    const QStringList lines = peerDump(dir.path(), "t");
    ASSERT_EQ(lines.size(), 3);
    QJsonObject second = QJsonDocument::fromJson(lines[1].toUtf8()).object();
    EXPECT_EQ(second["NAME"].toString(), QStringLiteral("Ёжик в тумане"));
    EXPECT_EQ(second["QTY"].toInt(), -7);
    EXPECT_EQ(second["BORN"].toString(), QStringLiteral("2024-02-29"));
    EXPECT_EQ(second["NOTES"].toString(), longMemo());
}

TEST(DbfFile, TableWithoutMemoIsVersion3AndMemoIsRewrittenInPlaceWhenItFits) {
    QTemporaryDir dir;
    std::string plain = dir.filePath("plain.dbf").toStdString();
    DbfFile::create(plain, {{"A", 'N', 6, 0}});
    EXPECT_EQ(uint8_t(readBytes(dir.filePath("plain.dbf"))[0]), 0x03);
    EXPECT_FALSE(QFile::exists(dir.filePath("plain.dbt")));

    std::string path = dir.filePath("m.dbf").toStdString();
    DbfFile::create(path, sampleFields());
    auto f = DbfFile::open(path);
    uint32_t b1 = f->writeMemo("first text", 0);
    uint32_t b2 = f->writeMemo("other", 0);
    EXPECT_NE(b1, b2);
    EXPECT_EQ(f->writeMemo("short", b1), b1); // fits the old block
    std::string big(2000, 'x');
    uint32_t b3 = f->writeMemo(big, b1);
    EXPECT_GT(b3, b2); // does not fit: new blocks, the neighbour stays intact
    std::string r = f->blankRecord();
    std::string num = std::to_string(b2);
    r.replace(1 + f->fields()[4].offset, 10, std::string(10 - num.size(), ' ') + num);
    f->appendRecord(r);
    EXPECT_EQ(f->readMemo(0, 4), QStringLiteral("other"));
}

TEST(DbfFile, ForeignTablesOpen) {
    const QString base = testData("foreign/");
    for (const char* name : {"perl-cp866/t866.dbf", "perl-cp1251/t1251.dbf"}) {
        SCOPED_TRACE(name);
        auto f = DbfFile::open((base + name).toStdString());
        ASSERT_EQ(f->recordCount(), 3u);
        EXPECT_EQ(f->readString(0, 0), QStringLiteral("Иванов Пётр"));
        EXPECT_EQ(f->readString(1, 0), QStringLiteral("Ёжик в тумане"));
        double v = 0;
        ASSERT_TRUE(f->readNumber(1, f->fieldIndex("PRICE"), v));
        EXPECT_DOUBLE_EQ(v, 1234.5678);
        EXPECT_EQ(f->readDate(1, f->fieldIndex("BORN")), QDate(2024, 2, 29));
        EXPECT_EQ(f->readLogical(1, f->fieldIndex("ACTIVE")), 0);
        QString memo = f->readMemo(1, f->fieldIndex("NOTES"));
        EXPECT_TRUE(memo.startsWith(QStringLiteral("Строка 1 длинного мемо. ")));
        EXPECT_TRUE(memo.trimmed().endsWith(QStringLiteral("Строка 60 длинного мемо.")));
        EXPECT_EQ(f->readMemo(0, f->fieldIndex("NOTES")), QStringLiteral("Короткая заметка"));
        EXPECT_EQ(f->readMemo(2, f->fieldIndex("NOTES")), QString());
    }
    auto x = DbfFile::open((base + "xbase64-mdx/PEOPLE.DBF").toStdString());
    ASSERT_EQ(x->recordCount(), 4u);
    EXPECT_EQ(x->readString(3, 0), QStringLiteral("Яшик"));
    EXPECT_EQ(x->readMemo(1, x->fieldIndex("NOTES")), QStringLiteral("Мемо memo"));
    auto g = DbfFile::open((base + "gdal-cpg/o_CP866.dbf").toStdString());
    ASSERT_EQ(g->recordCount(), 2u);
    EXPECT_EQ(g->readString(1, 0), QStringLiteral("Ёлка"));
}

TEST(DbfFile, DamagedFilesFailWithTheFileName) {
    QTemporaryDir dir;
    std::string path = dir.filePath("d.dbf").toStdString();
    DbfFile::create(path, sampleFields());
    {
        auto f = DbfFile::open(path);
        for (int i = 0; i < 3; ++i)
            f->appendRecord(record(*f, "x", i, 0, QDate(2020, 1, 1), QStringLiteral("memo")));
    }
    QByteArray good = readBytes(QString::fromStdString(path));
    auto expectFailure = [&](QByteArray bytes, const char* what) {
        SCOPED_TRACE(what);
        QFile out(QString::fromStdString(path));
        out.open(QIODevice::WriteOnly | QIODevice::Truncate);
        out.write(bytes);
        out.close();
        try {
            auto f = DbfFile::open(path);
            for (uint32_t r = 0; r < f->recordCount(); ++r)
                f->readMemo(r, 4);
            FAIL() << "no error";
        } catch (const DbfError& e) {
            EXPECT_NE(std::string(e.what()).find(dir.path().toStdString()), std::string::npos) << e.what();
        }
    };
    expectFailure(good.left(20), "truncated header");
    QByteArray count = good;
    count[4] = char(200);
    expectFailure(count, "count larger than the file");
    QByteArray version = good;
    version[0] = char(0x42);
    expectFailure(version, "not a dBASE table");
    QByteArray memoRef = good;
    int memoAt = good.indexOf("         1");
    ASSERT_GT(memoAt, 0);
    memoRef.replace(memoAt, 10, "    999999");
    expectFailure(memoRef, "memo block past the end");
}

namespace {
// Appends numbered records until killed, telling the parent after each post returned.
[[noreturn]] void appendForever(const std::string& path, int pipeFd, int tag, int limit) {
    auto f = DbfFile::open(path);
    for (int i = 0; i < limit; ++i) {
        std::string r = f->blankRecord();
        std::string v = f->formatNumber(0, tag * 100000 + i);
        r.replace(1, v.size(), v);
        f->appendRecord(r);
        if (pipeFd >= 0 && write(pipeFd, &i, sizeof i) != sizeof i) _exit(3);
    }
    _exit(0);
}
} // namespace

TEST(DbfFile, KilledWriterLeavesEveryPostedRecord) {
    QTemporaryDir dir;
    std::string path = dir.filePath("k.dbf").toStdString();
    DbfFile::create(path, {{"N", 'N', 10, 0}, {"T", 'C', 50, 0}});
    for (int round = 0; round < 3; ++round) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            appendForever(path, fds[1], round, 1 << 30);
        }
        close(fds[1]);
        int last = -1, got;
        timespec start;
        clock_gettime(CLOCK_MONOTONIC, &start);
        // Kill it at some moment while it is appending.
        for (int reads = 0; reads < 40 + round * 37; ++reads)
            if (read(fds[0], &got, sizeof got) == sizeof got) last = got;
        kill(pid, SIGKILL);
        while (read(fds[0], &got, sizeof got) == sizeof got)
            last = got;
        close(fds[0]);
        waitpid(pid, nullptr, 0);

        auto f = DbfFile::open(path); // opening for writing also cuts a half-written tail
        uint32_t mine = 0;
        for (uint32_t r = 0; r < f->recordCount(); ++r) {
            double v;
            ASSERT_TRUE(f->readNumber(r, 0, v)) << "record " << r;
            if (int(v) / 100000 == round) ++mine;
        }
        EXPECT_GE(int(mine), last + 1) << "a posted record was lost";
        QString report;
        EXPECT_EQ(peerCheck(dir.path(), &report), 0) << report.toStdString();
    }
}

TEST(DbfFile, TwoProcessesAppendingLoseNothing) {
    QTemporaryDir dir;
    std::string path = dir.filePath("c.dbf").toStdString();
    DbfFile::create(path, {{"N", 'N', 10, 0}});
    const int perWriter = 400;
    pid_t a = fork();
    if (a == 0) appendForever(path, -1, 1, perWriter);
    pid_t b = fork();
    if (b == 0) appendForever(path, -1, 2, perWriter);
    int sa = 0, sb = 0;
    waitpid(a, &sa, 0);
    waitpid(b, &sb, 0);
    ASSERT_EQ(WEXITSTATUS(sa), 0);
    ASSERT_EQ(WEXITSTATUS(sb), 0);
    auto f = DbfFile::open(path);
    ASSERT_EQ(f->recordCount(), uint32_t(2 * perWriter));
    std::vector<int> seen(2 * perWriter, 0);
    for (uint32_t r = 0; r < f->recordCount(); ++r) {
        double v;
        ASSERT_TRUE(f->readNumber(r, 0, v));
        int tag = int(v) / 100000, i = int(v) % 100000;
        ASSERT_TRUE((tag == 1 || tag == 2) && i < perWriter) << v;
        ++seen[size_t((tag - 1) * perWriter + i)];
    }
    for (int s : seen)
        EXPECT_EQ(s, 1);
    EXPECT_EQ(peerCheck(dir.path()), 0);
}

TEST(DbfFile, CodePages) {
    std::string out;
    EXPECT_TRUE(dbf::encode(QStringLiteral("Ёё№ Привет"), dbf::CodePage::Cp866, out));
    EXPECT_EQ(dbf::decode(out, dbf::CodePage::Cp866), QStringLiteral("Ёё№ Привет"));
    EXPECT_EQ(uint8_t(out[0]), 0xF0);
    EXPECT_TRUE(dbf::encode(QStringLiteral("Ёё№ Привет"), dbf::CodePage::Cp1251, out));
    EXPECT_EQ(uint8_t(out[0]), 0xA8);
    EXPECT_EQ(dbf::decode(out, dbf::CodePage::Cp1251), QStringLiteral("Ёё№ Привет"));
    QString bad;
    EXPECT_FALSE(dbf::encode(QStringLiteral("цена 5€"), dbf::CodePage::Cp866, out, &bad));
    EXPECT_EQ(bad, QStringLiteral("€"));
    // A character outside the 16-bit range is named whole, not by half of its surrogate pair.
    EXPECT_FALSE(dbf::encode(QStringLiteral("ок 😀!"), dbf::CodePage::Cp1251, out, &bad));
    EXPECT_EQ(bad, QStringLiteral("😀"));
    EXPECT_EQ(dbf::codePageForDriver(0x65), dbf::CodePage::Cp866);
    EXPECT_EQ(dbf::codePageForDriver(0xC9), dbf::CodePage::Cp1251);
}

TEST(DbfFile, NumberTextsAsOtherWritersStoreThem) {
    struct Case {
        const char* text;
        bool ok;
        double value;
    };
    for (const Case& c :
         {Case{"              3.0000", true, 3}, Case{"   -12.50", true, -12.5},
          Case{"1234.5678", true, 1234.5678}, Case{"  0.1", true, 0.1}, Case{"  1,5 ", true, 1.5},
          Case{"+7", true, 7}, Case{"1e3", true, 1000},
          Case{"12345678901234567890", true, 12345678901234567890.0}, Case{"-.5", true, -0.5},
          Case{"      ", false, 0}, Case{"", false, 0}, Case{"-", false, 0}, Case{"1 2", false, 0},
          Case{"abc", false, 0}, Case{"***", false, 0}, Case{"inf", false, 0}, Case{"0x10", false, 0}}) {
        double v = -999;
        EXPECT_EQ(dbf::parseNumber(c.text, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_DOUBLE_EQ(v, c.value) << c.text;
        }
    }
    // A NUL inside a field is rubbish, not the end of its text, on every path of the reader.
    using namespace std::string_view_literals;
    for (std::string_view s :
         {"    5\0xyz"sv, "5\0"sv, "1e3\0"sv, "  12345678901234567890\0 "sv, "1.5e2\0xy"sv}) {
        double v = 0;
        EXPECT_FALSE(dbf::parseNumber(s, v)) << std::string(s.data(), s.find('\0'));
    }
    // Whatever width and decimals a writer used, the value is the correctly rounded one.
    std::mt19937_64 rng(42);
    for (int i = 0; i < 200000; ++i) {
        int decimals = int(rng() % 6), width = decimals + 2 + int(rng() % 14);
        double x = double(int64_t(rng() % 2000000001) - 1000000000) / std::pow(10.0, double(rng() % 9));
        char text[64];
        std::snprintf(text, sizeof text, "%*.*f", width, decimals, x);
        double v = 0;
        ASSERT_TRUE(dbf::parseNumber(text, v)) << text;
        ASSERT_EQ(v, std::strtod(text, nullptr)) << text;
    }
}

TEST(DbfFile, KeyIndexSeesRewritesByAnotherWriter) {
    QTemporaryDir dir;
    std::string path = dir.filePath("k.dbf").toStdString();
    DbfFile::create(path, {{"N", 'N', 6, 0}});
    auto mine = DbfFile::open(path);
    mine->setDurable(false);
    for (int i = 0; i < 3000; ++i) {
        std::string r = mine->blankRecord();
        r.replace(1, 6, mine->formatNumber(0, i));
        mine->appendRecord(r);
    }
    auto lookFor = [&](double n) {
        dbf::KeyIndex::Part p;
        p.isNumber = true;
        p.number = n;
        return mine->keyIndex({0}).candidates(dbf::KeyIndex::hashParts({p}));
    };
    ASSERT_EQ(lookFor(5), std::vector<uint32_t>{5});
    // Another process (here: another file object) changes record 5; file times tick coarsely.
    usleep(30000);
    auto other = DbfFile::open(path);
    std::string r = other->blankRecord();
    r.replace(1, 6, other->formatNumber(0, 99999));
    other->writeRecord(5, r);
    std::vector<uint32_t> found = lookFor(99999);
    EXPECT_NE(std::find(found.begin(), found.end(), 5u), found.end());
}

TEST(DbfFile, DatesReadAsTheCalendarHasThem) {
    QTemporaryDir dir;
    std::string path = dir.filePath("d.dbf").toStdString();
    DbfFile::create(path, {{"D", 'D', 8, 0}});
    auto f = DbfFile::open(path);
    f->setDurable(false);
    std::vector<QDate> written;
    for (QDate d(1600, 1, 1); d.year() < 2500; d = d.addDays(13)) {
        written.push_back(d);
        std::string r = f->blankRecord();
        r.replace(1, 8, DbfFile::formatDate(d));
        f->appendRecord(r);
    }
    for (const char* bad :
         {"19000229", "21000229", "20230431", "20231301", "20230100", "00000101", "2023-1-1", "        "}) {
        std::string r = f->blankRecord();
        r.replace(1, 8, bad);
        f->appendRecord(r);
    }
    for (uint32_t i = 0; i < written.size(); ++i)
        ASSERT_EQ(f->readDate(i, 0), written[i]) << i;
    for (uint32_t i = uint32_t(written.size()); i < f->recordCount(); ++i)
        EXPECT_FALSE(f->readDate(i, 0).isValid()) << i;
    std::string leap = f->blankRecord();
    leap.replace(1, 8, "20000229");
    EXPECT_EQ(f->readDate(f->appendRecord(leap), 0), QDate(2000, 2, 29));
}
