// The statistics windows on the big database: the mean and variance of every stored score, and
// one keystroke in the largest chi-square table the window allows.
#include "Bench.h"

#include "stats/Stat.h"
#include "stats/X.h"
#include "widgets/StringGrid.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <benchmark/benchmark.h>

using namespace bench;

namespace {

void BM_StatMeanAndVarianceOfAllScores(benchmark::State& state) {
    openProgram();
    FormStat->MemoSQL1->setPlainText(QStringLiteral("Select KRIT,BALL\n  From bd_rez"));
    FormStat->ButtonExec1Click();
    for (auto _ : state) {
        FormStat->ButtonSredClick();
        FormStat->ButtonDispClick();
    }
    state.counters["rows"] = BD->Query1->recordCount();
}
BENCHMARK(BM_StatMeanAndVarianceOfAllScores)->Unit(benchmark::kMillisecond);

void BM_StatExecuteQueryOfAllScores(benchmark::State& state) {
    openProgram();
    FormStat->MemoSQL1->setPlainText(QStringLiteral("Select KRIT,BALL\n  From bd_rez"));
    for (auto _ : state)
        FormStat->ButtonExec1Click();
    state.counters["rows"] = BD->Query1->recordCount();
}
BENCHMARK(BM_StatExecuteQueryOfAllScores)->Unit(benchmark::kMillisecond);

// A keystroke's recomputation and the chi-square over 100 x 100 categories.
void BM_ChiSquareLargestTable(benchmark::State& state) {
    openProgram();
    const int k = TFormX::kMaxCategories;
    FormX->Edit1->setText(QString::number(k));
    FormX->Edit2->setText(QString::number(k));
    for (int c = 1; c <= k; ++c)
        for (int r = 1; r <= k; ++r)
            FormX->StringGrid1->setCell(c, r, QString::number((c * 7 + r * 3) % 20 + 1));
    int flip = 0;
    for (auto _ : state) {
        FormX->StringGrid1->setCell(1, 1, QString::number(10 + (flip++ & 1)));
        FormX->StringGrid1SetEditText();
        FormX->Button2Click();
    }
    state.counters["chi2"] = FormX->EditX->text().toDouble();
}
BENCHMARK(BM_ChiSquareLargestTable)->Unit(benchmark::kMillisecond);

} // namespace
