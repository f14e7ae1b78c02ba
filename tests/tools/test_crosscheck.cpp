// Readers we did not write must see our tables as the engine does, and the cross-check that
// many tests lean on must itself fail on damaged files.
#include "TestDb.h"

#include "dataset/Table.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>

namespace {

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
}

uint32_t le(const QByteArray& b, int at, int size) {
    uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i)
        v = v << 8 | uint8_t(b[at + i]);
    return v;
}

void putLe(QByteArray& b, int at, int size, uint32_t v) {
    for (int i = 0; i < size; ++i, v >>= 8)
        b[at + i] = char(v & 0xFF);
}

} // namespace

TEST(CrossCheck, FindsEachKindOfDamage) {
    TestDb db;
    db.add("bd_test.DBF", {1, 1, QStringLiteral("Тест"), 1, QStringLiteral("Характеристика теста")});
    QString report;
    ASSERT_EQ(peerCheck(db.dir(), &report), 0) << report.toStdString();

    const QString dbf = QStringLiteral("bd_test.DBF");
    const QStringList memoFiles = QDir(db.dir()).entryList({"bd_test.dbt", "bd_test.DBT"}, QDir::Files);
    ASSERT_EQ(memoFiles.size(), 1);
    const QString dbt = memoFiles[0];
    const QByteArray goodDbf = bytesOf(db.path(dbf)), goodDbt = bytesOf(db.path(dbt));
    const int hlen = int(le(goodDbf, 8, 2)), rlen = int(le(goodDbf, 10, 2));
    const int memoRef = hlen + rlen - 10; // XARAKT ends the first record
    ASSERT_EQ(goodDbf.mid(memoRef, 10).trimmed(), "1");
    ASSERT_EQ(uint8_t(goodDbf.back()), 0x1A);

    struct Damage {
        const char* what;
        bool inMemo;
        std::function<void(QByteArray&)> apply;
        const char* finding;
    };
    const Damage cases[] = {
        {"a count past the file", false, [](QByteArray& b) { putLe(b, 4, 4, le(b, 4, 4) + 1); }, "file size"},
        {"year byte as year % 100", false, [](QByteArray& b) { b[1] = char(26); }, "last-update date"},
        {"no 0x0D after the fields", false, [&](QByteArray& b) { b[hlen - 1] = ' '; }, "0x0D"},
        {"a field wider than the record", false,
         [](QByteArray& b) { b[32 + 16] = char(uint8_t(b[32 + 16]) + 1); }, "record length"},
        {"no end mark", false, [](QByteArray& b) { b.back() = 'x'; }, "not 0x1A"},
        {"a record flag neither blank nor *", false, [&](QByteArray& b) { b[hlen] = 'X'; },
         "record 1 starts with"},
        {"a memo reference past the next free block", false,
         [&](QByteArray& b) { b.replace(memoRef, 10, "        40"); }, "next free block"},
        {"a memo block without its mark", true, [](QByteArray& b) { b[512] = 0; }, "FF FF 08 00"},
        {"a memo length past the file", true, [](QByteArray& b) { putLe(b, 512 + 4, 4, 100000); },
         "does not fit"},
    };
    for (const Damage& d : cases) {
        SCOPED_TRACE(d.what);
        QTemporaryDir dir;
        QByteArray table = goodDbf, memo = goodDbt;
        d.apply(d.inMemo ? memo : table);
        writeAll(dir.filePath(dbf), table);
        writeAll(dir.filePath(dbt), memo);
        EXPECT_EQ(peerCheck(dir.path(), &report), 1);
        EXPECT_TRUE(report.contains(d.finding)) << report.toStdString();
    }
}

TEST(CrossCheck, ReadsWhatOtherWritersWrote) {
    // GDAL names its code page in a .cpg file only; xbase64 uses 1024-byte memo blocks.
    QString report;
    EXPECT_EQ(peerCheck(testData("foreign/gdal-cpg"), &report), 0) << report.toStdString();
    EXPECT_TRUE(
        peerDump(testData("foreign/gdal-cpg"), "o_CP866").join('\n').contains(QStringLiteral("Ёлка")));
    EXPECT_EQ(peerCheck(testData("foreign/xbase64-mdx"), &report), 0) << report.toStdString();
    const QStringList people = peerDump(testData("foreign/xbase64-mdx"), "people");
    ASSERT_EQ(people.size(), 4);
    EXPECT_EQ(QJsonDocument::fromJson(people[2].toUtf8()).object()["NOTES"].toString(), "m");

    // Perl XBase's year byte is the one fault of its tables.
    EXPECT_EQ(peerCheck(testData("foreign/perl-cp866"), &report), 1);
    const QStringList findings = report.split('\n').filter(QRegularExpression("^  t866\\.dbf: "));
    ASSERT_EQ(findings.size(), 1) << report.toStdString();
    EXPECT_TRUE(findings[0].contains("last-update date"));
}

