// The group session window's once-a-second look at a class of 200 testees, each part way through
// a 10-question test: the server's status and the table's refresh, as the window's timer runs them.
#include "dataset/Aliases.h"
#include "group/GroupWatch.h"
#include "web/TestServer.h"

#include <QProcess>
#include <QTableWidget>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr int kClass = 200;

struct GroupClass {
    QTemporaryDir dir;
    std::unique_ptr<web::TestServer> server;
    int session = 0;
};

// The sample database with 200 testees registered as the browser registers them, a session of
// them all, and each with 0..9 answers stored.
GroupClass* groupClass() {
    static GroupClass* made = [] {
        auto* g = new GroupClass;
        if (QProcess::execute(QStringLiteral(MORV_DB_TOOL), {QStringLiteral("sample"), g->dir.path()}) != 0)
            return static_cast<GroupClass*>(nullptr);
        db::Aliases::bind(QStringLiteral("groupbench"), g->dir.path());
        g->server = std::make_unique<web::TestServer>(g->dir.path(), QStringLiteral("groupbench"));
        services::RunService& runs = g->server->runs();
        std::vector<int> testees;
        for (int i = 0; i < kClass; ++i)
            testees.push_back(runs.registerTestee(1, {QStringLiteral("Ученик%1").arg(i),
                                                      QStringLiteral("Имя"),
                                                      {},
                                                      QStringLiteral("М"),
                                                      2010,
                                                      0}));
        g->session = g->server->openSession(1, 1, testees, false, false).id;
        std::vector<std::pair<results::RunKey, int>> shown;
        std::vector<services::PendingChoice> choices;
        for (int i = 0; i < kClass; ++i)
            for (int q = 1; q <= i % 10; ++q) {
                shown.push_back({{1, testees[size_t(i)], 1}, q});
                choices.push_back({{1, testees[size_t(i)], 1}, q, q % 4, {}});
            }
        runs.makeRows(shown);
        runs.chooseMany(choices);
        g->server->status(g->session); // the runs read once, as at the window's first look
        return g;
    }();
    return made;
}

void BM_GroupStatus200(benchmark::State& state) {
    GroupClass* g = groupClass();
    if (!g) {
        state.SkipWithError("morv-db sample failed");
        return;
    }
    size_t rows = 0;
    for (auto _ : state)
        rows = g->server->status(g->session).size();
    if (rows != size_t(kClass)) state.SkipWithError("not every testee of the session was reported");
}

// A tick where every testee has moved on: every answered count and time is rewritten.
void BM_GroupTableRefresh200(benchmark::State& state) {
    GroupClass* g = groupClass();
    if (!g) {
        state.SkipWithError("morv-db sample failed");
        return;
    }
    std::vector<web::TesteeStatus> status = g->server->status(g->session);
    QTableWidget grid(0, 5);
    int tick = 0;
    for (auto _ : state) {
        ++tick;
        for (web::TesteeStatus& s : status) {
            s.answered = (s.answered + 1) % 11;
            s.lastActivity = QDateTime::currentDateTime().addSecs(tick);
            s.state = s.answered == 10 ? web::RunState::Finished : web::RunState::Answering;
        }
        group::showStatus(&grid, status);
        benchmark::DoNotOptimize(grid.item(0, 2));
    }
}

} // namespace

BENCHMARK(BM_GroupStatus200)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GroupTableRefresh200)->Unit(benchmark::kMicrosecond);
