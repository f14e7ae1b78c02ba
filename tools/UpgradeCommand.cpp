// morv-db upgrade: what a server database made by an older program lacks, added by its owner in
// one transaction, so that the workstations see each other's changes by themselves and every
// psychologist's role reaches the optional tables.
#include "UpgradeCommand.h"

#include "Errors.h"
#include "PgConnection.h"
#include "PgStore.h"
#include "PgUpgrade.h"
#include "dataset/RecordStore.h"

#include <cstdio>

namespace {
void say(std::FILE* to, const QString& line) {
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), to);
}
} // namespace

int upgradeCommand(const QStringList& args) {
    if (args.size() != 1 || !db::isServerLocation(args[0])) {
        say(stderr, QStringLiteral("morv-db: usage: morv-db upgrade postgresql://USER@HOST/DBNAME"));
        return 2;
    }
    pg::PgStore::registerScheme();
    const QString url = args[0], shown = pg::Connection::safeUrl(url);
    pg::UpgradeReport report;
    try {
        report = pg::upgradeDatabase(url);
    } catch (const db::EngineError& e) {
        say(stderr, QStringLiteral("morv-db: %1 was not changed: %2").arg(shown, e.message()));
        return 1;
    }
    if (report.added.isEmpty()) say(stdout, QStringLiteral("%1: nothing to do").arg(shown));
    for (const QString& line : report.added)
        say(stdout, QStringLiteral("added %1").arg(line));
    for (const QString& line : report.warnings)
        say(stderr, QStringLiteral("warning: %1").arg(line));
    return 0;
}
