// morv-db test-export and test-import: one test of the catalogue as one file.
#include "ExchangeCommands.h"

#include "ReadDatabase.h"
#include "exchange/Catalogue.h"
#include "exchange/Checks.h"
#include "exchange/Foreign.h"
#include "exchange/ReproSchema.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cstdio>

const char kExchangeUsage[] = R"(  test-export DIR --test N --output FILE
                         write test N (questions, answer sets, points, key, levels with
                         their texts, norms, licence) as one UTF-8 JSON file with a
                         checksum; the file is replaced only when written completely.
                         A test whose licence forbids passing it on is refused
                         unless --structure-only is given (texts and points left out)
  test-import DIR FILE [--as-new] [--from redcap|table|reproschema [--form NAME]
                         [--name NAME]]
                         check FILE whole, then add its test to DIR under the next free
                         test number (answer sets renumbered where their numbers are
                         taken) in one step: on any failure the tables stay as they
                         were. A test of the same name is refused unless --as-new.
                         --from redcap reads a REDCap data dictionary (CSV; --form
                         picks the instrument), --from table a spreadsheet saved as CSV
                         (UTF-8 or Windows-1251, ';' or ','): question; criterion;
                         then option; points pairs, named by --name; --from
                         reproschema an activity's JSON-LD schema, its item files read
                         from its folder (never fetched). What could not be carried
                         over is listed, each line naming its field.
                         DIR may be a postgresql:// URL for both
)";

namespace {

void print(FILE* to, const QString& line) {
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), to);
}

int usage(const QString& why) {
    print(stderr, QStringLiteral("morv-db: %1").arg(why));
    print(stderr, QStringLiteral("morv-db: usage: morv-db test-export DIR --test N --output FILE "
                                 "[--structure-only]; morv-db test-import DIR FILE [--as-new]"));
    return 2;
}

} // namespace

int testExportCommand(const QStringList& args) {
    QString dir, output;
    int test = -1;
    bool structure = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--test")) {
            bool ok = false;
            test = i + 1 < args.size() ? args[++i].toInt(&ok) : 0;
            if (!ok || test < 1) return usage(QStringLiteral("--test needs a test number"));
        } else if (a == QLatin1String("--output")) {
            if (i + 1 >= args.size()) return usage(QStringLiteral("--output needs a file"));
            output = args[++i];
        } else if (a == QLatin1String("--structure-only")) {
            structure = true;
        } else if (a.startsWith(QLatin1Char('-')) || !dir.isEmpty()) {
            return usage(QStringLiteral("unexpected '%1' for test-export").arg(a));
        } else {
            dir = a;
        }
    }
    if (dir.isEmpty() || test < 1 || output.isEmpty())
        return usage(QStringLiteral("test-export needs DIR, --test and --output"));
    exchange::TestFile t = exchange::readTest(readableDatabase(dir), test);
    if (t.licence && t.licence->noPassingOn && !structure)
        throw exchange::ExchangeError(QStringLiteral("the licence of test %1 forbids passing it on (%2); "
                                                     "--structure-only writes it without texts and points")
                                          .arg(test)
                                          .arg(t.licence->terms));
    if (structure) t = exchange::structureOnly(std::move(t));
    // Written all the same, as stored; whoever receives it should not be the first to learn.
    try {
        exchange::check(t);
    } catch (const exchange::ExchangeError& e) {
        print(
            stderr,
            QStringLiteral("morv-db: warning: an import of this file will be refused: %1").arg(e.message()));
    }
    QSaveFile file(output);
    const QByteArray bytes = exchange::write(t);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw exchange::ExchangeError(QStringLiteral("cannot write %1: %2").arg(output, file.errorString()));
    print(stdout, QStringLiteral("%1: test %2 «%3», %4 questions, %5 answer sets, %6 criteria")
                      .arg(output)
                      .arg(test)
                      .arg(t.name)
                      .arg(t.questions.size())
                      .arg(t.answerSets.size())
                      .arg(t.criteria.size()));
    return 0;
}

int testImportCommand(const QStringList& args) {
    QStringList plain;
    QString from, form, name;
    bool asNew = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--as-new"))
            asNew = true;
        else if ((a == QLatin1String("--from") || a == QLatin1String("--form") ||
                  a == QLatin1String("--name")) &&
                 i + 1 < args.size())
            (a == QLatin1String("--from") ? from : a == QLatin1String("--form") ? form : name) = args[++i];
        else if (a.startsWith(QLatin1Char('-')))
            return usage(QStringLiteral("unexpected '%1' for test-import").arg(a));
        else
            plain << a;
    }
    if (plain.size() != 2) return usage(QStringLiteral("test-import needs DIR and FILE"));
    if (!from.isEmpty() && from != QLatin1String("redcap") && from != QLatin1String("table") &&
        from != QLatin1String("reproschema"))
        return usage(QStringLiteral("--from takes redcap, table or reproschema"));
    QFile file(plain[1]);
    if (!file.open(QIODevice::ReadOnly))
        throw exchange::ExchangeError(QStringLiteral("cannot read %1: %2").arg(plain[1], file.errorString()));
    if (file.size() > exchange::kMaxFileBytes)
        throw exchange::ExchangeError(QStringLiteral("%1: файл больше %2 МБ: это не файл теста")
                                          .arg(plain[1])
                                          .arg(exchange::kMaxFileBytes / (1024 * 1024)));
    exchange::TestFile t;
    QStringList report;
    try {
        if (from.isEmpty()) {
            t = exchange::read(file.readAll());
        } else {
            exchange::Brought b =
                from == QLatin1String("reproschema") ? exchange::fromReproSchema(plain[1])
                : from == QLatin1String("redcap")
                    ? exchange::fromRedcap(file.readAll(), form)
                    : exchange::fromSpreadsheet(
                          file.readAll(), name.isEmpty() ? QFileInfo(plain[1]).completeBaseName() : name);
            t = std::move(b.test);
            report = b.report;
        }
    } catch (const exchange::ExchangeError& e) {
        throw exchange::ExchangeError(QStringLiteral("%1: %2").arg(plain[1], e.message()));
    }
    const exchange::Imported done = exchange::importTest(readableDatabase(plain[0]), t, asNew);
    print(stdout, QStringLiteral("%1: test «%2» imported as test %3").arg(plain[0], t.name).arg(done.number));
    for (const QString& line : report)
        print(stdout, QStringLiteral("not carried over: %1").arg(line));
    for (const auto& [from, to] : done.answerSets)
        if (from != to) print(stdout, QStringLiteral("answer set %1 stored as %2").arg(from).arg(to));
    for (const QString& note : done.notes)
        print(stdout, note);
    return 0;
}
