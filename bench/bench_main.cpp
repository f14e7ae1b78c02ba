// Speed and memory of the engine on a large generated database.
//   morv-bench [--db DIR|URL] [benchmark flags]
// With --db postgresql://... the database is on a server (made with morv-db migrate from a
// large folder, MORV_BENCH_FOLDER, which the migration benchmarks use).
// Without --db (or MORV_BENCH_DB) the database is generated once in /tmp/morv-bench-db.
#include "Bench.h"
#include "PgStore.h"
#include "app/Startup.h"
#include "dataset/Aliases.h"
#include "dbf/DbfFile.h"

#include "services/Numbering.h"
#include "widgets/DBGrid.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <shapefil.h>
#include <string>

namespace bench {
QString gDir;
std::vector<Key> gKeys;

TBD& bd() {
    static TBD* module = [] {
        auto* m = new TBD;
        // Warm the key indexes a first search builds, so the figures are for steady use.
        m->Table_rezult->locate("NOMU;NOMTESTIR;NOMTESTA;NOMVOPR", {1, 1, 1, 1});
        return m;
    }();
    return *module;
}

void openProgram() {
    static const bool opened = [] {
        InitApplication();
        CreateApplicationForms();
        return true;
    }();
    (void)opened;
}
} // namespace bench

using namespace bench;

namespace {

long statusKb(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::strlen(key)));
    return 0;
}
long peakKb() {
    return statusKb("VmHWM:");
}

double filesMb() {
    qint64 total = 0;
    for (const QFileInfo& fi : QDir(gDir).entryInfoList(QDir::Files))
        total += fi.size();
    return double(total) / (1024.0 * 1024.0);
}

void sampleKeys() {
    db::Table t;
    t.setDatabaseName("morv");
    t.setTableName("bd_rezult.dbf");
    t.open();
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> pick(0, t.recordCount() - 1);
    for (int i = 0; i < 1000; ++i) {
        int row = pick(rng);
        gKeys.push_back({int(t.valueAt(row, t.fieldByName("NOMU")).toInt()),
                         int(t.valueAt(row, t.fieldByName("NOMTESTIR")).toInt()),
                         int(t.valueAt(row, t.fieldByName("NOMTESTA")).toInt()),
                         int(t.valueAt(row, t.fieldByName("NOMVOPR")).toInt())});
    }
}

void BM_OpenAllTables(benchmark::State& state) {
    for (auto _ : state) {
        TBD module; // opens the 14 tables and runs the two load-time queries
        benchmark::DoNotOptimize(module.Table_rezult->recordCount());
    }
}

void BM_FilterSwitchOneTesteeAndTest(benchmark::State& state) {
    db::Table* t = bd().Table_rezult;
    size_t i = 0;
    for (auto _ : state) {
        const Key& k = gKeys[i++ % gKeys.size()];
        t->filterBy(
            QStringLiteral("NOMU=%1 and NOMTESTIR=%2 and NOMTESTA=%3").arg(k.org).arg(k.testee).arg(k.test));
        benchmark::DoNotOptimize(t->recordCount());
    }
}

void BM_LocateAnswerRow(benchmark::State& state) {
    db::Table* t = bd().Table_rezult;
    t->setFiltered(false);
    size_t i = 0, found = 0;
    for (auto _ : state) {
        const Key& k = gKeys[i++ % gKeys.size()];
        found += t->locate("NOMU;NOMTESTIR;NOMTESTA;NOMVOPR", {k.org, k.testee, k.test, k.question});
    }
    if (found != i) state.SkipWithError("an answer row that exists was not found");
}

