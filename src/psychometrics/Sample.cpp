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

SampleNorm sampleNorm(const QString& database, int test, int krit, const QString& sex,
                      std::optional<int> from, std::optional<int> to) {
    using Record = db::ColumnScan::Record;
    std::unordered_map<uint64_t, Person> people;
    {
        Columns a(database, "bd_anket.dbf");
        const int nu = a.column("NOMU"), nt = a.column("NOMTESTIR"), pol = a.column("POLTESTIR"),
                  gr = a.column("GRTESTIR");
        a.scan([&](const Record& r) {
            const auto u = r.whole(nu), t = r.whole(nt);
            if (!r.live() || !u || !t) return true;
            const auto born = r.whole(gr);
            people.try_emplace(keyOf(*u, *t), Person{r.text(pol).trimmed().toUpper(),
                                                     born ? std::optional<int>(int(*born)) : std::nullopt});
            return true;
        });
    }
    std::vector<double> scores;
    std::unordered_set<uint64_t> seen;
    Columns rez(database, "bd_rez.dbf");
    const int nu = rez.column("NOMU"), nt = rez.column("NOMTESTIR"), na = rez.column("NOMTESTA"),
              kr = rez.column("KRIT"), ball = rez.column("BALL"), data = rez.column("DATA");
    const QString wanted = sex.trimmed().toUpper();
    rez.scan([&](const Record& r) {
        if (!r.live() || r.whole(na) != test || r.whole(kr) != krit) return true;
        const auto u = r.whole(nu), t = r.whole(nt), b = r.whole(ball);
        if (!u || !t || !b || !seen.insert(keyOf(*u, *t)).second) return true;
        const auto who = people.find(keyOf(*u, *t));
        if (who == people.end()) return true;
        if (!wanted.isEmpty() && who->second.sex != wanted) return true;
        if (from || to) {
            const std::optional<int> age = ageAt(who->second.born, r.date(data));
            if (!age || (from && *age < *from) || (to && *age > *to)) return true;
        }
        scores.push_back(double(*b));
        return true;
    });
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
