// The reports to PDF: a run of the 200-question, 10-criterion benchmark test on the big
// database, and a group of 1,000 testees scored on one test in one institution.
#include "Bench.h"

#include "dataset/Aliases.h"
#include "reports/Render.h"
#include "reports/Reports.h"
#include "results/Archive.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <benchmark/benchmark.h>

using namespace bench;

namespace {

constexpr int kGroupTestees = 1000;

// The PDFs stay in the temporary folder for a look: morv-bench-reports/run.pdf, group.pdf.
QDir output() {
    const QString d = QDir::temp().filePath(QStringLiteral("morv-bench-reports"));
    QDir().mkpath(d);
    return QDir(d);
}

// Institution 1 with 1,000 testees, each with a complete, scored run of test 1 (200 questions,
// 10 criteria), made once by the same tool users run.
QString groupDatabase() {
    static const QString dir = [] {
        const QString d = QDir::temp().filePath(QStringLiteral("morv-bench-group"));
        if (!QFileInfo::exists(QDir(d).filePath(QStringLiteral("bd_rez.dbf")))) {
            QDir().mkpath(d);
            const int rc = QProcess::execute(
                QStringLiteral(MORV_DB_TOOL),
                {QStringLiteral("large"), d, QStringLiteral("--force"), QStringLiteral("--orgs"),
                 QStringLiteral("1"), QStringLiteral("--testees"), QString::number(kGroupTestees),
                 QStringLiteral("--tests"), QStringLiteral("1"), QStringLiteral("--answers"),
                 QString::number(kGroupTestees * 200), QStringLiteral("--scores"),
                 QString::number(kGroupTestees * 10)});
            if (rc != 0) return QString();
        }
        db::Aliases::bind(QStringLiteral("morvgroup"), d);
        return d;
    }();
    return dir;
}

// Open the archive, read the run with its answers, lay it out and save it as PDF.
void BM_ReportRunPdf(benchmark::State& state) {
    bd();
    const QString pdf = output().filePath(QStringLiteral("run.pdf"));
    for (auto _ : state) {
        results::Archive archive;
        reports::savePdf(reports::runReport(archive, {1, 1, 1}), pdf);
    }
    results::Archive archive;
    const results::RunResult run = archive.run({1, 1, 1}, true);
    state.counters["questions"] = double(run.answers.size());
    state.counters["criteria"] = double(run.criteria.size());
    state.counters["scored"] = run.scored() ? 1 : 0;
    state.counters["kB"] = double(QFileInfo(pdf).size()) / 1024;
}
BENCHMARK(BM_ReportRunPdf)->Unit(benchmark::kMillisecond);

// The reading alone: the archive opened, the run, its levels and its answers read.
void BM_ReportRunRead(benchmark::State& state) {
    bd();
    for (auto _ : state) {
        results::Archive archive;
        benchmark::DoNotOptimize(reports::runReport(archive, {1, 1, 1}));
    }
}
BENCHMARK(BM_ReportRunRead)->Unit(benchmark::kMillisecond);

void BM_ReportGroupPdf(benchmark::State& state) {
    if (groupDatabase().isEmpty()) {
        state.SkipWithError("morv-db large failed");
        return;
    }
    const QString pdf = output().filePath(QStringLiteral("group.pdf"));
    size_t testees = 0;
    for (auto _ : state) {
        results::Archive archive(QStringLiteral("morvgroup"));
        const reports::Report r = reports::groupReport(archive, 1, 1);
        reports::savePdf(r, pdf);
        testees = 0;
        for (const reports::Block& b : r.blocks)
            if (const auto* t = std::get_if<reports::Table>(&b))
                testees = t->rows.size() - 2; // less the two figures
    }
    state.counters["testees"] = double(testees);
    state.counters["kB"] = double(QFileInfo(pdf).size()) / 1024;
}
BENCHMARK(BM_ReportGroupPdf)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
