// morv-db: creates, fills, binds and checks the database of the testing program.

#include "AnalyseCommand.h"
#include "EraseCommand.h"
#include "Errors.h"
#include "ExchangeCommands.h"
#include "IrtCommand.h"
#include "LargeData.h"
#include "PasswordCommand.h"
#include "ReadDatabase.h"
#include "SampleData.h"
#include "ServerCommands.h"
#include "ServerLarge.h"
#include "UpgradeCommand.h"
#include "WebCommands.h"
#include "data/Schema.h"
#include "dataset/Aliases.h"
#include "dataset/RecordStore.h"
#include "dataset/Table.h"
#include "dbf/DbfFile.h"
#include "dbf/Erase.h"
#include "dbf/FileLock.h"
#include "dbf/Os.h"
#include "export/Collect.h"
#include "export/Writers.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <cstdio>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <string_view>

using namespace std::literals;

namespace {

const char kUsage[] = R"(Usage: morv-db COMMAND [ARGUMENTS]

Looks after the database of the program "Психологическое тестирование":
the ten dBASE tables in one directory, reached through the alias morv.

Commands:
  create DIR [--force]   make an empty database (the ten tables) in DIR
  sample DIR [--force]   make the sample database: dictionaries, three institutions
                         with their testees, three tests with keys and interpretations,
                         completed testings with their scores, and bd_stat
  large DIR [--force] [--orgs N] [--testees N] [--tests N] [--questions N]
            [--answers N] [--scores N] [--criteria N]
                         make a large consistent database for benchmarks; defaults:
                         100 institutions, 10000 testees, 50 tests, 200 questions
                         per test, 1000000 answer rows, 100000 score rows,
                         10 criteria per test. Test 1 is the benchmark test.
  large URL [--force] [counts as above]
                         the same rows in a server database (postgresql://...)
  alias NAME DIR         bind the alias NAME (the program uses morv) to DIR in the
                         engine's configuration file and print that file's path
  check DIR              read every table of DIR, every record and field, memo texts
                         included, and every tag of every production index (.MDX),
                         and report each table; also names program tables that are
                         missing and an erasure a crash left unfinished. A table that
                         looks damaged is read again while no program writes to it,
                         so a check during a class reports only damage that stays
  export DIR --test N [--org N] [--answers [--points]] --format sav|xlsx|csv
             [--plain] [--anonymous [--birth-year]] --output FILE
                         write the results of test N for research, one row per tested
                         testee (institution, testee, questionnaire, date of the run):
                         each criterion's score and level, or with --answers each
                         question's chosen option counted from 1 (--points: its
                         points); --org N takes only institution N. CSV is UTF-8 with
                         ';' and a decimal comma for a Russian Excel; --plain writes
                         ',' and a point with the variable names as headings, for R.
                         --anonymous leaves out surname, name and patronymic, with
                         a code institution-testee (CODE) in their place, and the
                         year of birth unless --birth-year is given.
                         The file is replaced only when it was written completely.
                         DIR may be a postgresql:// URL.
  erase DIR --org N --testee N
                         remove every row of testee N of institution N for good (the
                         testee, the answers, the scores, browser codes): the tables
                         are rewritten without them, memo texts zeroed, indexes made
                         anew, all or nothing; a line without the name goes to
                         DIR/erase.log. DIR may be a postgresql:// URL: the rows are
                         deleted in one transaction (no log file there)
  erase DIR --finish     finish now an erasure a crash stopped (the program does it
                         when it next opens DIR)
  password DIR           set the psychologist's password of the tables menu for every
                         workstation on DIR to the line read from standard input
                         (kept as a salted Argon2id hash in DIR/office.pwd)
%s  reindex DIR            rebuild the production index of every table of DIR that has
                         one (and make the program's six anew where missing or
                         unreadable), each under its table's append lock, so no
                         program instance writes meanwhile
  help, --help           show this text