// The scoring of one testee's run: the same steps, filters and searches as the scoring dialog.
void BM_ScoringPass(benchmark::State& state) {
    TBD& m = bd();
    // A test with the most questions and criteria, and a testee who answered it.
    int N = 0, K = 0, most = 0;
    for (m.Table_test->first(); !m.Table_test->eof(); m.Table_test->next()) {
        int k = int(m.Table_testKOLKRIT->asInteger());
        if (k > K) {
            K = k;
            N = int(m.Table_testNTEST->asInteger());
        }
    }
    const Key* who = nullptr;
    for (const Key& k : gKeys)
        if (k.test == N) who = &k;
    if (!who) {
        state.SkipWithError("no answers for the biggest test");
        return;
    }
    const QString answers =
        QStringLiteral("NOMU=%1 and NOMTESTIR=%2 and NOMTESTA=%3").arg(who->org).arg(who->testee).arg(N);
    for (auto _ : state) {
        m.Table_vopros->filterBy(QStringLiteral("NTEST=%1").arg(N));
        m.Table_rezult->filterBy(answers);
        m.Table_rez->filterBy(answers);
        for (int k = 1; k <= K; ++k) {
            int64_t S = 0;
            m.Table_summa->filterBy(QStringLiteral("NOMTESTA=%1and KRIT=%2").arg(N).arg(k));
            for (m.Table_summa->first(); !m.Table_summa->eof(); m.Table_summa->next()) {
                ++most;
                int q = int(m.Table_summaSUMVOPR->asInteger());
                m.Table_rezult->locate("NOMVOPR", {q});
                int a = int(m.Table_rezultOTVET->asInteger());
                m.Table_vopros->locate("NVOPR", {q});
                int s = int(m.Table_voprosNOTV->asInteger());
                m.Table_otvet->filterBy(QStringLiteral("NOMOTV=%1").arg(s));
                m.Table_otvet->first();
                m.Table_otvet->moveBy(a);
                S += m.Table_otvetBOTVET->asInteger();
            }
            if (m.Table_rez->locate("KRIT", {k})) {
                m.Table_rez->edit();
                m.Table_rezBALL->setValue(double(S));
                m.Table_rez->post();
            } else {
                m.Table_rez->append();
                m.Table_rez->setFields({who->org, who->testee, QDate::currentDate(), N, k, double(S)});
                m.Table_rez->post();
            }
        }
    }
    state.counters["questions"] = double(most) / double(state.iterations());
    state.counters["criteria"] = K;
}

void BM_QueryKritBall(benchmark::State& state) {
    db::Query* q = bd().Query1;
    for (auto _ : state) {
        q->close();
        q->setSql({"Select KRIT,BALL", "  From bd_rez"});
        q->open();
        benchmark::DoNotOptimize(q->recordCount());
    }
    state.counters["rows"] = q->recordCount();
}

double gOurScan = 0, gShapeScan = 0, gFileScan = 0;

// The same scan at the file layer: every field of every record decoded to a number or date.
void BM_FullScanFileLayer(benchmark::State& state) {
    // Shared with the open tables, as every component of the program shares it.
    auto file = dbf::DbfFile::openShared(QDir(gDir).filePath("bd_rezult.dbf").toStdString());
    const auto& defs = file->fields();
    double sum = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        for (uint32_t r = 0, n = file->recordCount(); r < n; ++r) {
            if (file->isDeleted(r)) continue;
            for (int f = 0; f < int(defs.size()); ++f) {
                double v = 0;
                if (defs[size_t(f)].type == 'D')
                    benchmark::DoNotOptimize(file->readDate(r, f));
                else if (file->readNumber(r, f, v))
                    sum += v;
            }
        }
        gFileScan = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    benchmark::DoNotOptimize(sum);
}

// Every field of every answer row, read as the windows read them.
void BM_FullScanOurs(benchmark::State& state) {
    db::Table t;
    t.setDatabaseName("morv");
    t.setTableName("bd_rezult.dbf");
    t.open();
    t.recordCount(); // a big table's view is read on first use: not part of the scan
    double sum = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        for (t.first(); !t.eof(); t.next())
            for (db::Field* f : t.fields())
                if (f->kind() != db::FieldKind::Date)
                    sum += f->value().toDouble();
                else
                    benchmark::DoNotOptimize(f->value());
        gOurScan = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    benchmark::DoNotOptimize(sum);
}

void BM_FullScanShapelib(benchmark::State& state) {
    std::string path = QDir(gDir).filePath("bd_rezult.dbf").toStdString();
    double sum = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        DBFHandle h = DBFOpen(path.c_str(), "rb");
        if (!h) {
            state.SkipWithError("shapelib cannot open bd_rezult.dbf");
            return;
        }
        int n = DBFGetRecordCount(h), fields = DBFGetFieldCount(h);
        for (int r = 0; r < n; ++r)
            for (int f = 0; f < fields; ++f)
                if (DBFGetFieldInfo(h, f, nullptr, nullptr, nullptr) != FTDate)
                    sum += DBFReadDoubleAttribute(h, r, f);
                else
                    benchmark::DoNotOptimize(DBFReadStringAttribute(h, r, f));
        DBFClose(h);
        gShapeScan = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    benchmark::DoNotOptimize(sum);
}

} // namespace

