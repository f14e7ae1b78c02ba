// Research export on a database where one test has 100,000 scored runs and 5,000 runs with all
// 200 answers (1,000,000 score rows, 1,000,000 answer rows): reading the rows and writing each
// format, as morv-db export and the export window do.
//   MORV_EXPORT_BENCH_DB names the database; by default it is made once in /tmp/morv-export-bench.
#include "export/Collect.h"
#include "export/Writers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

QString database() {
    static const QString dir = [] {
        const QString d =
            qEnvironmentVariable("MORV_EXPORT_BENCH_DB", QStringLiteral("/tmp/morv-export-bench"));
        if (!QFileInfo::exists(QDir(d).filePath("bd_rez.dbf"))) {
            std::fprintf(stderr, "Generating the export benchmark database in %s ...\n", qPrintable(d));
            QProcess::execute(QStringLiteral(MORV_DB_TOOL),
                              {"large", d, "--force", "--tests", "1", "--testees", "100000", "--answers",
                               "1000000", "--scores", "1000000"});
        }
        return d;
    }();
    return dir;
}

void exportOnce(benchmark::State& state, exporting::Content content, exporting::Format format,
                const char* ext) {
    QTemporaryDir out;
    const QString file = out.filePath(QStringLiteral("export.") + ext);
    size_t rows = 0, columns = 0;
    for (auto _ : state) {
        const exporting::Sheet sheet = exporting::collect(database(), {1, std::nullopt, content});
        exporting::write(sheet, format, file);
        rows = sheet.rows;
        columns = sheet.columns.size();
    }
    state.counters["rows"] = double(rows);
    state.counters["columns"] = double(columns);
    state.counters["MB"] = double(QFileInfo(file).size()) / (1024.0 * 1024.0);
}

void BM_ExportScoresSav(benchmark::State& state) {
    exportOnce(state, exporting::Content::Scores, exporting::Format::Sav, "sav");
}
void BM_ExportScoresXlsx(benchmark::State& state) {
    exportOnce(state, exporting::Content::Scores, exporting::Format::Xlsx, "xlsx");
}
void BM_ExportScoresCsv(benchmark::State& state) {
    exportOnce(state, exporting::Content::Scores, exporting::Format::Csv, "csv");
}
void BM_ExportAnswersSav(benchmark::State& state) {
    exportOnce(state, exporting::Content::AnswerPositions, exporting::Format::Sav, "sav");
}
// The reading alone, to tell it from the writing.
void BM_ExportCollectScores(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(
            exporting::collect(database(), {1, std::nullopt, exporting::Content::Scores}).rows);
}

// The answer export as morv-db runs it, in a process of its own, its peak resident memory as
// GNU time gives it: the answer table must not be held whole, nor the file written. (A child's
// own count would start from this process's memory, which a spawned process inherits in its
// accounting.)
void BM_ExportAnswersPeakMemory(benchmark::State& state, const char* format) {
    QTemporaryDir out;
    const QString report = out.filePath(QStringLiteral("peak.txt"));
    double peakMb = 0;
    for (auto _ : state) {
        const int status = QProcess::execute(
            QStringLiteral("/usr/bin/time"),
            {"-f", "%M", "-o", report, QStringLiteral(MORV_DB_TOOL), "export", database(), "--test", "1",
             "--answers", "--format", format, "--output", out.filePath(QStringLiteral("answers.") + format)});
        QFile f(report);
        bool ok = false;
        const double kb = f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().toDouble(&ok) : 0;
        if (status != 0 || !ok) {
            state.SkipWithError("morv-db export under /usr/bin/time failed");
            return;
        }
        peakMb = std::max(peakMb, kb / 1024.0);
    }
    state.counters["peak_MB"] = peakMb;
    state.counters["table_MB"] =
        double(QFileInfo(QDir(database()).filePath(QStringLiteral("bd_rezult.dbf"))).size()) /
        (1024.0 * 1024.0);
}

} // namespace

BENCHMARK_CAPTURE(BM_ExportAnswersPeakMemory, csv, "csv")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_ExportAnswersPeakMemory, sav, "sav")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ExportCollectScores)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ExportScoresSav)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ExportScoresXlsx)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_ExportScoresCsv)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ExportAnswersSav)->Unit(benchmark::kMillisecond)->Iterations(3);
