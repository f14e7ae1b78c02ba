// A program instance registering testees or institutions as the registration windows do: the
// next number from its own (possibly stale) view, then post.
//   testees DIR N | institutions DIR N
// or answering questions 1..N of test 1 for testee 1 of institution 1, as the testing window
// does (find or make the question's row, then store the choice):
//   answers DIR N
// or, once DIR/go appears, making the norm table on first use and adding N norm rows to it:
//   norms DIR N
// or, through the write side the test server uses, registering N testees of institution 1 one
// after another and answering all of test 1 for each (option (testee + question) mod options),
// printing "testee NUMBER" for each:
//   runs DIR N
// With MORV_START_AFTER=FILE set, it prints "ready" and waits for FILE before it begins.
#include "data/DM.h"
#include "data/Schema.h"
#include "dataset/Aliases.h"
#include "services/Numbering.h"
#include "services/RunService.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <cstdio>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 4) return 2;
    db::Aliases::bind(QStringLiteral("morv"), QString::fromLocal8Bit(argv[2]));
    const bool testees = std::strcmp(argv[1], "testees") == 0;
    const int n = std::atoi(argv[3]);
    // A race between processes that start at different speeds (a Windows one under Wine takes
    // seconds): say so, and begin only when the racer's file appears.
    const QString startAfter = qEnvironmentVariable("MORV_START_AFTER");
    if (!startAfter.isEmpty()) {
        std::printf("ready\n");
        std::fflush(stdout);
        for (int i = 0; i < 120000 && !QFileInfo::exists(startAfter); ++i)
            QThread::usleep(500);
    }
    try {
        if (std::strcmp(argv[1], "norms") == 0) {
            const QString dir = QString::fromLocal8Bit(argv[2]);
            for (int i = 0; i < 10000 && !QFileInfo::exists(QDir(dir).filePath(QStringLiteral("go"))); ++i)
                QThread::usleep(500);
            db::Table t;
            t.setTableName(schema::ensureTable(dir, schema::norms()));
            t.open();
            for (int i = 0; i < n; ++i) {
                t.append();
                t.setFieldValue(QStringLiteral("NOMTESTA"), {int(getpid() % 30000)});
                t.setFieldValue(QStringLiteral("KRIT"), {i + 1});
                t.post();
            }
            return 0;
        }
        if (std::strcmp(argv[1], "runs") == 0) {
            services::RunService runs;
            const services::TestOutline& test = runs.outline(1);
            for (int i = 0; i < n; ++i) {
                const int testee = runs.registerTestee(1, {QStringLiteral("Станция%1").arg(getpid()),
                                                           QStringLiteral("Тест%1").arg(i),
                                                           {},
                                                           {},
                                                           2010,
                                                           0});
                std::printf("testee %d\n", testee);
                std::fflush(stdout);
                for (const services::TestOutline::Item& q : test.items) {
                    const results::RunKey run{1, testee, 1};
                    runs.show(run, q.number);
                    runs.choose(run, q.number, (testee + q.number) % int(q.options.size()));
                }
            }
            return 0;
        }
        TBD bd;
        if (std::strcmp(argv[1], "answers") == 0) {
            db::Table* rezult = bd.Table_rezult;
            for (int q = 1; q <= n; ++q) {
                const std::vector<db::Variant> key = {1, 1, 1, q};
                const uint32_t rec =
                    rezult->findOrAppendStored(QStringLiteral("NOMU;NOMTESTIR;NOMTESTA;NOMVOPR"), key,
                                               {1, 1, QDate::currentDate(), 1, q, -1});
                rezult->writeStored(rec, bd.Table_rezultOTVET, int(getpid() % 4));
            }
            return 0;
        }
        bd.Table_org->first();
        db::Table* t = testees ? bd.Table_anket : bd.Table_org;
        db::Field* number = testees ? bd.Table_anketNOMTESTIR : bd.Table_orgNOM_ORG;
        for (int i = 0; i < n; ++i) {
            t->last();
            const int64_t next =
                services::nextNumber(number->asInteger(), services::numbersInView(*t, number));
            t->append();
            number->setValue(db::Variant(next));
            t->fieldByName(testees ? "FAMTESTIR" : "NAMEU")
                ->setValue(QStringLiteral("p%1 %2").arg(getpid()).arg(i));
            t->post();
        }
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
        return 1;
    }
    return 0;
}
