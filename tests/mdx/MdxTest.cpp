#include "MdxTest.h"

#include "TestDb.h"
#include "dbf/Bytes.h"

#include <QFile>
#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>

using dbf::DbfFile;

namespace {

std::string recordOf(const DbfFile& f, const std::string& name, double qty, double price, const QDate& born,
                     bool deleted = false) {
    std::string r = f.blankRecord();
    if (deleted) r[0] = '*';
    std::string n = name;
    n.resize(30, ' ');
    r.replace(1, 30, n);
    std::string q = f.formatNumber(1, qty), p = f.formatNumber(2, price);
    r.replace(31, 6, q);
    r.replace(37, 12, p);
    r.replace(49, 8, DbfFile::formatDate(born));
    return r;
}

const char* const kNames[] = {"ivanov", "Petrov", "Sidorova", "\x8f\xa5\xe2\xe0\xae\xa2",
                              "zeta",   "Alpha",  "",         "a b"};

} // namespace

void makeTable(const std::string& path, int n, unsigned seed) {
    DbfFile::create(path,
                    {{"NAME", 'C', 30, 0}, {"QTY", 'N', 6, 0}, {"PRICE", 'N', 12, 2}, {"BORN", 'D', 8, 0}});
    auto f = DbfFile::open(path);
    f->setDurable(false);
    std::mt19937 rng(seed);
    for (int i = 0; i < n; ++i)
        f->appendRecord(randomRecord(*f, rng));
}

std::string randomRecord(const DbfFile& f, std::mt19937& rng) {
    std::string name = kNames[rng() % 8];
    if (rng() % 3 == 0) name += std::to_string(rng() % 50);
    double qty = double(int(rng() % 41) - 20);
    // Not below zero: the peer misorders negative fractions (see test_mdx_peer.cpp).
    double price = double(int(rng() % 100001)) / 100;
    QDate born = rng() % 7 == 0 ? QDate() : QDate(1990, 1, 1).addDays(int(rng() % 400));
    return recordOf(f, name, qty, price, born, rng() % 10 == 0);
}

std::vector<uint32_t> expectedOrder(const DbfFile& f, const dbf::TagSpec& tag) {
    dbf::KeyExpr key(tag.expr, f.fields());
    std::unique_ptr<dbf::KeyExpr> filter;
    if (!tag.filter.empty()) filter = std::make_unique<dbf::KeyExpr>(tag.filter, f.fields());
    struct Row {
        dbf::KeyExpr::Value v;
        uint32_t rec;
    };
    std::vector<Row> rows;
    for (uint32_t r = 0; r < f.recordCount(); ++r)
        if (!filter || filter->test(f.record(r))) rows.push_back({key.eval(f.record(r)), r});
    auto cmp = [&](const dbf::KeyExpr::Value& a, const dbf::KeyExpr::Value& b) {
        int c = 0;
        if (a.type == dbf::KeyExpr::Type::Char) {
            std::string x = a.s, y = b.s;
            c = std::memcmp(x.data(), y.data(), std::min(x.size(), y.size()));
            c = c < 0 ? -1 : c > 0;
        } else if (a.type == dbf::KeyExpr::Type::Date && (a.blank || b.blank)) {
            c = int(a.blank) - int(b.blank); // dBASE writers put blank dates after every date
        } else {
            c = a.n < b.n ? -1 : a.n > b.n;
        }
        return tag.descending ? -c : c;
    };
    std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) { return cmp(a.v, b.v) < 0; });
    std::vector<uint32_t> out;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (tag.unique && i > 0 && cmp(rows[i - 1].v, rows[i].v) == 0) continue;
        out.push_back(rows[i].rec);
    }
    return out;
}

void patchTagExpression(const std::string& mdx, int tag, const std::string& expr) {
    QFile f(QString::fromStdString(mdx));
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    QByteArray all = f.readAll();
    auto* h = reinterpret_cast<const unsigned char*>(all.constData());
    uint32_t page = dbf::le32(h + 544 + 32 * tag);
    QByteArray text(220, '\0');
    std::memcpy(text.data(), expr.data(), std::min<size_t>(expr.size(), 219));
    f.seek(qint64(page) * 512 + 24);
    f.write(text.left(220));
    f.close();
}

void spoilRoot(const std::string& mdx, bool busy) {
    QFile f(QString::fromStdString(mdx));
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    QByteArray all = f.readAll();
    auto* h = reinterpret_cast<unsigned char*>(all.data());
    uint32_t page = dbf::le32(h + 544);
    uint32_t at = dbf::le32(h + page * 512) * 512; // root: one leaf for a small table
    uint16_t item = dbf::le16(h + page * 512 + 18);
    ASSERT_GE(dbf::le32(h + at), 2u);
    for (int i = 0; i < 4; ++i)
        std::swap(h[at + 8 + i], h[at + 8 + item + i]); // two record numbers change places
    if (busy) h[47] = 1;
    f.seek(0);
    f.write(all);
    f.close();
}

QString mdxPeer() {
    return sharedTool(QStringLiteral("mdx-peer"));
}