  migrate SRC DST [--force]
                         copy the ten tables of a folder into a PostgreSQL database (in
                         one transaction) or of a PostgreSQL database into a new folder
                         (made beside it and renamed into place when complete)
  upgrade URL            add what a PostgreSQL database made by an older program lacks
                         (change-notice triggers, the optional tables with their keys,
                         the ten tables' grants on them), in one transaction; run it as
                         the owner of the tables

A PostgreSQL database may stand for DIR in create, sample and alias: a URL such as
postgresql://user@host:5432/dbname?sslmode=require. create makes the ten tables with
the standard dictionaries; passwords come from ~/.pgpass (or PGPASSWORD), never from
the alias file.

create, sample and large refuse a directory that already holds any of the program's
tables; --force replaces them (with their memo and index files).

The configuration file is $MORV_ALIASES if set, else
$XDG_CONFIG_HOME/morvanta/aliases.ini (on Windows in the application data folder, morvanta\aliases.ini;
section [NAME], key path).

Exit status: 0 success, 1 failure, 2 bad usage.
)";

// Wrong command line: exit status 2 and a pointer to the help.
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const QString& msg) : std::runtime_error(msg.toStdString()) {}
};

void say(const QString& line) {
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
}

void complain(const QString& line) {
    std::fflush(stdout);
    std::fputs(("morv-db: " + line + '\n').toUtf8().constData(), stderr);
}

struct CommandLine {
    QStringList positional;
    QSet<QString> flags;
    QMap<QString, QString> values;
};

CommandLine parse(const QString& command, const QStringList& args, const QStringList& flags = {},
                  const QStringList& valued = {}) {
    CommandLine cl;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (!a.startsWith(QLatin1Char('-')) || a == QLatin1String("-")) {
            cl.positional << a;
            continue;
        }
        QString name = a.section(QLatin1Char('='), 0, 0);
        if (flags.contains(name) && !a.contains(QLatin1Char('='))) {
            cl.flags.insert(name);
        } else if (valued.contains(name)) {
            if (a.contains(QLatin1Char('=')))
                cl.values[name] = a.section(QLatin1Char('='), 1);
            else if (i + 1 < args.size())
                cl.values[name] = args[++i];
            else
                throw UsageError(QStringLiteral("option %1 needs a value").arg(name));
        } else {
            throw UsageError(QStringLiteral("unknown option '%1' for %2").arg(a, command));
        }
    }
    return cl;
}

void expectArgs(const QString& command, const CommandLine& cl, const QStringList& names) {
    if (cl.positional.size() < names.size())
        throw UsageError(QStringLiteral("%1 needs %2").arg(command, names.join(QLatin1Char(' '))));
    if (cl.positional.size() > names.size())
        throw UsageError(QStringLiteral("%1 takes only %2; unexpected '%3'")
                             .arg(command, names.join(QLatin1Char(' ')), cl.positional[names.size()]));
}

QStringList programTables() {
    QStringList names;
    for (const auto& t : schema::tables())
        names << QLatin1String(t.file);
    return names;
}

QString baseName(const QString& file) {
    return file.left(file.lastIndexOf(QLatin1Char('.')));
}

// Files of dir that belong to the given tables: the tables themselves in any letter case, and
// with companions also their memo and index files.
QStringList filesOf(const QString& dir, const QStringList& tables, bool companions) {
    QStringList found;
    for (const QString& entry : QDir(dir).entryList(QDir::Files, QDir::Name)) {
        for (const QString& t : tables) {
            bool hit = entry.compare(t, Qt::CaseInsensitive) == 0;
            if (!hit && companions) {
                const QString ext = entry.section(QLatin1Char('.'), -1).toLower();
                hit = (ext == QLatin1String("dbt") || ext == QLatin1String("mdx")) &&
                      baseName(entry).compare(baseName(t), Qt::CaseInsensitive) == 0;
            }
            if (hit) {
                found << entry;
                break;
            }
        }
    }
    return found;
}

// Gets dir ready for a new database: refuses to overwrite tables unless forced.
void prepare(const QString& dir, bool force, QStringList tables) {
    QFileInfo fi(dir);
    if (fi.exists() && !fi.isDir()) throw db::DatabaseError(QStringLiteral("%1 is not a directory").arg(dir));
    const QStringList present = filesOf(dir, tables, false);
    if (!present.isEmpty() && !force)
        throw db::DatabaseError(QStringLiteral("%1 already holds %2; use --force to replace them")
                                    .arg(QDir::toNativeSeparators(dir), present.join(QStringLiteral(", "))));
    // A stale memo or index file of another letter case would sit beside the new table.
    for (const QString& f : filesOf(dir, tables, true))
        if (!QFile::remove(QDir(dir).filePath(f)))
            throw db::DatabaseError(QStringLiteral("Cannot remove %1").arg(QDir(dir).filePath(f)));
    if (!QDir().mkpath(dir)) throw db::DatabaseError(QStringLiteral("Cannot create directory %1").arg(dir));
}

