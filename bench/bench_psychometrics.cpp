// Item analysis of a 200-question, 10-criterion test over 100,000 complete runs (20,000,000
// answer rows): reading the answers and the arithmetic, as the window and morv-db analyse do;
// and the arithmetic alone on the same shape.
//   MORV_ITEM_BENCH_DB names the database; by default it is made once in /tmp/morv-item-bench.
#include "data/Schema.h"
#include "dataset/Table.h"
#include "psychometrics/ItemAnalysis.h"
#include "psychometrics/Norms.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <random>

namespace {

QString itemDatabase() {
    static const QString dir = [] {
        const QString d = qEnvironmentVariable("MORV_ITEM_BENCH_DB", QStringLiteral("/tmp/morv-item-bench"));
        if (!QFileInfo::exists(QDir(d).filePath("bd_rezult.dbf"))) {
            std::fprintf(stderr, "Generating the item analysis benchmark database in %s ...\n",
                         qPrintable(d));
            QProcess::execute(QStringLiteral(MORV_DB_TOOL),
                              {"large", d, "--force", "--orgs", "10", "--tests", "1", "--testees", "100000",
                               "--questions", "200", "--criteria", "10", "--answers", "20000000", "--scores",
                               "0"});
        }
        return d;
    }();
    return dir;
}

void BM_ItemAnalysisOfTest(benchmark::State& state) {
    size_t runs = 0, items = 0;
    for (auto _ : state) {
        const psychometrics::TestAnalysis t = psychometrics::analyseTest(itemDatabase(), 1);
        runs = t.runs;
        items = 0;
        for (const auto& c : t.criteria)
            items += c.items.size();
    }
    state.counters["runs"] = double(runs);
    state.counters["items"] = double(items);
}

// 100,000 runs of 20 items, ten times over: one criterion's arithmetic per call.
void BM_ItemAnalysisArithmetic(benchmark::State& state) {
    constexpr size_t kRuns = 100'000, kItems = 20;
    std::vector<double> scores(kRuns * kItems);
    std::mt19937 gen(1);
    std::uniform_int_distribution<int> pick(0, 4);
    for (double& v : scores)
        v = pick(gen);
    for (auto _ : state)
        for (int k = 0; k < 10; ++k)
            benchmark::DoNotOptimize(psychometrics::analyseScale(scores, kItems).alpha);
}

// What the result window adds for the standard scores: reading a test's norms (200 rows: ten
// criteria, two sexes, ten age bands) and finding the testee's group.
void BM_StandardScoresOfAResult(benchmark::State& state) {
    QTemporaryDir dir;
    schema::createDatabase(dir.path());
    schema::ensureTable(dir.path(), schema::norms());
    {
        db::Table t;
        t.setTableName(QDir(dir.path()).filePath(QStringLiteral("bd_norm.dbf")));
        t.open();
        for (int i = 0; i < 200; ++i) {
            t.append();
            t.setFieldValue(QStringLiteral("NOMTESTA"), {1});
            t.setFieldValue(QStringLiteral("KRIT"), {i % 10 + 1});
            t.setFieldValue(QStringLiteral("POL"), {i / 10 % 2 ? QStringLiteral("Ж") : QStringLiteral("М")});
            t.setFieldValue(QStringLiteral("VOZROT"), {10 + i / 20 * 5});
            t.setFieldValue(QStringLiteral("VOZRDO"), {14 + i / 20 * 5});
            t.setFieldValue(QStringLiteral("SRED"), {20.0});
            t.setFieldValue(QStringLiteral("SIGMA"), {4.0});
            t.post();
        }
    }
    for (auto _ : state) {
        const auto norms = psychometrics::readNorms(dir.path(), 1);
        benchmark::DoNotOptimize(
            psychometrics::standardScores(norms, 3, 23, QStringLiteral("Ж"), 2000, QDate(2032, 5, 1)).scores);
    }
}

} // namespace

BENCHMARK(BM_StandardScoresOfAResult)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ItemAnalysisOfTest)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ItemAnalysisArithmetic)->Unit(benchmark::kMillisecond)->Iterations(3);
