// A workstation of the race tests on a PostgreSQL database, in a process of its own:
//   pg-child URL register ORG COUNT      registers COUNT testees of institution ORG, each asking
//                                        for number 1 as a new testee's window does
//   pg-child URL answer TESTEE COUNT     finds or makes the answer rows of questions 1..COUNT of
//                                        one run and writes a choice into each
//   pg-child URL edit TESTEE TEXT MS     edits a testee's surname, holding the edit MS ms
//   pg-child URL tables 0 0              makes the optional tables (sessions, codes, norms)
// Prints "ok" or the error and exits 0 or 1.
#include "Errors.h"
#include "PgStore.h"
#include "data/Schema.h"
#include "dataset/Aliases.h"
#include "dataset/Table.h"

#include <QCoreApplication>
#include <QThread>
#include <cstdio>

using db::Variant;

namespace {
void openTable(db::Table& t, const char* file) {
    t.setDatabaseName(QStringLiteral("morv"));
    t.setTableName(QString::fromLatin1(file));
    t.open();
}

void registerTestees(int org, int count) {
    db::Table anket;
    anket.setUniqueNumber(QStringLiteral("NOMTESTIR"), QStringLiteral("NOMU"));
    openTable(anket, "bd_anket.dbf");
    for (int i = 0; i < count; ++i) {
        anket.append();
        anket.setFields({1.0, double(org), QStringLiteral("P%1").arg(QCoreApplication::applicationPid())});
        anket.post();
    }
}

void answer(int testee, int count) {
    db::Table rezult;
    openTable(rezult, "bd_rezult.dbf");
    const int choice = int(QCoreApplication::applicationPid() % 5) + 1;
    for (int q = 1; q <= count; ++q) {
        const std::vector<Variant> key = {1, testee, 1, q};
        const db::RowId row = rezult.findOrAppendStored(QStringLiteral("NOMU;NOMTESTIR;NOMTESTA;NOMVOPR"),
                                                        key, {1, testee, QDate(2026, 1, 1), 1, q, Variant()});
        rezult.writeStored(row, rezult.fieldByName(QStringLiteral("OTVET")), choice);
    }
}

void edit(int testee, const QString& text, int holdMs) {
    db::Table anket;
    openTable(anket, "bd_anket.dbf");
    if (!anket.locate(QStringLiteral("NOMTESTIR"), {testee}))
        throw db::DatabaseError(QStringLiteral("no such testee"));
    anket.edit();
    std::puts("editing");
    std::fflush(stdout);
    anket.fieldByName(QStringLiteral("FAMTESTIR"))->setValue(text);
    QThread::msleep(holdMs);
    anket.post();
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    try {
        if (a.size() < 5)
            throw db::DatabaseError(QStringLiteral("usage: pg-child URL register|answer|edit ..."));
        pg::PgStore::registerScheme();
        db::Aliases::bind(QStringLiteral("morv"), a[1]);
        if (a[2] == QLatin1String("register")) registerTestees(a[3].toInt(), a[4].toInt());
        if (a[2] == QLatin1String("answer")) answer(a[3].toInt(), a[4].toInt());
        if (a[2] == QLatin1String("edit") && a.size() > 5) edit(a[3].toInt(), a[4], a[5].toInt());
        if (a[2] == QLatin1String("tables"))
            for (const schema::TableDef* def :
                 {&schema::sessionsTable(), &schema::codesTable(), &schema::norms()})
                schema::ensureTable(a[1], *def);
        std::puts("ok");
        return 0;
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
        return 1;
    }
}
