#include "psychometrics/Norms.h"

#include "data/Schema.h"
#include "psychometrics/Columns.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <map>
#include <tuple>

namespace psychometrics {

QString NormGroup::describe() const {
    QString s = sex.isEmpty() ? QStringLiteral("оба пола") : sex;
    if (ageFrom && ageTo)
        s += QStringLiteral(", %1–%2 лет").arg(*ageFrom).arg(*ageTo);
    else if (ageFrom)
        s += QStringLiteral(", от %1 лет").arg(*ageFrom);
    else if (ageTo)
        s += QStringLiteral(", до %1 лет").arg(*ageTo);
    else
        s += QStringLiteral(", любой возраст");
    if (n) s += QStringLiteral(", n = %1").arg(*n);
    return s;
}

std::optional<int> ageAt(std::optional<int> birthYear, const QDate& tested) {
    if (!birthYear || !tested.isValid() || *birthYear <= 0 || *birthYear > tested.year()) return std::nullopt;
    return tested.year() - *birthYear;
}

double tScore(double z) {
    return 50 + 10 * z;
}

namespace {
int roundHalfUpInto(double v, int lo, int hi) {
    return std::clamp(int(std::floor(v + 0.5)), lo, hi);
}
} // namespace

int sten(double z) {
    return roundHalfUpInto(5.5 + 2 * z, 1, 10);
}

int stanine(double z) {
    return roundHalfUpInto(5 + 2 * z, 1, 9);
}

double normalPercentile(double z) {
    return 50 * std::erfc(-z / std::sqrt(2.0));
}

std::optional<double> zOfPercentile(double percentile) {
    if (!(percentile > 0 && percentile < 100)) return std::nullopt;
    // Bisection on Φ: exact to far below what is shown, and no table of coefficients.
    double lo = -10, hi = 10;
    for (int i = 0; i < 100; ++i) {
        const double mid = (lo + hi) / 2;
        (normalPercentile(mid) < percentile ? lo : hi) = mid;
    }
    return (lo + hi) / 2;
}

std::optional<double> tablePercentile(const std::vector<std::pair<double, double>>& rows, double raw) {
    std::optional<double> p;
    for (const auto& [score, percentile] : rows)
        if (score <= raw) p = percentile;
    return p;
}

namespace {

bool fits(const NormGroup& g, int krit, const QString& sex, int age) {
    return g.krit == krit && (g.sex.isEmpty() || g.sex == sex) && (!g.ageFrom || *g.ageFrom <= age) &&
           (!g.ageTo || age <= *g.ageTo);
}

bool usable(const NormGroup& g) {
    return (g.mean && g.sd && *g.sd > 0) || !g.percentiles.empty();
}

int width(const NormGroup& g) {
    return g.ageFrom && g.ageTo ? *g.ageTo - *g.ageFrom : 1000;
}

} // namespace

NormResult standardScores(const std::vector<NormGroup>& groups, int krit, double raw, const QString& sex,
                          std::optional<int> birthYear, const QDate& tested) {
    bool any = false;
    for (const NormGroup& g : groups)
        any = any || (g.krit == krit && usable(g));
    if (!any) return {std::nullopt, QStringLiteral("для критерия нет норм")};
    const std::optional<int> age = ageAt(birthYear, tested);
    if (!age) return {std::nullopt, QStringLiteral("не указан год рождения или дата тестирования")};
    const QString s = sex.trimmed().toUpper();
    const NormGroup* best = nullptr;
    for (const NormGroup& g : groups) {
        if (!usable(g) || !fits(g, krit, s, *age)) continue;
        if (!best ||
            std::make_tuple(best->sex.isEmpty(), width(*best)) > std::make_tuple(g.sex.isEmpty(), width(g)))
            best = &g;
    }
    if (!best)
        return {std::nullopt, QStringLiteral("нет норм для группы: %1, %2 лет")
                                  .arg(s.isEmpty() ? QStringLiteral("пол не указан") : s)
                                  .arg(*age)};
    StandardScores r;
    r.group = *best;
    if (!best->percentiles.empty()) {
        r.percentile = tablePercentile(best->percentiles, raw);
        r.percentileFromTable = true;
    }
    if (best->mean && best->sd && *best->sd > 0) {
        r.z = (raw - *best->mean) / *best->sd;
        if (!r.percentileFromTable) r.percentile = normalPercentile(*r.z);
    } else if (r.percentile) {
        r.z = zOfPercentile(*r.percentile);
    }
    if (r.z) {
        r.t = tScore(*r.z);
        r.sten = sten(*r.z);
        r.stanine = stanine(*r.z);
    }
    return {r, {}};
}

std::vector<NormGroup> readNorms(const QString& database, int test) {
    std::vector<NormGroup> groups;
    if (!schema::hasTable(database, schema::norms())) return groups;
    Columns t(database, "bd_norm.dbf");
    const int na = t.column("NOMTESTA"), kr = t.column("KRIT"), pol = t.column("POL"),
              from = t.column("VOZROT"), to = t.column("VOZRDO"), mean = t.column("SRED"),
              sd = t.column("SIGMA"), ball = t.column("BALL"), proc = t.column("PROC"), n = t.column("KOLVO");
    using Record = db::ColumnScan::Record;
    auto number = [&](const Record& r, int c) -> std::optional<double> {
        const QString v = r.text(c).trimmed();
        bool ok = false;
        const double d = v.toDouble(&ok);
        return ok ? std::optional<double>(d) : std::nullopt;
    };
    auto whole = [&](const Record& r, int c) -> std::optional<int> {
        const auto v = r.whole(c);
        return v ? std::optional<int>(int(*v)) : std::nullopt;
    };
    std::map<std::tuple<int, QString, int, int>, size_t> at;
    t.scan([&](const Record& r) {
        if (!r.live() || r.whole(na) != test) return true;
        const auto k = whole(r, kr);
        if (!k) return true;
        NormGroup g{test, *k, r.text(pol).trimmed().toUpper(), whole(r, from), whole(r, to), {}, {}, {}, {}};
        const auto key =
            std::make_tuple(g.krit, g.sex, g.ageFrom.value_or(INT_MIN), g.ageTo.value_or(INT_MAX));
        auto [it, fresh] = at.try_emplace(key, groups.size());
        if (fresh) groups.push_back(g);
        NormGroup& into = groups[it->second];
        if (const auto m = number(r, mean), s = number(r, sd); m && s && !into.mean) {
            into.mean = m;
            into.sd = s;
            into.n = number(r, n);
        }
        if (const auto b = number(r, ball), p = number(r, proc); b && p)
            into.percentiles.emplace_back(*b, *p);
        return true;
    });
    for (NormGroup& g : groups)
        std::stable_sort(g.percentiles.begin(), g.percentiles.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    return groups;
}

} // namespace psychometrics
