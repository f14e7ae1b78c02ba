// The rows a view of a server table shows: small views are fetched whole, long ones a page at a
// time by their order.
#include "PgStore.h"

#include "dataset/Filter.h"

#include <algorithm>

namespace pg {

namespace {
constexpr size_t kPage = 500;
// Pages kept at once: a grid scrolled through a million rows keeps a bounded cache.
constexpr size_t kKeptPages = 64;

QString sqlType(char type) {
    switch (type) {
    case 'N':
        return QStringLiteral("numeric");
    case 'D':
        return QStringLiteral("date");
    case 'L':
        return QStringLiteral("boolean");
    default:
        return QStringLiteral("text");
    }
}

db::RowId idAt(const Result& r, int row) {
    return db::RowId(std::strtoul(r.raw(row, 0), nullptr, 10));
}
} // namespace

QString PgStore::earlier(const QString& a, const QString& aId, const QString& b, const QString& bId) const {
    if (paged_.sortColumn < 0) return QStringLiteral("%1 < %2").arg(aId, bId);
    // Nulls first, then the values, ties by id: the order of "ORDER BY col NULLS FIRST, id".
    return QStringLiteral("((%1 IS NULL AND %3 IS NOT NULL) OR (%1 IS NULL AND %3 IS NULL AND %2 < %4) OR "
                          "%1 < %3 OR (%1 = %3 AND %2 < %4))")
        .arg(a, aId, b, bId);
}

QString PgStore::pageOrder(bool descending) const {
    const int c = paged_.sortColumn;
    if (c < 0) return descending ? QStringLiteral("id DESC") : QStringLiteral("id");
    return sql_[size_t(c)].sqlName +
           (descending ? QLatin1String(" DESC NULLS LAST, id DESC") : QLatin1String(" NULLS FIRST, id"));
}

void PgStore::keepPage(const Result& r, size_t page, bool reversed) const {
    const int n = std::min(r.rows(), int(kPage));
    std::vector<Key> keys(static_cast<size_t>(n));
    const int sortAt = paged_.sortColumn + 1;
    for (int i = 0; i < n; ++i) {
        keep(r, i);
        Key& k = keys[size_t(reversed ? n - 1 - i : i)];
        k.id = idAt(r, i);
        if (sortAt > 0 && !r.isNull(i, sortAt)) k.sort = r.text(i, sortAt);
    }
    paged_.pages[page] = std::move(keys);
}

void PgStore::scan(const db::ScanSpec& how, db::RowSet& out) {
    rows_.clear();
    paged_ = Paged{};
    paged_.sortColumn = how.sortColumn;
    std::vector<Param> params;
    const QString w = where(how, params);
    Result r = conn_->exec(QStringLiteral("SELECT %1 FROM %2 WHERE %3 ORDER BY %4 LIMIT %5")
                               .arg(selectList(), table_, w, pageOrder(false))
                               .arg(kPage + 1),
                           params);
    out.all = false;
    out.ids.clear();
    if (size_t(r.rows()) <= kPage) {
        out.paged = false;
        out.allCount = 0;
        for (int i = 0; i < r.rows(); ++i) {
            keep(r, i);
            out.ids.push_back(idAt(r, i));
        }
        return;
    }
    Result n = conn_->exec(QStringLiteral("SELECT count(*) FROM %1 WHERE %2").arg(table_, w), params);
    paged_.count = uint32_t(std::strtoul(n.raw(0, 0), nullptr, 10));
    paged_.where = w;
    paged_.params = std::move(params);
    keepPage(r, 0, false);
    out.paged = true;
    out.allCount = paged_.count;
}

void PgStore::fetchPage(size_t page) const {
    const size_t first = page * kPage;
    if (first >= paged_.count) return;
    const size_t n = std::min(kPage, paged_.count - first);
    const int c = paged_.sortColumn;
    const QString col = c >= 0 ? sql_[size_t(c)].sqlName : QString();
    std::vector<Param> params = paged_.params;
    // A key of a neighbour page as parameters: the sort value, then the id.
    auto keyParams = [&](const Key& k, QString& sort, QString& id) {
        if (c >= 0) {
            params.push_back(k.sort);
            sort = QStringLiteral("$%1::%2").arg(params.size()).arg(sqlType(sql_[size_t(c)].type));
        }
        params.emplace_back(QString::number(k.id));
        id = QStringLiteral("$%1::integer").arg(params.size());
    };
    QString extra;
    bool descending = false;
    size_t offset = 0;
    auto prev = page > 0 ? paged_.pages.find(page - 1) : paged_.pages.end();
    auto next = paged_.pages.find(page + 1);
    QString sort, id;
    if (prev != paged_.pages.end() && !prev->second.empty()) {
        keyParams(prev->second.back(), sort, id);
        extra = QLatin1String(" AND ") + earlier(sort, id, col, QStringLiteral("id"));
    } else if (next != paged_.pages.end() && !next->second.empty()) {
        keyParams(next->second.front(), sort, id);
        extra = QLatin1String(" AND ") + earlier(col, QStringLiteral("id"), sort, id);
        descending = true;
    } else if (first <= paged_.count - first - n) {
        offset = first;
    } else {
        offset = paged_.count - first - n;
        descending = true;
    }
    Result r = conn_->exec(QStringLiteral("SELECT %1 FROM %2 WHERE (%3)%4 ORDER BY %5 LIMIT %6 OFFSET %7")
                               .arg(selectList(), table_, paged_.where, extra, pageOrder(descending))
                               .arg(n)
                               .arg(offset),
                           params);
    if (size_t(r.rows()) < n) {
        // Others removed rows since the count: the pages kept hold stale positions. The view is
        // counted again and taken afresh, and the cut makes its dataset rebuild at the next move.
        Result c = conn_->exec(QStringLiteral("SELECT count(*) FROM %1 WHERE %2").arg(table_, paged_.where),
                               paged_.params);
        paged_.count = uint32_t(std::strtoul(c.raw(0, 0), nullptr, 10));
        paged_.pages.clear();
        rows_.clear();
        ++cuts_;
        if (first < paged_.count) fetchPage(page); // by its offset now: no neighbour is kept
        return;
    }
    if (paged_.pages.size() >= kKeptPages) {
        // The page farthest from this one goes, with the rows it cached.
        auto far = std::max_element(paged_.pages.begin(), paged_.pages.end(), [page](auto& a, auto& b) {
            auto dist = [page](size_t p) { return p > page ? p - page : page - p; };
            return dist(a.first) < dist(b.first);
        });
        for (const Key& k : far->second)
            rows_.erase(k.id);
        paged_.pages.erase(far);
    }
    keepPage(r, page, descending);
}

db::RowId PgStore::rowAt(size_t pos) const {
    const size_t page = pos / kPage;
    auto it = paged_.pages.find(page);
    if (it == paged_.pages.end()) {
        fetchPage(page);
        it = paged_.pages.find(page);
        if (it == paged_.pages.end()) return 0;
    }
    // Past the end of a view that others shortened: ids from 1, so 0 reads as empty until the
    // dataset rebuilds its view.
    return pos % kPage < it->second.size() ? it->second[pos % kPage].id : 0;
}

int64_t PgStore::positionOf(db::RowId id) const {
    for (const auto& [page, keys] : paged_.pages)
        for (size_t i = 0; i < keys.size(); ++i)
            if (keys[i].id == id) return int64_t(page * kPage + i);
    std::vector<Param> params = paged_.params;
    params.emplace_back(QString::number(id));
    const int c = paged_.sortColumn;
    const QString col = c >= 0 ? sql_[size_t(c)].sqlName : QString();
    const QString sql =
        QStringLiteral(
            "SELECT (SELECT count(*) FROM %1 WHERE (%2) AND %3) FROM %1 r WHERE r.id = $%4 AND (%2)")
            .arg(table_, paged_.where,
                 earlier(col, QStringLiteral("id"), c >= 0 ? QLatin1String("r.") + col : QString(),
                         QStringLiteral("r.id")))
            .arg(params.size());
    Result r = conn_->exec(sql, params);
    if (r.rows() == 0) return -1;
    const int64_t pos = std::strtoll(r.raw(0, 0), nullptr, 10);
    return pos < int64_t(paged_.count) ? pos : -1;
}

int PgStore::candidates(const std::vector<int>& cols, const std::vector<db::Variant>& values,
                        std::vector<db::RowId>& out) const {
    QStringList conds;
    std::vector<Param> params;
    if (!equalities(cols, values, conds, params)) return -1;
    Result r = conn_->exec(QStringLiteral("SELECT id FROM %1 WHERE %2 ORDER BY id")
                               .arg(table_, conds.join(QLatin1String(" AND "))),
                           params);
    out.clear();
    for (int i = 0; i < r.rows(); ++i)
        out.push_back(idAt(r, i));
    return 1;
}

} // namespace pg
