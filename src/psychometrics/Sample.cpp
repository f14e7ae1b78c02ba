#include "psychometrics/Sample.h"

#include "psychometrics/Columns.h"
#include "psychometrics/Norms.h"

#include <cmath>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace psychometrics {

namespace {

uint64_t keyOf(int64_t org, int64_t testee) {
    return (uint64_t(uint32_t(org)) << 32) | uint32_t(testee);
}

struct Person {
    QString sex;
    std::optional<int> born;
};

} // namespace

SampleNorm sampleNorm(const QString& dir, int test, int krit, const QString& sex, std::optional<int> from,
                      std::optional<int> to) {
    std::unordered_map<uint64_t, Person> people;
    {
        Columns a(dir, "bd_anket.dbf");
        const int nu = a.column("NOMU"), nt = a.column("NOMTESTIR"), pol = a.column("POLTESTIR"),
                  gr = a.column("GRTESTIR");
        for (uint32_t r = 0; r < a.count(); ++r) {
            const auto u = a.whole(r, nu), t = a.whole(r, nt);
            if (!a.live(r) || !u || !t) continue;
            const auto born = a.whole(r, gr);
            people.try_emplace(keyOf(*u, *t), Person{a.text(r, pol).trimmed().toUpper(),
                                                     born ? std::optional<int>(int(*born)) : std::nullopt});
        }
    }
    std::vector<double> scores;
    std::unordered_set<uint64_t> seen;
    Columns rez(dir, "bd_rez.dbf");
    const int nu = rez.column("NOMU"), nt = rez.column("NOMTESTIR"), na = rez.column("NOMTESTA"),
              kr = rez.column("KRIT"), ball = rez.column("BALL"), data = rez.column("DATA");
    const QString wanted = sex.trimmed().toUpper();
    for (uint32_t r = 0; r < rez.count(); ++r) {
        if (!rez.live(r) || rez.whole(r, na) != test || rez.whole(r, kr) != krit) continue;
        const auto u = rez.whole(r, nu), t = rez.whole(r, nt), b = rez.whole(r, ball);
        if (!u || !t || !b || !seen.insert(keyOf(*u, *t)).second) continue;
        const auto who = people.find(keyOf(*u, *t));
        if (who == people.end()) continue;
        if (!wanted.isEmpty() && who->second.sex != wanted) continue;
        if (from || to) {
            const std::optional<int> age = ageAt(who->second.born, rez.date(r, data));
            if (!age || (from && *age < *from) || (to && *age > *to)) continue;
        }
        scores.push_back(double(*b));
    }
    SampleNorm s;
    s.n = scores.size();
    if (s.n == 0) return s;
    double mean = 0;
    for (double v : scores)
        mean += v;
    mean /= double(s.n);
    s.mean = mean;
    if (s.n < 2) return s;
    double ss = 0;
    for (double v : scores)
        ss += (v - mean) * (v - mean);
    s.sd = std::sqrt(ss / double(s.n - 1));
    return s;
}

} // namespace psychometrics
