// Choosing the next question of an adaptive run in a 500-question bank (target ≤ 2 ms): the
// EAP θ from the answers so far and the most informative question not yet given.
#include "psychometrics/irt/Cat.h"

#include <benchmark/benchmark.h>
#include <random>

namespace {

using namespace psychometrics::irt;

void BM_CatNextQuestion(benchmark::State& state) {
    const size_t given = size_t(state.range(0));
    std::mt19937 gen(3);
    std::uniform_real_distribution<double> a(0.6, 2.2), b(-3, 3);
    std::vector<ItemParameters> bank;
    for (int i = 0; i < 500; ++i) {
        const double ai = a(gen);
        bank.push_back({ai, {b(gen)}});
    }
    std::vector<CatAnswer> answers;
    for (size_t i = 0; i < given; ++i)
        answers.push_back({i * 7 % 500, int(i % 2)});
    CatOptions o;
    o.seTarget = 0;
    o.randomesque = 5;
    for (auto _ : state)
        benchmark::DoNotOptimize(catStep(bank, answers, o).next);
}

} // namespace

BENCHMARK(BM_CatNextQuestion)->Arg(0)->Arg(10)->Arg(30)->Arg(60)->Unit(benchmark::kMicrosecond);