namespace {

// The sample database, made once for the suite.
class SampleReadByOthers : public testing::Test {
protected:
    static void SetUpTestSuite() {
        tmp_ = new QTemporaryDir;
        QString out;
        made_ = runCommand(QStringLiteral(MORV_DB_TOOL), {"sample", dir()}, &out) == 0;
        if (!made_) qWarning("morv-db sample: %s", qPrintable(out));
    }
    static void TearDownTestSuite() {
        delete tmp_;
        tmp_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(made_) << "morv-db sample failed"; }
    static QString dir() { return tmp_->filePath("db"); }
    static QStringList tables() { return QDir(dir()).entryList({"*.dbf", "*.DBF"}, QDir::Files, QDir::Name); }

    static inline QTemporaryDir* tmp_ = nullptr;
    static inline bool made_ = false;
};

// Standard output of a program; its error output goes to the test log.
QByteArray stdoutOf(const QString& program, const QStringList& args, int* status) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    const bool done = p.waitForFinished(120000);
    *status = done && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardOutput();
}

QList<QJsonObject> perlRows(const QString& table, QString* error) {
    int status = 0;
    const QByteArray out = stdoutOf(testTool("xbase-dump"), {table}, &status);
    if (status != 0) *error = QStringLiteral("xbase-dump exit status %1").arg(status);
    QList<QJsonObject> rows;
    for (const QByteArray& line : out.split('\n')) {
        if (line.isEmpty()) continue;
        QJsonParseError e;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &e);
        if (!doc.isObject()) *error = QStringLiteral("xbase-dump printed: ") + QString::fromUtf8(line);
        rows << doc.object();
    }
    return rows;
}

QList<QJsonObject> gdalRows(const QString& table, QString* error) {
    int status = 0;
    const QByteArray out = stdoutOf("ogr2ogr", {"-f", "GeoJSON", "/vsistdout/", table}, &status);
    if (status != 0) *error = QStringLiteral("ogr2ogr exit status %1 (gdal-bin installed?)").arg(status);
    QList<QJsonObject> rows;
    for (const QJsonValue& feature : QJsonDocument::fromJson(out).object()["features"].toArray())
        rows << feature.toObject()["properties"].toObject();
    return rows;
}

bool hasCyrillic(const QString& s) {
    return std::any_of(s.begin(), s.end(), [](QChar c) { return c.script() == QChar::Script_Cyrillic; });
}

QString trimmedRight(QString s) {
    while (s.endsWith(' '))
        s.chop(1);
    return s;
}

// Why another reader's value differs from the engine's; empty when they agree.
QString difference(const db::Field* f, const db::Variant& ours, const QJsonValue& theirs) {
    if (f->kind() == db::FieldKind::String || f->kind() == db::FieldKind::Memo) {
        // A blank text may come back as null.
        const QString a = ours.toString(), b = theirs.isNull() ? QString() : theirs.toString();
        const bool same = f->kind() == db::FieldKind::Memo ? a == b : trimmedRight(a) == trimmedRight(b);
        return same ? QString() : QStringLiteral("ours '%1', theirs '%2'").arg(a, b);
    }
    if (ours.isNull() || theirs.isNull())
        return ours.isNull() == theirs.isNull() ? QString()
                                                : QStringLiteral("ours '%1', theirs '%2'")
                                                      .arg(ours.toString(), theirs.toVariant().toString());
    if (f->isNumeric()) {
        const double a = ours.toDouble(), b = theirs.toDouble(std::nan(""));
        return std::abs(a - b) <= 1e-9 * std::max(1.0, std::abs(a))
                   ? QString()
                   : QStringLiteral("ours %1, theirs %2").arg(a).arg(theirs.toVariant().toString());
    }
    if (f->kind() == db::FieldKind::Date) {
        const QString a = ours.toDate().toString(Qt::ISODate), b = theirs.toString().replace('/', '-');
        return a == b ? QString() : QStringLiteral("ours %1, theirs %2").arg(a, b);
    }
    return QStringLiteral("a field kind this comparison does not know");
}