// check ------------------------------------------------------------------------------------

struct TableCheck {
    QString file;
    bool missing = false;
    int records = 0;
    uint32_t deleted = 0;
    QStringList problems;
    int moreProblems = 0;
};

void note(TableCheck& c, const QString& problem) {
    if (c.problems.size() < 10)
        c.problems << problem;
    else
        ++c.moreProblems;
}

// What the engine's reads would silently turn into a blank: garbage in a number, date or memo reference.
QString rawProblem(const dbf::DbfFile& f, uint32_t rec, int col) {
    const dbf::FieldDef& d = f.fields()[size_t(col)];
    const std::string_view raw = f.raw(rec, col);
    if (raw.find_first_not_of(" \0"sv) == std::string_view::npos) return {};
    double v;
    switch (d.type) {
    case 'N':
    case 'F':
        if (!dbf::parseNumber(raw, v))
            return QStringLiteral("'%1' is not a number")
                .arg(QString::fromLatin1(raw.data(), qsizetype(raw.size())));
        break;
    case 'D':
        if (!f.readDate(rec, col).isValid())
            return QStringLiteral("'%1' is not a date")
                .arg(QString::fromLatin1(raw.data(), qsizetype(raw.size())));
        break;
    case 'M':
        if (d.length != 4 && !dbf::parseNumber(raw, v))
            return QStringLiteral("'%1' is not a memo block number")
                .arg(QString::fromLatin1(raw.data(), qsizetype(raw.size())));
        break;
    default:
        break;
    }
    return {};
}

// Six tables keep an index with the program's tags, as it made them.
QStringList programIndexProblems(const dbf::DbfFile& f, const schema::TableDef& def) {
    QStringList out;
    if (def.tags.empty()) return out;
    try {
        f.requireProductionIndex();
    } catch (const dbf::DbfError& e) {
        return {QString::fromUtf8(e.what())};
    }
    const QString index = QString::fromStdString(f.productionIndex()->path()).section(QLatin1Char('/'), -1);
    for (const std::string& d : f.productionIndex()->differences(def.tags))
        out << QStringLiteral("index %1: %2; morv-db reindex restores it")
                   .arg(index, QString::fromStdString(d));
    return out;
}

TableCheck readTable(const QString& dir, const QString& file) {
    TableCheck c;
    c.file = file;
    try {
        db::Table t;
        t.setTableName(QDir(dir).filePath(file));
        t.setReadOnly(true); // a check reports, it never changes a file
        t.open();
        const dbf::DbfFile& f = *t.file();
        if (f.strayBytes() > 0)
            note(c, QStringLiteral(
                        "%1 bytes after the last record: a write was cut off; the program removes them "
                        "the next time it opens the table")
                        .arg(f.strayBytes()));
        c.records = t.recordCount();
        c.deleted = f.recordCount() - uint32_t(c.records);
        for (int row = 0; row < c.records; ++row) {
            const uint32_t rec = t.recordNumber(row);
            for (const db::Field* field : t.fields()) {
                try {
                    (void)t.valueAt(row, field);
                    QString p = rawProblem(f, rec, field->column());
                    if (!p.isEmpty())
                        note(c, QStringLiteral("record %1, field %2: %3")
                                    .arg(rec + 1)
                                    .arg(field->fieldName(), p));
                } catch (const db::EngineError& e) {
                    note(c, QStringLiteral("record %1, field %2: %3")
                                .arg(rec + 1)
                                .arg(field->fieldName(), e.message()));
                }
            }
        }
        // Every tag: keys in order, one per record, each its expression's value.
        for (const std::string& fault : t.file()->checkIndex())
            note(c, QStringLiteral("index %1: %2")
                        .arg(QString::fromStdString(dbf::DbfFile::indexPathFor(t.file()->path()))
                                 .section(QLatin1Char('/'), -1),
                             QString::fromStdString(fault)));
        // The program opens its tables by field name: every one of them must be there.
        if (const schema::TableDef* def = schema::find(file)) {
            for (const QString& p : programIndexProblems(f, *def))
                note(c, p);
            for (const auto& want : def->fields) {
                int col = f.fieldIndex(want.name);
                auto numeric = [](char t) { return t == 'N' || t == 'F'; };
                if (col < 0)
                    note(c, QStringLiteral("field %1 is missing").arg(QString::fromStdString(want.name)));
                else if (char have = f.fields()[size_t(col)].type;
                         have != want.type && !(numeric(have) && numeric(want.type)))
                    note(c, QStringLiteral("field %1 has type %2, the program needs %3")
                                .arg(QString::fromStdString(want.name), QChar::fromLatin1(have),
                                     QChar::fromLatin1(want.type)));
            }
        }
    } catch (const std::exception& e) {
        note(c, QString::fromUtf8(e.what()));
    }
    return c;
}

