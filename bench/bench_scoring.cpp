// The check and scoring dialog on the big database, through the program's own windows and data
// module: the check of a 200-question run and the scoring of its 10 criteria.
#include "Bench.h"

#include "scoring/AllVopr.h"
#include "widgets/ProgressBar.h"

#include <QDate>
#include <QLabel>
#include <QPushButton>
#include <benchmark/benchmark.h>

using namespace bench;

namespace {

constexpr int kTest = 1; // the benchmark test
const QString kFresh = QStringLiteral("Полный прогон");

bool complete() {
    FormAllVopr->Button3Click();
    return FormAllVopr->Button1->isEnabled() &&
           FormAllVopr->Label6->text().startsWith(QStringLiteral("На все"));
}

// A testee of institution 1 who answered every question of the test: testee 1 in the generated
// database; otherwise one written once under a name of its own and reused afterwards.
QString prepare() {
    openProgram();
    if (!chooseRun(1, 1, kTest)) return QStringLiteral("institution 1, testee 1 or test 1 missing");
    if (complete()) return {};

    Table* anket = BD->Table_anket;
    int testee = 0, last = 0;
    for (anket->first(); !anket->eof(); anket->next()) {
        last = std::max(last, int(BD->Table_anketNOMTESTIR->asInteger()));
        if (BD->Table_anketFAMTESTIR->asString() == kFresh)
            testee = int(BD->Table_anketNOMTESTIR->asInteger());
    }
    if (testee == 0) {
        testee = last + 1;
        anket->append();
        anket->setFields({double(testee), 1.0, kFresh});
        anket->post();
        Table* rezult = BD->Table_rezult;
        Table* vopros = BD->Table_vopros;
        for (vopros->first(); !vopros->eof(); vopros->next()) {
            rezult->append();
            rezult->setFields({1.0, double(testee), QDate::currentDate(), kTest,
                               int(BD->Table_voprosNVOPR->asInteger()), 0});
            rezult->post();
        }
    }
    if (!chooseRun(1, testee, kTest)) return QStringLiteral("the complete run's testee is missing");
    return complete() ? QString() : QStringLiteral("no complete run of the benchmark test");
}

bool ready(benchmark::State& state) {
    static const QString problem = prepare();
    if (!problem.isEmpty()) state.SkipWithError(problem.toStdString().c_str());
    return problem.isEmpty();
}

// "Проверить" on a complete 200-question run among a million answer rows.
void BM_AllVoprCheck(benchmark::State& state) {
    if (!ready(state)) return;
    for (auto _ : state)
        FormAllVopr->Button3Click();
    if (!FormAllVopr->Button1->isEnabled()) state.SkipWithError("the run was not complete");
    state.counters["questions"] = FormAllVopr->PB->max() - FormAllVopr->PB->min() + 1;
}

// "Результат" up to the window that follows: every criterion scored and its row written.
void BM_AllVoprScore(benchmark::State& state) {
    if (!ready(state)) return;
    int criteria = 0;
    for (auto _ : state)
        criteria = FormAllVopr->ScoreAnswers();
    state.counters["criteria"] = criteria;
    int keyRows = 0;
    for (int k = 1; k <= criteria; ++k) {
        BD->Table_summa->filterBy(QStringLiteral("NOMTESTA=%1and KRIT=%2").arg(kTest).arg(k));
        keyRows += BD->Table_summa->recordCount();
    }
    state.counters["keyRows"] = keyRows;
}

} // namespace

BENCHMARK(BM_AllVoprCheck)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AllVoprScore)->Unit(benchmark::kMillisecond);
