// A test of 500 questions as one file: exporting it (read from the tables, written as JSON) and
// importing it (read and checked, written in one step) on a folder.
#include "data/Schema.h"
#include "exchange/Catalogue.h"
#include "exchange/Checks.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

// 500 questions on two answer sets, 10 criteria of 50 questions, three levels each.
exchange::TestFile bigTest(const QString& name) {
    exchange::TestFile t;
    t.type = 1, t.number = 1, t.name = name, t.criterionCount = 10;
    t.description = QStringLiteral("Опросник из пятисот утверждений для проверки скорости.");
    t.answerSets = {
        {1, {{QStringLiteral("Да"), 2}, {QStringLiteral("Не знаю"), 1}, {QStringLiteral("Нет"), 0}}},
        {2, {{QStringLiteral("Верно"), 0}, {QStringLiteral("Неверно"), 1}}}};
    for (int q = 1; q <= 500; ++q)
        t.questions.push_back({q, QStringLiteral("Утверждение номер %1 о привычках и настроении").arg(q),
                               q % 4 == 0 ? 2 : 1, 1});
    for (int c = 1; c <= 10; ++c) {
        exchange::Criterion crit{c, {}, {}};
        for (int q = c; q <= 500; q += 10)
            crit.questions.push_back(q);
        t.criteria.push_back(crit);
        const auto [lo, hi] = exchange::possibleScores(t, t.criteria.back());
        const double third = std::floor((hi - lo) / 3);
        t.criteria.back().levels = {
            {QStringLiteral("Низкий"), lo, lo + third, QStringLiteral("Низкий уровень.")},
            {QStringLiteral("Средний"), lo + third + 1, lo + 2 * third, QStringLiteral("Средний уровень.")},
            {QStringLiteral("Высокий"), lo + 2 * third + 1, hi, QStringLiteral("Высокий уровень.")}};
    }
    return t;
}

void BM_ExchangeExport500(benchmark::State& state) {
    QTemporaryDir dir;
    schema::createDatabase(dir.path());
    exchange::importTest(dir.path(), bigTest(QStringLiteral("Пятьсот")), false);
    size_t bytes = 0;
    for (auto _ : state)
        bytes = size_t(exchange::write(exchange::readTest(dir.path(), 1)).size());
    state.counters["KB"] = double(bytes) / 1024.0;
}

// Each import adds one more copy: the database grows by 500 questions an iteration, as an
// office's would when tests keep coming in.
void BM_ExchangeImport500(benchmark::State& state) {
    QTemporaryDir dir;
    schema::createDatabase(dir.path());
    const QByteArray file = exchange::write(bigTest(QStringLiteral("Пятьсот")));
    for (auto _ : state)
        exchange::importTest(dir.path(), exchange::read(file), true);
}

} // namespace

BENCHMARK(BM_ExchangeExport500)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExchangeImport500)->Unit(benchmark::kMillisecond)->Iterations(10);