BENCHMARK(BM_OpenAllTables)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterSwitchOneTesteeAndTest)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LocateAnswerRow)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScoringPass)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QueryKritBall)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FullScanOurs)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FullScanFileLayer)->Unit(benchmark::kMillisecond)->Iterations(3);
// The generic table view's grid over every answer row: open, paint, jump to the end and back.
void BM_GridOverAllAnswers(benchmark::State& state) {
    TBD& m = bd();
    m.Table_rezult->setFiltered(false);
    for (auto _ : state) {
        ui::DBGrid grid;
        grid.resize(577, 380);
        grid.setDataSource(m.DS_rezult);
        grid.show();
        grid.grab();
        m.Table_rezult->last();
        grid.grab();
        m.Table_rezult->first();
        grid.grab();
    }
    state.counters["rows"] = m.Table_rezult->recordCount();
}

BENCHMARK(BM_GridOverAllAnswers)->Unit(benchmark::kMillisecond);

// Choosing an institution and numbering a new testee there: the pin of the testee list, then
// the last testee's number and every number of the institution, as "Новый" reads them.
void BM_PinInstitutionAndNumberTestee(benchmark::State& state) {
    TBD& m = bd();
    m.Table_org->setFiltered(false);
    const int orgs = m.Table_org->recordCount();
    int i = 0;
    int64_t sum = 0;
    for (auto _ : state) {
        m.Table_org->first();
        m.Table_org->moveBy(i++ % orgs);
        m.Table_anket->filterBy(QStringLiteral("NOMU=") + QString::number(m.Table_orgNOM_ORG->asInteger()));
        m.Table_anket->last();
        sum += services::nextNumber(m.Table_anketNOMTESTIR->asInteger(),
                                    services::numbersInView(*m.Table_anket, m.Table_anketNOMTESTIR));
    }
    benchmark::DoNotOptimize(sum);
    state.counters["testees"] = double(m.Table_anket->file() ? m.Table_anket->file()->recordCount() : 0);
}

BENCHMARK(BM_PinInstitutionAndNumberTestee)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FullScanShapelib)->Unit(benchmark::kMillisecond)->Iterations(1);

int main(int argc, char** argv) {
    // A new process for each measured start (bench_start.cpp).
    if (argc == 3 && std::strcmp(argv[1], "--start-probe") == 0) return bench::startProbe(argc, argv);
    // The grid benchmark needs widgets; without a display they are drawn offscreen.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    gDir = qEnvironmentVariable("MORV_BENCH_DB", QStringLiteral("/tmp/morv-bench-db"));
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::string(argv[i]) == "--db" && i + 1 < argc)
            gDir = QString::fromLocal8Bit(argv[++i]);
        else
            rest.push_back(argv[i]);
    }
    const bool server = onServer();
    if (server) {
        pg::PgStore::registerScheme();
        // The benchmarks that reach the tables through the alias, unless others are asked for.
        static std::string only = "--benchmark_filter=OpenAllTables|AnswerClick|ShowQuestion|AllVopr|"
                                  "StatExecuteQuery|StatMean|LocateAnswerRow|FilterSwitch|Migrate";
        if (std::none_of(rest.begin(), rest.end(),
                         [](const char* a) { return std::strncmp(a, "--benchmark_filter", 18) == 0; }))
            rest.push_back(only.data());
    } else if (!QFileInfo::exists(QDir(gDir).filePath("bd_rezult.dbf"))) {
        std::fprintf(stderr, "Generating the benchmark database in %s ...\n", qPrintable(gDir));
        if (QProcess::execute(QStringLiteral(MORV_DB_TOOL), {QStringLiteral("large"), gDir}) != 0) {
            std::fprintf(stderr, "morv-db large failed\n");
            return 1;
        }
    }
    db::Aliases::bind(QStringLiteral("morv"), gDir);
    // What the process holds before it touches the database: code and data of the libraries.
    const long baseline = statusKb("VmRSS:");
    server ? sampleServerKeys() : sampleKeys();
    int n = int(rest.size());
    benchmark::Initialize(&n, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (server) return 0; // the figures below are of the folder's files
    long peak = peakKb();
    auto ratio = [](double ours) { return ours > 0 ? gShapeScan / ours : 0.0; };
    std::printf(
        "\nbd_rezult full scan, shapelib %.3f s; ours through the table cursor %.3f s (%.1f x faster), "
        "through the file layer %.3f s (%.1f x faster)\n",
        gShapeScan, gOurScan, ratio(gOurScan), gFileScan, ratio(gFileScan));
    std::printf("peak memory %.1f MiB (%.1f MiB before opening the database), database files %.1f MiB\n",
                peak / 1024.0, baseline / 1024.0, filesMb());
    std::printf("peak memory of the engine %.1f MiB = %.2f x the files; whole process %.2f x\n",
                (peak - baseline) / 1024.0, (peak - baseline) / 1024.0 / filesMb(),
                peak / 1024.0 / filesMb());
    return 0;
}
