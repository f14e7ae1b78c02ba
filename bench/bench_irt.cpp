// Item response calibration of 50 items over 100,000 simulated runs: the Rasch model by CML and
// the two-parameter logistic model by marginal ML (EM over 21 quadrature nodes).
#include "psychometrics/irt/Calibration.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <random>

namespace {

using namespace psychometrics::irt;

Responses simulated(bool twoPl, double missing = 0) {
    constexpr size_t kPersons = 100'000, kItems = 50;
    std::mt19937 gen(17);
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> unit;
    std::vector<double> a(kItems), b(kItems);
    for (size_t i = 0; i < kItems; ++i) {
        a[i] = twoPl ? 0.7 + 1.3 * unit(gen) : 1.0;
        b[i] = -2.5 + 5.0 * double(i) / (kItems - 1);
    }
    Responses r;
    r.persons = kPersons;
    r.items = kItems;
    r.scores.resize(kPersons * kItems);
    for (size_t p = 0; p < kPersons; ++p) {
        const double theta = normal(gen);
        for (size_t i = 0; i < kItems; ++i)
            r.scores[p * kItems + i] = unit(gen) < missing
                                           ? int8_t(kMissing)
                                           : int8_t(unit(gen) < 1 / (1 + std::exp(-a[i] * (theta - b[i]))));
    }
    return r;
}

void BM_IrtRaschCml(benchmark::State& state) {
    static const Responses r = simulated(false);
    Calibration c;
    for (auto _ : state)
        c = calibrate(r, Model::Rasch);
    state.counters["iterations"] = c.iterations;
    state.counters["persons"] = c.personsUsed;
}

// One answer in a hundred missing: most runs then have an item set of their own, and CML
// works through each set's own symmetric functions.
void BM_IrtRaschCmlMissing(benchmark::State& state) {
    static const Responses r = simulated(false, 0.01);
    Calibration c;
    for (auto _ : state)
        c = calibrate(r, Model::Rasch);
    state.counters["iterations"] = c.iterations;
    state.counters["with_missing"] = c.personsWithMissing;
}

void BM_Irt2plMml(benchmark::State& state) {
    static const Responses r = simulated(true);
    Calibration c;
    for (auto _ : state)
        c = calibrate(r, Model::TwoPl);
    state.counters["iterations"] = c.iterations;
    state.counters["persons"] = c.personsUsed;
}

} // namespace

BENCHMARK(BM_IrtRaschCml)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_IrtRaschCmlMissing)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_Irt2plMml)->Unit(benchmark::kSecond)->Iterations(1);
