// Inputs the fuzzers (tests/fuzz) found to break the reader or the filter, reduced to what
// triggered the fault. Each must now give a value or a db::EngineError, never a crash.
#include "dataset/Filter.h"
#include "dbf/DbfFile.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using dbf::DbfFile;

namespace {

// One record whose field texts are stored as given, without formatting.
std::shared_ptr<DbfFile> tableWithRaw(const QTemporaryDir& dir, std::vector<dbf::FieldDef> fields,
                                      const std::vector<std::string>& texts) {
    std::string path = dir.filePath("r.dbf").toStdString();
    DbfFile::create(path, std::move(fields));
    auto f = DbfFile::open(path);
    std::string r = f->blankRecord();
    for (size_t i = 0; i < texts.size(); ++i) {
        const auto& d = f->fields()[i];
        std::string t = texts[i];
        t.insert(0, d.length - t.size(), ' ');
        r.replace(1 + d.offset, d.length, t);
    }
    f->appendRecord(r);
    return f;
}

} // namespace

// More than 18 integer digits overflowed the int64 accumulator (UBSan: signed overflow) and
// read back as a wrapped, wrong number.
TEST(FuzzRegressions, WideNumbersReadAsLargeValues) {
    double v = 0;
    ASSERT_TRUE(dbf::parseNumber("99999999999999999999", v));
    EXPECT_DOUBLE_EQ(v, 1e20);
    ASSERT_TRUE(dbf::parseNumber("-1234567890123456789012345.5", v));
    EXPECT_NEAR(v, -1.2345678901234568e24, 1e10);
    ASSERT_TRUE(dbf::parseNumber("123456789012345678", v)); // up to 18 digits still correctly rounded
    EXPECT_EQ(v, 123456789012345678.0);

    QTemporaryDir dir;
    auto f = tableWithRaw(dir, {{"BIG", 'N', 20, 0}}, {"99999999999999999999"});
    ASSERT_TRUE(f->readNumber(0, 0, v));
    EXPECT_DOUBLE_EQ(v, 1e20);
    // The filter compares through the same parser: field side and quoted-literal side.
    for (const char* text : {"BIG>9000000000000000000.0", "BIG<'200000000000000000000'"}) {
        auto e = db::FilterExpr::parse(QString::fromLatin1(text));
        e.bind(*f);
        EXPECT_TRUE(e.matches(*f, 0)) << text;
    }
}

// A memo field holding a number past uint32 ("1e308", "9999999999", NaN from "0e999") was cast
// straight to the block number: undefined, and in practice a wrapped block far past the file.
// Such a field is garbage like any other unreadable block number: no memo.
TEST(FuzzRegressions, MemoBlockOutOfRangeMeansNoMemo) {
    QTemporaryDir dir;
    for (const char* text : {"1e308", "9999999999", "0e999", "-1e308"}) {
        auto f = tableWithRaw(dir, {{"ID", 'N', 4, 0}, {"NOTES", 'M', 10, 0}}, {"1", text});
        EXPECT_EQ(f->memoBlock(0, 1), 0u) << text;
        QString memo;
        EXPECT_NO_THROW(memo = f->readMemo(0, 1)) << text;
        EXPECT_TRUE(memo.isEmpty()) << text;
    }
}

// Parser, binding, evaluation and the tree's destructor all recurse: 4547 '(' overflowed the
// stack of the sanitizer build, long "not" and "and" chains that of any build.
TEST(FuzzRegressions, FilterNestingAndSizeAreBounded) {
    const int n = 200000;
    const QString deepParens = QString(n, u'(') + QStringLiteral("A=1") + QString(n, u')');
    QString notChain, andChain;
    for (int i = 0; i < n; ++i)
        notChain += QStringLiteral("not ");
    notChain += QStringLiteral("A=1");
    for (int i = 0; i < n; ++i)
        andChain += QStringLiteral("A=1 and ");
    andChain += QStringLiteral("A=1");
    for (const QString& text : {deepParens, notChain, andChain})
        EXPECT_THROW(db::FilterExpr::parse(text), db::DatabaseError) << text.left(20).toStdString();

    // Nesting and length a person could write still work.
    QTemporaryDir dir;
    auto f = tableWithRaw(dir, {{"A", 'N', 3, 0}}, {"1"});
    const int depth = 100;
    QString nested = QString(depth, u'(') + QStringLiteral("A=1");
    for (int i = 0; i < depth; ++i)
        nested += QStringLiteral(") and not (A=2)");
    QString many = QStringLiteral("A=1");
    for (int i = 2; i <= 1000; ++i)
        many += QStringLiteral(" or A=%1").arg(i);
    for (const QString& text : {nested, many}) {
        db::FilterExpr e = db::FilterExpr::parse(text);
        e.bind(*f);
        EXPECT_TRUE(e.matches(*f, 0)) << text.left(20).toStdString();
    }
}