// A writer between its steps (records written before the count, an index change under way)
// looks like damage to a reader that does not wait for it. A table that shows any is read again
// holding a shared append lock, which no writer holds meanwhile: only what stays is reported.
TableCheck checkTable(const QString& dir, const QString& file) {
    TableCheck c = readTable(dir, file);
    if (c.problems.isEmpty()) return c;
    const int fd = dbf::os::open(QDir(dir).filePath(file).toStdString(), O_RDONLY);
    if (fd < 0) return c;
    {
        dbf::FileLock writersWait(fd, dbf::kAppendLockOffset, true);
        c = readTable(dir, file);
    }
    dbf::os::close(fd);
    return c;
}

std::vector<TableCheck> checkDirectory(const QString& dir) {
    std::vector<TableCheck> result;
    QStringList files = QDir(dir).entryList({QStringLiteral("*.dbf"), QStringLiteral("*.DBF")}, QDir::Files);
    files.removeDuplicates();
    std::sort(files.begin(), files.end(),
              [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    for (const QString& f : files)
        result.push_back(checkTable(dir, f));
    for (const QString& t : programTables())
        if (filesOf(dir, {t}, false).isEmpty()) {
            TableCheck missing;
            missing.file = t;
            missing.missing = true;
            result.push_back(missing);
        }
    return result;
}

// Besides the tables, an erasure a crash stopped, still there after they were read (one running
// now is gone by then).
bool report(const std::vector<TableCheck>& checks, const QString& erasure = {}) {
    int failed = 0;
    if (!erasure.isEmpty())
        say(QStringLiteral("%1 FAILED: %2").arg(QLatin1String(dbf::kEraseJournal), -16).arg(erasure));
    for (const TableCheck& c : checks) {
        const QString name = QStringLiteral("%1").arg(c.file, -16);
        if (c.missing) {
            say(name + QStringLiteral(" missing"));
            ++failed;
        } else if (c.problems.isEmpty()) {
            QString line = QStringLiteral("%1 %2 records  ok").arg(name).arg(c.records, 8);
            if (c.deleted) line += QStringLiteral(" (%1 deleted)").arg(c.deleted);
            say(line);
        } else {
            say(QStringLiteral("%1 FAILED: %2").arg(name, c.problems.first()));
            for (qsizetype i = 1; i < c.problems.size(); ++i)
                say(QStringLiteral("    ") + c.problems[i]);
            if (c.moreProblems) say(QStringLiteral("    and %1 more problems").arg(c.moreProblems));
            ++failed;
        }
    }
    if (failed) complain(QStringLiteral("%1 of %2 tables failed the check").arg(failed).arg(checks.size()));
    if (!erasure.isEmpty()) complain(QStringLiteral("an erasure is unfinished"));
    return failed == 0 && erasure.isEmpty();
}

QString existingDirectory(const QString& dir) {
    if (!QFileInfo(dir).isDir())
        throw db::DatabaseError(QStringLiteral("Directory %1 does not exist").arg(dir));
    return dir;
}

// commands ---------------------------------------------------------------------------------

int create(const QStringList& args) {
    CommandLine cl = parse(QStringLiteral("create"), args, {QStringLiteral("--force")});
    expectArgs(QStringLiteral("create"), cl, {QStringLiteral("DIR")});
    const QString dir = cl.positional[0];
    prepare(dir, cl.flags.contains(QStringLiteral("--force")), programTables());
    schema::createDatabase(dir);
    say(QStringLiteral("Created an empty database of %1 tables in %2")
            .arg(schema::tables().size())
            .arg(QDir(dir).absolutePath()));
    return 0;
}

int sampleDb(const QStringList& args) {
    CommandLine cl = parse(QStringLiteral("sample"), args, {QStringLiteral("--force")});
    expectArgs(QStringLiteral("sample"), cl, {QStringLiteral("DIR")});
    const QString dir = cl.positional[0];
    prepare(dir, cl.flags.contains(QStringLiteral("--force")),
            programTables() << QStringLiteral("bd_stat.dbf"));
    schema::createDatabase(dir);
    sample::fill(dir);
    say(QStringLiteral("Sample database written to %1").arg(QDir(dir).absolutePath()));
    return report(checkDirectory(dir)) ? 0 : 1;
}

QString humanSize(qint64 bytes) {
    if (bytes < 1024) return QStringLiteral("%1 B").arg(bytes);
    if (bytes < 1024 * 1024) return QStringLiteral("%1 KB").arg(double(bytes) / 1024, 0, 'f', 1);
    return QStringLiteral("%1 MB").arg(double(bytes) / (1024 * 1024), 0, 'f', 1);
}

int largeDb(const QStringList& args) {
    const QStringList counts = {QStringLiteral("--orgs"),    QStringLiteral("--testees"),
                                QStringLiteral("--tests"),   QStringLiteral("--questions"),
                                QStringLiteral("--answers"), QStringLiteral("--scores"),
                                QStringLiteral("--criteria")};
    CommandLine cl = parse(QStringLiteral("large"), args, {QStringLiteral("--force")}, counts);
    expectArgs(QStringLiteral("large"), cl, {QStringLiteral("DIR")});
    large::Options o;
    int64_t* targets[] = {&o.orgs, &o.testees, &o.tests, &o.questions, &o.answers, &o.scores, &o.criteria};
    for (qsizetype i = 0; i < counts.size(); ++i) {
        if (!cl.values.contains(counts[i])) continue;
        bool ok = false;
        *targets[i] = cl.values[counts[i]].toLongLong(&ok);
        if (!ok)
            throw UsageError(
                QStringLiteral("%1 needs a whole number, not '%2'").arg(counts[i], cl.values[counts[i]]));
    }
    if (QString problem = large::validate(o); !problem.isEmpty()) throw UsageError(problem);

    const QString dir = cl.positional[0];
    if (db::isServerLocation(dir)) return server::large(dir, o, cl.flags.contains(QStringLiteral("--force")));
    prepare(dir, cl.flags.contains(QStringLiteral("--force")), programTables());
    QElapsedTimer clock;
    clock.start();
    schema::createDatabase(dir, false);
    std::vector<large::TableReport> tables = large::fill(dir, o);
    // The indexes are built once from the loaded rows: far cheaper than keeping them per row.
    QElapsedTimer indexClock;
    indexClock.start();
    schema::createIndexes(dir);
    say(QStringLiteral("indexes built in %1 s").arg(double(indexClock.nsecsElapsed()) / 1e9, 0, 'f', 2));
    const double seconds = double(clock.nsecsElapsed()) / 1e9;

    qint64 total = 0;
    for (const auto& t : tables) {
        qint64 size = 0;
        for (const QString& f : filesOf(dir, {t.file}, true))
            size += QFileInfo(QDir(dir).filePath(f)).size();
        total += size;
        say(QStringLiteral("%1 %2 rows %3 %4 s")
                .arg(t.file, -16)
                .arg(t.rows, 9)
                .arg(humanSize(size), 10)
                .arg(t.seconds, 6, 'f', 2));
    }
    say(QStringLiteral("Large database written to %1: %2 in %3 s")
            .arg(QDir(dir).absolutePath(), humanSize(total))
            .arg(seconds, 0, 'f', 2));
    return 0;
}

int alias(const QStringList& args) {
    CommandLine cl = parse(QStringLiteral("alias"), args);
    expectArgs(QStringLiteral("alias"), cl, {QStringLiteral("NAME"), QStringLiteral("DIR")});
    const QString name = cl.positional[0], dir = cl.positional[1];
    if (name.isEmpty() || name.contains(QRegularExpression(QStringLiteral("[^A-Za-z0-9_]"))))
        throw UsageError(
            QStringLiteral("alias name '%1' may hold only Latin letters, digits and _").arg(name));
    existingDirectory(dir);
    QStringList missing;
    for (const QString& t : programTables())
        if (filesOf(dir, {t}, false).isEmpty()) missing << t;
    if (!missing.isEmpty())
        complain(QStringLiteral("warning: %1 lacks %2 of the program's tables (%3)")
                     .arg(dir)
                     .arg(missing.size())
                     .arg(missing.join(QStringLiteral(", "))));
    const QString file = db::Aliases::store(name, dir);
    say(file);
    say(QStringLiteral("  [%1] path=%2").arg(name, QFileInfo(dir).absoluteFilePath()));
    return 0;
}

int reindex(const QStringList& args) {
    CommandLine cl = parse(QStringLiteral("reindex"), args);
    expectArgs(QStringLiteral("reindex"), cl, {QStringLiteral("DIR")});
    const QString dir = existingDirectory(cl.positional[0]);
    QStringList files = QDir(dir).entryList({QStringLiteral("*.dbf"), QStringLiteral("*.DBF")}, QDir::Files);
    files.removeDuplicates();
    int failed = 0;
    QElapsedTimer clock;
    clock.start();
    for (const QString& file : files) {
        const schema::TableDef* def = schema::find(file);
        try {
            std::string done = dbf::DbfFile::reindexFile(QDir(dir).filePath(file).toStdString(),
                                                         def ? def->tags : std::vector<dbf::TagSpec>{});
            say(QStringLiteral("%1 %2").arg(file, -16).arg(QString::fromStdString(done)));
        } catch (const std::exception& e) {
            say(QStringLiteral("%1 FAILED: %2").arg(file, -16).arg(QString::fromUtf8(e.what())));
            ++failed;
        }
    }
    say(QStringLiteral("Reindexed %1 in %2 s")
            .arg(QDir(dir).absolutePath())
            .arg(double(clock.nsecsElapsed()) / 1e9, 0, 'f', 2));
    return failed ? 1 : 0;
}

int check(const QStringList& args) {
    CommandLine cl = parse(QStringLiteral("check"), args);
    expectArgs(QStringLiteral("check"), cl, {QStringLiteral("DIR")});
    const QString dir = existingDirectory(cl.positional[0]);
    const std::string before = dbf::unfinishedErasure(dir.toStdString());
    const std::vector<TableCheck> checks = checkDirectory(dir);
    const std::string after = dbf::unfinishedErasure(dir.toStdString());
    QString erasure;
    if (!after.empty() && after == before)
        erasure = QStringLiteral("%1; the program finishes it when it next opens the folder, or run "
                                 "'morv-db erase %2 --finish' now")
                      .arg(QString::fromStdString(after), dir);
    return report(checks, erasure) ? 0 : 1;
}

int wholeOption(const CommandLine& cl, const QString& name) {
    bool ok = false;
    const int v = cl.values[name].toInt(&ok);
    if (!ok) throw UsageError(QStringLiteral("%1 needs a whole number, not '%2'").arg(name, cl.values[name]));
    return v;
}

int exportDb(const QStringList& args) {
    CommandLine cl =
        parse(QStringLiteral("export"), args,
              {QStringLiteral("--answers"), QStringLiteral("--points"), QStringLiteral("--plain"),
               QStringLiteral("--anonymous"), QStringLiteral("--birth-year")},
              {QStringLiteral("--test"), QStringLiteral("--org"), QStringLiteral("--format"),
               QStringLiteral("--output")});
    expectArgs(QStringLiteral("export"), cl, {QStringLiteral("DIR")});
    for (const char* needed : {"--test", "--format", "--output"})
        if (!cl.values.contains(QLatin1String(needed)))
            throw UsageError(QStringLiteral("export needs %1").arg(QLatin1String(needed)));
    const auto format = exporting::formatNamed(cl.values[QStringLiteral("--format")]);
    if (!format)
        throw UsageError(QStringLiteral("--format must be sav, xlsx or csv, not '%1'")
                             .arg(cl.values[QStringLiteral("--format")]));
    if (cl.flags.contains(QStringLiteral("--points")) && !cl.flags.contains(QStringLiteral("--answers")))
        throw UsageError(QStringLiteral("--points goes with --answers"));
    if (cl.flags.contains(QStringLiteral("--birth-year")) &&
        !cl.flags.contains(QStringLiteral("--anonymous")))
        throw UsageError(QStringLiteral("--birth-year goes with --anonymous"));
    if (cl.flags.contains(QStringLiteral("--plain")) && *format != exporting::Format::Csv)
        throw UsageError(QStringLiteral("--plain is for --format csv"));

    exporting::Request request;
    request.test = wholeOption(cl, QStringLiteral("--test"));
    if (cl.values.contains(QStringLiteral("--org"))) request.org = wholeOption(cl, QStringLiteral("--org"));
    if (cl.flags.contains(QStringLiteral("--answers")))
        request.content = cl.flags.contains(QStringLiteral("--points")) ? exporting::Content::AnswerPoints
                                                                        : exporting::Content::AnswerPositions;
    request.anonymous = cl.flags.contains(QStringLiteral("--anonymous"));
    request.birthYear = cl.flags.contains(QStringLiteral("--birth-year"));
    const QString dir = readableDatabase(cl.positional[0]), output = cl.values[QStringLiteral("--output")];

    QElapsedTimer clock;
    clock.start();
    const exporting::Sheet sheet = exporting::collect(dir, request);
    const double read = double(clock.nsecsElapsed()) / 1e9;
    exporting::write(sheet, *format, output, {!cl.flags.contains(QStringLiteral("--plain"))});
    say(QStringLiteral("%1: %2 rows, %3 columns; read in %4 s, written in %5 s")
            .arg(output)
            .arg(sheet.rows)
            .arg(sheet.columns.size())
            .arg(read, 0, 'f', 2)
            .arg(double(clock.nsecsElapsed()) / 1e9 - read, 0, 'f', 2));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    try {
        if (args.isEmpty()) throw UsageError(QStringLiteral("no command given"));
        const QString command = args.takeFirst();
        if (command == QLatin1String("help") || command == QLatin1String("--help") ||
            command == QLatin1String("-h") || args.contains(QLatin1String("--help")) ||
            args.contains(QLatin1String("-h"))) {
            std::printf(kUsage, (std::string(kAnalyseUsage) + kIrtUsage).c_str());
            std::fputs("\nTests as files:\n", stdout);
            std::fputs(kExchangeUsage, stdout);
            std::fputs("\nBrowser testing:\n", stdout);
            std::fputs(kWebUsage, stdout);
            return 0;
        }
        if (const int status = server::dispatch(command, args); status >= 0) return status;
        if (command == QLatin1String("create")) return create(args);
        if (command == QLatin1String("sample")) return sampleDb(args);
        if (command == QLatin1String("large")) return largeDb(args);
        if (command == QLatin1String("alias")) return alias(args);
        if (command == QLatin1String("check")) return check(args);
        if (command == QLatin1String("export")) return exportDb(args);
        if (command == QLatin1String("reindex")) return reindex(args);
        if (command == QLatin1String("analyse")) return analyseCommand(args);
        if (command == QLatin1String("irt")) return irtCommand(args);
        if (command == QLatin1String("cat-simulate")) return catSimulateCommand(args);
        if (command == QLatin1String("erase")) return eraseCommand(args);
        if (command == QLatin1String("password")) return passwordCommand(args);
        if (command == QLatin1String("serve")) return serveCommand(args);
        if (command == QLatin1String("session")) return sessionCommand(args);
        if (command == QLatin1String("upgrade")) return upgradeCommand(args);
        if (command == QLatin1String("test-export")) return testExportCommand(args);
        if (command == QLatin1String("test-import")) return testImportCommand(args);
        throw UsageError(QStringLiteral("unknown command '%1'").arg(command));
    } catch (const UsageError& e) {
        complain(QString::fromUtf8(e.what()));
        complain(QStringLiteral("run 'morv-db --help' for usage"));
        return 2;
    } catch (const std::exception& e) {
        complain(QString::fromUtf8(e.what()));
        return 1;
    }
}
