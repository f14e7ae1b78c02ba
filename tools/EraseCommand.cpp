// morv-db erase: a testee's data removed for good, for requests that arrive by letter.
#include "EraseCommand.h"

#include "PgConnection.h"
#include "PgStore.h"
#include "data/Erasure.h"
#include "dataset/RecordStore.h"

#include <QDir>
#include <cstdio>
#include <exception>

namespace {

void print(FILE* to, const QString& line) {
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), to);
}

int usage(const QString& why) {
    print(stderr, QStringLiteral("morv-db: %1").arg(why));
    print(stderr,
          QStringLiteral("morv-db: usage: morv-db erase DIR|URL --org N --testee N, or erase DIR --finish"));
    return 2;
}

// An erasure a crash stopped, finished (or undone) now rather than at the program's next start.
int finish(const QString& dir) {
    const QString done = schema::finishErasure(dir);
    print(stdout, done.isEmpty() ? QStringLiteral("%1: no unfinished erasure").arg(dir)
                                 : QStringLiteral("%1: %2").arg(dir, done));
    return done.contains(QLatin1String("could not")) ? 1 : 0;
}

} // namespace

int eraseCommand(const QStringList& args) {
    QString dir;
    int org = -1, testee = -1;
    bool finishOnly = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--org") || a == QLatin1String("--testee")) {
            bool ok = false;
            const int v = i + 1 < args.size() ? args[++i].toInt(&ok) : 0;
            if (!ok || v < 0) return usage(QStringLiteral("%1 needs a whole number").arg(a));
            (a == QLatin1String("--org") ? org : testee) = v;
        } else if (a == QLatin1String("--finish")) {
            finishOnly = true;
        } else if (a.startsWith(QLatin1Char('-')) || !dir.isEmpty()) {
            return usage(QStringLiteral("unexpected '%1' for erase").arg(a));
        } else {
            dir = a;
        }
    }
    const bool server = db::isServerLocation(dir);
    if (finishOnly && (dir.isEmpty() || server || org >= 0 || testee >= 0))
        return usage(QStringLiteral("erase --finish takes only a database folder"));
    if (!finishOnly && (dir.isEmpty() || org < 0 || testee < 0))
        return usage(QStringLiteral("erase needs DIR, --org and --testee"));
    if (!server && !QDir(dir).exists()) {
        print(stderr, QStringLiteral("morv-db: %1 is not a directory").arg(dir));
        return 1;
    }
    if (server) pg::PgStore::registerScheme();
    const QString shown = server ? pg::Connection::safeUrl(dir) : dir;
    try {
        if (finishOnly) return finish(dir);
        const schema::ErasureDone done = schema::eraseTestee(dir, org, testee);
        if (done.rows.total() == 0) {
            print(stdout, QStringLiteral("Institution %1 has no testee %2 and no rows of one: nothing erased")
                              .arg(org)
                              .arg(testee));
            return 1;
        }
        print(stdout, QStringLiteral("Erased institution %1 testee %2 in %3: %4")
                          .arg(org)
                          .arg(testee)
                          .arg(shown, done.rows.summary()));
        if (!done.logError.isEmpty()) {
            print(stderr, QStringLiteral("morv-db: %1").arg(done.logError));
            return 1;
        }
        return 0;
    } catch (const std::exception& e) {
        print(stderr, QStringLiteral("morv-db: %1").arg(QString::fromUtf8(e.what())));
        return 1;
    }
}
