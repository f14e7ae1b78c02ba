// The program's start, from nothing to a usable main window on the benchmark database. Each
// iteration is a new process of this benchmark in its probe mode, which goes through the
// program's own start (splash, tables, every window, the main window shown and painted) and
// says how long that took on the clock and on the CPU.
#include "Bench.h"

#include "app/Fist.h"
#include "app/Main.h"
#include "app/Startup.h"
#include "dataset/Aliases.h"
#include "widgets/Application.h"

#include <QCoreApplication>
#include <QProcess>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace bench {

namespace {
double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}
} // namespace

int startProbe(int argc, char** argv) {
    const auto start = std::chrono::steady_clock::now();
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ui::Application app(argc, argv);
    db::Aliases::bind(QStringLiteral("morv"), QString::fromLocal8Bit(argv[2]));
    // As the program's main does it.
    auto* splash = new TFistForm;
    splash->show();
    QCoreApplication::processEvents();
    InitApplication();
    CreateApplicationForms();
    delete splash;
    FormMain->show();
    QCoreApplication::processEvents(); // laid out and painted: the user can choose a menu item
    const double wall =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.3f %.3f\n", wall, cpuMs());
    std::fflush(stdout);
    DestroyApplicationForms();
    return 0;
}

namespace {

void BM_StartToMainWindow(benchmark::State& state) {
    double cpu = 0;
    for (auto _ : state) {
        QProcess p;
        p.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--start-probe"), gDir});
        double wall = 0, used = 0;
        if (!p.waitForFinished(60000) || p.exitCode() != 0 ||
            std::sscanf(p.readAllStandardOutput().constData(), "%lf %lf", &wall, &used) != 2) {
            state.SkipWithError("the start probe failed");
            return;
        }
        state.SetIterationTime(wall / 1e3);
        cpu += used;
    }
    state.counters["cpu_ms"] = cpu / double(state.iterations());
}

} // namespace

} // namespace bench

BENCHMARK(bench::BM_StartToMainWindow)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