struct Comparison {
    int rows = 0, cyrillic = 0, memos = 0;
    QStringList faults;
};

// Every live row and field of a table through the engine against another reader's rows, in
// stored order. GDAL has no memo support, so its memo columns are left out.
void compare(const QString& path, const QString& reader, const QList<QJsonObject>& theirs, bool withMemos,
             Comparison& c) {
    const QString file = QFileInfo(path).fileName();
    db::Table t;
    t.setTableName(path);
    t.open();
    if (t.recordCount() != theirs.size()) {
        c.faults << QStringLiteral("%1, %2: %3 rows, ours %4")
                        .arg(reader, file)
                        .arg(theirs.size())
                        .arg(t.recordCount());
        return;
    }
    int row = 0;
    for (t.first(); !t.eof(); t.next(), ++row) {
        ++c.rows;
        for (const db::Field* f : t.fields()) {
            if (f->kind() == db::FieldKind::Memo && !withMemos) continue;
            const db::Variant ours = f->value();
            const QString why = difference(f, ours, theirs[row].value(f->fieldName()));
            if (!why.isEmpty())
                c.faults << QStringLiteral("%1, %2 row %3 %4: %5")
                                .arg(reader, file)
                                .arg(row + 1)
                                .arg(f->fieldName(), why);
            if (f->kind() == db::FieldKind::String || f->kind() == db::FieldKind::Memo) {
                c.cyrillic += hasCyrillic(ours.toString());
                c.memos += f->kind() == db::FieldKind::Memo && !ours.toString().isEmpty();
            }
        }
    }
}

std::string firstFaults(const QStringList& faults) {
    return faults.mid(0, 20).join('\n').toStdString();
}

} // namespace

TEST_F(SampleReadByOthers, PerlXBaseSeesWhatTheEngineReads) {
    Comparison c;
    for (const QString& table : tables()) {
        QString error;
        const QList<QJsonObject> rows = perlRows(QDir(dir()).filePath(table), &error);
        ASSERT_TRUE(error.isEmpty()) << table.toStdString() << ": " << error.toStdString();
        compare(QDir(dir()).filePath(table), "Perl XBase", rows, true, c);
    }
    EXPECT_TRUE(c.faults.isEmpty()) << c.faults.size() << " differences:\n" << firstFaults(c.faults);
    EXPECT_GE(tables().size(), 11);
    EXPECT_GT(c.rows, 100);
    EXPECT_GT(c.cyrillic, 50) << "the comparison must include Russian texts";
    EXPECT_GT(c.memos, 5) << "and memo texts";
}

TEST_F(SampleReadByOthers, GdalSeesWhatTheEngineReads) {
    Comparison c;
    for (const QString& table : tables()) {
        QString error;
        const QList<QJsonObject> rows = gdalRows(QDir(dir()).filePath(table), &error);
        ASSERT_TRUE(error.isEmpty()) << table.toStdString() << ": " << error.toStdString();
        compare(QDir(dir()).filePath(table), "GDAL", rows, false, c);
    }
    EXPECT_TRUE(c.faults.isEmpty()) << c.faults.size() << " differences:\n" << firstFaults(c.faults);
    EXPECT_GT(c.rows, 100);
    EXPECT_GT(c.cyrillic, 50) << "the comparison must include Russian texts";
}

TEST_F(SampleReadByOthers, TeamPeerCheckAcceptsItWhenPresent) {
    const QString tool = sharedTool("peer-check");
    if (tool.isEmpty()) GTEST_SKIP() << "no ../shared/tools/peer-check beside this checkout";
    QString report;
    EXPECT_EQ(runCommand(tool, {dir()}, &report), 0) << report.toStdString();
    for (const QString& table : tables())
        EXPECT_TRUE(report.contains(QRegularExpression(QRegularExpression::escape(table) + " +ok")))
            << table.toStdString() << "\n"
            << report.toStdString();
}
