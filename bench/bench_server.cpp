// The database on a PostgreSQL server (morv-bench --db postgresql://...): the program's own
// benchmarks run through the alias as on a folder; these add the migration each way and the
// sample of answer keys, which a folder takes from its file.
#include "Bench.h"

#include "PgConnection.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <benchmark/benchmark.h>

namespace bench {

bool onServer() {
    return gDir.startsWith(QLatin1String("postgresql://")) || gDir.startsWith(QLatin1String("postgres://"));
}

void sampleServerKeys() {
    // Rows drawn one by one, as the folder's sample is: whole pages (SYSTEM) hold the answers of
    // a few runs only, and would miss the benchmark test.
    pg::Result r = pg::Connection::shared(gDir)->exec(
        QStringLiteral("SELECT nomu, nomtestir, nomtesta, nomvopr FROM bd_rezult "
                       "TABLESAMPLE BERNOULLI (0.1) REPEATABLE (7) LIMIT 1000"));
    for (int i = 0; i < r.rows(); ++i)
        gKeys.push_back({int(r.text(i, 0).toDouble()), int(r.text(i, 1).toDouble()), r.text(i, 2).toInt(),
                         r.text(i, 3).toInt()});
}

} // namespace bench

using namespace bench;

namespace {

// The folder the server database was migrated from (morv-bench --folder DIR, else the
// folder benchmarks' default).
QString folder() {
    return qEnvironmentVariable("MORV_BENCH_FOLDER", QStringLiteral("/tmp/morv-bench-db"));
}

bool migrate(benchmark::State& state, const QString& from, const QString& to) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(MORV_DB_TOOL), {QStringLiteral("migrate"), QStringLiteral("--force"), from, to});
    if (!p.waitForFinished(600000) || p.exitCode() != 0) {
        state.SkipWithError(("migrate failed: " + p.readAll().toStdString()).c_str());
        return false;
    }
    return true;
}

// The server database into a new folder, with its memo files and indexes.
void BM_MigrateServerToFolder(benchmark::State& state) {
    if (!onServer()) return state.SkipWithError("needs --db postgresql://...");
    for (auto _ : state) {
        QTemporaryDir tmp;
        if (!migrate(state, gDir, tmp.filePath(QStringLiteral("office")))) return;
    }
}

// The large folder into a database of its own beside the benchmark one (made and dropped here).
void BM_MigrateFolderToServer(benchmark::State& state) {
    if (!onServer()) return state.SkipWithError("needs --db postgresql://...");
    if (!QFileInfo::exists(QDir(folder()).filePath(QStringLiteral("bd_rezult.dbf"))))
        return state.SkipWithError("no large folder to migrate (MORV_BENCH_FOLDER)");
    QUrl target(gDir);
    target.setPath(QStringLiteral("/morv_bench_migrate"));
    auto admin = pg::Connection::shared(gDir);
    for (auto _ : state) {
        state.PauseTiming();
        admin->exec(QStringLiteral("DROP DATABASE IF EXISTS morv_bench_migrate"));
        admin->exec(QStringLiteral("CREATE DATABASE morv_bench_migrate"));
        state.ResumeTiming();
        if (!migrate(state, folder(), target.toString())) return;
    }
    admin->exec(QStringLiteral("DROP DATABASE IF EXISTS morv_bench_migrate"));
}

} // namespace

BENCHMARK(BM_MigrateServerToFolder)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_MigrateFolderToServer)->Unit(benchmark::kMillisecond)->Iterations(1);
