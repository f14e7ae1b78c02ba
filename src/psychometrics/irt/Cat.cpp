#include "psychometrics/irt/Cat.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <stdexcept>

namespace psychometrics::irt {

namespace {

uint64_t mix(uint64_t x) {
    // splitmix64: a well-spread hash, so that neighbouring answer lists draw unrelated numbers.
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// A number in [0, 1) fixed by the seed and the answers so far: the same stored answers give the
// same randomesque choice after a break, with no generator state to keep.
double drawFor(uint64_t seed, const std::vector<CatAnswer>& answers) {
    uint64_t h = mix(seed);
    for (const CatAnswer& a : answers)
        h = mix(h ^ (uint64_t(a.item) << 8 | uint64_t(a.score & 0xff)));
    return double(h >> 11) * 0x1.0p-53;
}

} // namespace

std::optional<size_t> mostInformative(const std::vector<ItemParameters>& bank, const std::vector<bool>& given,
                                      double theta, int k, double draw) {
    thread_local std::vector<std::pair<double, size_t>> info;
    info.clear();
    for (size_t i = 0; i < bank.size(); ++i)
        if (!given[i]) info.emplace_back(itemInformation(bank[i], theta), i);
    if (info.empty()) return std::nullopt;
    // Most informative first; equal information goes to the earlier question.
    const auto better = [](const auto& x, const auto& y) {
        return x.first > y.first || (x.first == y.first && x.second < y.second);
    };
    const size_t top = std::min(info.size(), size_t(std::max(k, 1)));
    std::partial_sort(info.begin(), info.begin() + std::ptrdiff_t(top), info.end(), better);
    const size_t pick = std::min(top - 1, size_t(draw * double(top)));
    return info[pick].second;
}

CatStep catStep(const std::vector<ItemParameters>& bank, const std::vector<CatAnswer>& answers,
                const CatOptions& options) {
    if (bank.empty()) throw std::invalid_argument("the item bank is empty");
    std::vector<bool> given(bank.size(), false);
    std::vector<int> scores(bank.size(), kMissing);
    for (const CatAnswer& a : answers) {
        if (a.item >= bank.size()) throw std::invalid_argument("an answer names a question outside the bank");
        if (given[a.item]) throw std::invalid_argument("a question was answered twice");
        if (a.score < 0 || a.score > bank[a.item].maxScore())
            throw std::invalid_argument("a score is outside the question's levels");
        given[a.item] = true;
        scores[a.item] = a.score;
    }
    if (options.firstItem && *options.firstItem >= bank.size())
        throw std::invalid_argument("the first question is outside the bank");
    CatStep s;
    if (!answers.empty()) {
        const PersonEstimate e = estimatePerson(bank, scores);
        s.theta = e.eap;
        s.se = e.eapSe;
    }
    const size_t n = answers.size();
    const size_t most = options.maxItems > 0 ? std::min(size_t(options.maxItems), bank.size()) : bank.size();
    if (n >= bank.size())
        s.stop = CatStop::BankExhausted;
    else if (n >= most)
        s.stop = CatStop::MaxItems;
    else if (n > 0 && n >= size_t(std::max(options.minItems, 0)) && s.se <= options.seTarget)
        s.stop = CatStop::Precise;
    if (s.stop != CatStop::No) return s;
    if (n == 0 && options.firstItem) {
        s.next = options.firstItem;
        return s;
    }
    s.next = mostInformative(bank, given, s.theta, options.randomesque, drawFor(options.seed, answers));
    return s;
}

namespace {

double correlation(const std::vector<double>& x, const std::vector<double>& y) {
    const double n = double(x.size());
    const double mx = std::accumulate(x.begin(), x.end(), 0.0) / n,
                 my = std::accumulate(y.begin(), y.end(), 0.0) / n;
    double sxy = 0, sxx = 0, syy = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        sxy += (x[i] - mx) * (y[i] - my);
        sxx += (x[i] - mx) * (x[i] - mx);
        syy += (y[i] - my) * (y[i] - my);
    }
    return sxx > 0 && syy > 0 ? sxy / std::sqrt(sxx * syy) : 0;
}

double rmse(const std::vector<double>& x, const std::vector<double>& y) {
    double s = 0;
    for (size_t i = 0; i < x.size(); ++i)
        s += (x[i] - y[i]) * (x[i] - y[i]);
    return x.empty() ? 0 : std::sqrt(s / double(x.size()));
}

int drawScore(const ItemParameters& item, double theta, std::mt19937_64& rng) {
    thread_local std::vector<double> p;
    categoryProbabilities(item, theta, p);
    double u = std::uniform_real_distribution<double>(0, 1)(rng);
    for (size_t h = 0; h + 1 < p.size(); ++h) {
        if (u < p[h]) return int(h);
        u -= p[h];
    }
    return int(p.size() - 1);
}

} // namespace

SimulationResult simulateCat(const std::vector<ItemParameters>& bank, int persons, const CatOptions& options,
                             uint64_t seed) {
    if (bank.empty()) throw std::invalid_argument("the item bank is empty");
    if (persons < 2) throw std::invalid_argument("a simulation needs at least two persons");
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> normal(0, 1);
    std::vector<double> truth, adaptive, fixed;
    std::vector<int> uses(bank.size(), 0);
    std::vector<int> responses(bank.size());
    size_t asked = 0;
    for (int p = 0; p < persons; ++p) {
        const double theta = normal(rng);
        for (size_t i = 0; i < bank.size(); ++i)
            responses[i] = drawScore(bank[i], theta, rng);
        CatOptions o = options;
        o.seed = mix(seed ^ uint64_t(p));
        std::vector<CatAnswer> answers;
        CatStep s = catStep(bank, answers, o);
        while (s.next) {
            answers.push_back({*s.next, responses[*s.next]});
            ++uses[*s.next];
            s = catStep(bank, answers, o);
        }
        asked += answers.size();
        truth.push_back(theta);
        adaptive.push_back(s.theta);
        fixed.push_back(estimatePerson(bank, responses).eap);
    }
    SimulationResult r;
    r.persons = persons;
    r.meanLength = double(asked) / persons;
    r.correlation = correlation(truth, adaptive);
    r.rmse = rmse(truth, adaptive);
    r.maxExposure = double(*std::max_element(uses.begin(), uses.end())) / persons;
    r.fixedCorrelation = correlation(truth, fixed);
    r.fixedRmse = rmse(truth, fixed);
    r.fixedLength = int(bank.size());
    return r;
}

} // namespace psychometrics::irt
