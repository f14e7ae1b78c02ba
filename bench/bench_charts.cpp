// The chart windows on the big database: opening the bar chart of a scored run filters the
// whole score table, reopens the level query and draws the chart.
#include "Bench.h"

#include "scoring/Diagr.h"
#include "widgets/DBChart.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

using namespace bench;

namespace {

void BM_OpenBarChartOfARun(benchmark::State& state) {
    openProgram();
    // Test 1 of the big database has 10 criteria; the scoring benchmark leaves its scores.
    if (!chooseRun(1, 1, 1)) {
        state.SkipWithError("institution 1, testee 1 or test 1 missing");
        return;
    }
    qsizetype bars = 0;
    for (auto _ : state) {
        FormDiagr->Show();
        bars = FormDiagr->DBChart1->points().size();
        FormDiagr->repaint();
        FormDiagr->hide();
        // What the event loop does between two openings: the chart's polishing and the
        // deletion of its old items are posted.
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    if (bars == 0) state.SkipWithError("run 1/1/1 has no scores: run the scoring benchmark first");
    state.counters["bars"] = double(bars);
}
BENCHMARK(BM_OpenBarChartOfARun)->Unit(benchmark::kMillisecond);

} // namespace
