// The testing window on the large database: showing a question with a million answer rows.
#include "Bench.h"

#include "testing/Test.h"
#include "widgets/RadioGroup.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QRadioButton>
#include <benchmark/benchmark.h>

using namespace bench;

namespace {

// The program's own windows and data module, created once, with the testing window open on the
// benchmark test for a testee who has answers.
bool openTestingWindow() {
    static const bool ready = [] {
        openProgram();
        int org = 0, testee = 0;
        for (const Key& k : gKeys)
            if (k.test == 1) {
                org = k.org;
                testee = k.testee;
                break;
            }
        if (!org) return false;
        if (!chooseRun(org, testee, 1)) return false;
        FormTest->Show(); // activation shows the first question
        return FormTest->RadioGroupOtvet->count() > 0;
    }();
    return ready;
}

// One step forward or back through the window's own button: a move, ShowVopr, and the repaint.
void BM_ShowQuestion(benchmark::State& state) {
    if (!openTestingWindow()) {
        state.SkipWithError("no testee of the benchmark test");
        return;
    }
    int i = 0;
    for (auto _ : state) {
        // Twenty questions forward, then twenty back, so every step really moves.
        QPushButton* b = (i++ / 20) % 2 ? FormTest->ButPrior : FormTest->ButNext;
        b->click();
        // Lay out and paint the new options, as the testee sees them.
        QCoreApplication::processEvents();
        FormTest->repaint();
        benchmark::DoNotOptimize(FormTest->RadioGroupOtvet->itemIndex());
    }
}

// A click on an option of the shown question: the answer row's record lock, the write and its
// sync, as the testee waits for them.
void BM_AnswerClick(benchmark::State& state) {
    if (!openTestingWindow()) {
        state.SkipWithError("no testee of the benchmark test");
        return;
    }
    int i = 0;
    for (auto _ : state) {
        QAbstractButton* option = FormTest->RadioGroupOtvet->button(i++ % FormTest->RadioGroupOtvet->count());
        option->click();
        benchmark::DoNotOptimize(FormTest->RadioGroupOtvet->itemIndex());
    }
}

} // namespace

BENCHMARK(BM_ShowQuestion)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnswerClick)->Unit(benchmark::kMillisecond);
