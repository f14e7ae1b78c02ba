// The production indexes on the large database: the file steps of an answer click with every
// tag kept, beside the same on a copy without an index; rebuilding every index.
#include "Bench.h"

#include "dbf/DbfFile.h"
#include "dbf/Mdx.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>

using namespace bench;

namespace {

// bd_rezult copied to a scratch folder twice: with its index, and without (header byte 28 off).
struct Copies {
    QTemporaryDir dir;
    std::shared_ptr<dbf::DbfFile> indexed, plain;
    Copies() {
        const QString src = QDir(gDir).filePath(QStringLiteral("bd_rezult.dbf"));
        QDir(dir.path()).mkdir(QStringLiteral("with"));
        QDir(dir.path()).mkdir(QStringLiteral("without"));
        QFile::copy(src, dir.filePath(QStringLiteral("with/bd_rezult.dbf")));
        QFile::copy(QDir(gDir).filePath(QStringLiteral("bd_rezult.MDX")),
                    dir.filePath(QStringLiteral("with/bd_rezult.MDX")));
        QFile::copy(src, dir.filePath(QStringLiteral("without/bd_rezult.dbf")));
        QFile plainFile(dir.filePath(QStringLiteral("without/bd_rezult.dbf")));
        if (plainFile.open(QIODevice::ReadWrite)) {
            plainFile.seek(28);
            plainFile.write("\0", 1);
        }
        plainFile.close();
        indexed = dbf::DbfFile::open(dir.filePath(QStringLiteral("with/bd_rezult.dbf")).toStdString());
        plain = dbf::DbfFile::open(dir.filePath(QStringLiteral("without/bd_rezult.dbf")).toStdString());
    }
};

Copies& copies() {
    static Copies c;
    return c;
}

// Append a row answered -1, then write the answer into it, each synced: what a click on a
// question not answered before costs in files.
void answerStep(benchmark::State& state, dbf::DbfFile& f) {
    const int otvet = f.fieldIndex("OTVET");
    const int nomu = f.fieldIndex("NOMU");
    std::string row(f.record(0), f.recordLength());
    row[0] = ' ';
    const std::string minus = f.formatNumber(otvet, -1), two = f.formatNumber(otvet, 2);
    const uint32_t off = 1 + f.fields()[size_t(otvet)].offset;
    int i = 0;
    for (auto _ : state) {
        // A testee of its own for each step, so the keys go where new testees' keys go.
        std::string key = f.formatNumber(nomu, 900000 + (i++ % 1000));
        row.replace(1 + f.fields()[size_t(nomu)].offset, key.size(), key);
        row.replace(off, minus.size(), minus);
        uint32_t rec = f.appendRecord(row);
        row.replace(off, two.size(), two);
        f.writeRecord(rec, row);
    }
}

void BM_AnswerRowWithIndex(benchmark::State& state) {
    answerStep(state, *copies().indexed);
}
void BM_AnswerRowWithoutIndex(benchmark::State& state) {
    answerStep(state, *copies().plain);
}

// morv-db reindex of the whole database, in its own process (its memory is not the program's).
void BM_ReindexAll(benchmark::State& state) {
    for (auto _ : state)
        if (QProcess::execute(QStringLiteral(MORV_DB_TOOL), {QStringLiteral("reindex"), gDir}) != 0)
            state.SkipWithError("morv-db reindex failed");
}

// The testee view's order read from the tag NOMU.
void BM_TagOrderNomu(benchmark::State& state) {
    auto f = dbf::DbfFile::open(QDir(gDir).filePath(QStringLiteral("bd_anket.dbf")).toStdString(), true);
    for (auto _ : state) {
        std::vector<uint32_t> order;
        f->tagOrder("NOMU", order);
        benchmark::DoNotOptimize(order.data());
    }
}

} // namespace

BENCHMARK(BM_AnswerRowWithIndex)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnswerRowWithoutIndex)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TagOrderNomu)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReindexAll)->Unit(benchmark::kMillisecond)->Iterations(1);
