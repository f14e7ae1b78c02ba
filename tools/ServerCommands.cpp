#include "ServerCommands.h"

#include "Errors.h"
#include "PgConnection.h"
#include "PgSchema.h"
#include "PgStore.h"
#include "PgUpgrade.h"
#include "SampleData.h"
#include "data/Schema.h"
#include "dataset/Aliases.h"
#include "dataset/RecordStore.h"
#include "dataset/ServerTables.h"
#include "dataset/Table.h"
#include "dbf/DbfFile.h"
#include "dbf/Os.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <QRegularExpression>
#include <QSet>
#include <QUrl>
#include <cstdio>
#include <fcntl.h>
#include <optional>

namespace server {

namespace {
void say(const QString& line) {
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stdout);
}

// Makes the program's tables, refusing a database that holds any of them unless forced.
void makeTables(const QString& url, bool force, bool keys = true) {
    const QStringList existing = pg::existingTables(url);
    if (!existing.isEmpty() && !force) {
        if (const QString lacks = pg::incompleteDatabase(url, existing); !lacks.isEmpty())
            throw db::DatabaseError(
                QStringLiteral("%1; --force would replace %2 with empty ones and lose their rows")
                    .arg(lacks, existing.join(QLatin1String(", "))));
        throw db::DatabaseError(
            QStringLiteral("%1 already holds the program's tables (%2); --force replaces them")
                .arg(pg::Connection::safeUrl(url), existing.join(QLatin1String(", "))));
    }
    pg::createDatabase(url, force, keys);
}

int create(const QString& url, bool force, bool withSample) {
    makeTables(url, force);
    if (withSample) {
        sample::fill(url);
        say(QStringLiteral("Sample database written to %1").arg(pg::Connection::safeUrl(url)));
    } else {
        sample::fillDictionaries(url);
        say(QStringLiteral("Created the program's tables with the standard dictionaries in %1")
                .arg(pg::Connection::safeUrl(url)));
    }
    return 0;
}

int alias(const QString& name, const QString& url) {
    if (name.isEmpty() || name.contains(QRegularExpression(QStringLiteral("[^A-Za-z0-9_]")))) {
        std::fputs("alias name may hold only Latin letters, digits and _\n", stderr);
        return 2;
    }
    if (!QUrl(url).password().isEmpty()) {
        // The configuration file is no place for a password: ~/.pgpass is.
        std::fputs("the URL holds a password: put it in ~/.pgpass (or let the program ask) and give the URL "
                   "without it\n",
                   stderr);
        return 2;
    }
    const QStringList existing = pg::existingTables(url); // also proves the server lets us in
    const QString lacks = pg::incompleteDatabase(url, existing);
    if (!lacks.isEmpty()) std::fputs(QStringLiteral("warning: %1\n").arg(lacks).toUtf8().constData(), stderr);
    if (lacks.isEmpty() && !pg::tablesWithoutNotice(url).isEmpty())
        std::fputs(
            QStringLiteral("warning: %1 was made by an older program: the workstations' lists will not "
                           "show each other's changes by themselves until 'morv-db upgrade %1'\n")
                .arg(pg::Connection::safeUrl(url))
                .toUtf8()
                .constData(),
            stderr);
    say(db::Aliases::store(name, url));
    say(QStringLiteral("  [%1] path=%2").arg(name, url));
    return 0;
}
} // namespace

namespace {
// Opens one table of a folder or server database for the copy.
void openFor(db::Table& t, const QString& where, const QString& alias, const char* file) {
    if (db::isServerLocation(where)) {
        db::Aliases::bind(alias, where);
        t.setDatabaseName(alias);
        t.setTableName(QString::fromLatin1(file));
    } else {
        t.setTableName(QDir(where).filePath(QString::fromLatin1(file)));
    }
    t.open();
    if (t.file()) t.file()->setDurable(false); // a new folder is synced once it is whole
}

std::vector<const schema::TableDef*> tenTables() {
    std::vector<const schema::TableDef*> out;
    for (const auto& def : schema::tables())
        out.push_back(&def);
    return out;
}

using pg::optionalTables;

// Copies every row of the given tables, every field by name.
qint64 copyTables(const QString& src, const QString& dst, const std::vector<const schema::TableDef*>& defs) {
    qint64 rows = 0;
    for (const schema::TableDef* t : defs) {
        const schema::TableDef& def = *t;
        db::Table from, to;
        openFor(from, src, QStringLiteral("morv_migrate_from"), def.file);
        openFor(to, dst, QStringLiteral("morv_migrate_to"), def.file);
        std::vector<const db::Field*> source;
        for (const db::Field* f : to.fields())
            source.push_back(from.fieldByName(f->fieldName()));
        int r = 0;
        if (db::isServerLocation(src)) {
            // Out of a server in a few large batches, rather than a view's pages.
            std::vector<int> columns;
            std::vector<db::FieldKind> kinds;
            for (const db::Field* f : source) {
                columns.push_back(f && !f->isLookup() ? f->column() : -1);
                kinds.push_back(f ? f->kind() : db::FieldKind::String);
            }
            const std::unique_ptr<db::RowStream> rows = from.store()->stream(columns, kinds);
            to.store()->appendAll([&](std::vector<db::ColumnValue>& row) {
                if (!rows->next()) return false;
                for (size_t c = 0; c < source.size(); ++c) {
                    const db::Field* f = to.fields()[qsizetype(c)];
                    row.push_back({f->column(), f->fieldName(), f->convert(rows->value(c))});
                }
                ++r;
                return true;
            });
        } else {
            const int count = from.recordCount();
            // One stream into the store: COPY for a server.
            to.store()->appendAll([&](std::vector<db::ColumnValue>& row) {
                if (r >= count) return false;
                for (size_t c = 0; c < source.size(); ++c) {
                    const db::Field* f = to.fields()[qsizetype(c)];
                    row.push_back({f->column(), f->fieldName(), f->convert(from.valueAt(r, source[c]))});
                }
                ++r;
                return true;
            });
        }
        rows += r;
        // No refresh of the view: it would read a million-row table whole, for nothing.
        if (to.file()) to.file()->setDurable(true);
    }
    return rows;
}

// The statistics window's default queries read bd_stat, a table the program itself never
// writes: carried both ways with the fields it has.
const char kStatFile[] = "bd_stat.dbf";

QString tableKey(const QString& name) {
    return QFileInfo(name).completeBaseName().toLower();
}

// The tables of a folder or server database that a migration does not carry, by name.
QStringList leftBehind(const QString& where) {
    QSet<QString> carried{tableKey(QLatin1String(kStatFile))};
    for (const schema::TableDef* def : tenTables())
        carried << tableKey(QLatin1String(def->file));
    for (const schema::TableDef* def : optionalTables())
        carried << tableKey(QLatin1String(def->file));
    const QStringList names = db::isServerLocation(where)
                                  ? db::serverTables(where)
                                  : QDir(where).entryList({QStringLiteral("*.dbf"), QStringLiteral("*.DBF")},
                                                          QDir::Files, QDir::Name);
    QStringList out;
    for (const QString& n : names)
        if (!carried.contains(tableKey(n)) && !out.contains(n)) out << n;
    return out;
}

void warnLeftBehind(const QString& where) {
    const QStringList left = leftBehind(where);
    if (left.isEmpty()) return;
    std::fputs(QStringLiteral("warning: left behind in %1, not being tables of the program: %2\n")
                   .arg(db::isServerLocation(where) ? pg::Connection::safeUrl(where) : where,
                        left.join(QLatin1String(", ")))
                   .toUtf8()
                   .constData(),
               stderr);
}

// bd_stat of a folder with the fields its file has, when the folder holds one.
std::optional<schema::TableDef> statOfFolder(const QString& dir) {
    for (const QString& f : QDir(dir).entryList(QDir::Files))
        if (f.compare(QLatin1String(kStatFile), Qt::CaseInsensitive) == 0)
            return schema::TableDef{
                kStatFile, dbf::DbfFile::open(QDir(dir).filePath(f).toStdString(), true)->fields(), {}};
    return std::nullopt;
}

void syncFolder(const QString& dir) {
    for (const QString& f : QDir(dir).entryList(QDir::Files)) {
        const int fd = dbf::os::open(QDir(dir).filePath(f).toStdString(), O_RDWR);
        if (fd < 0) continue;
        dbf::os::sync(fd);
        dbf::os::close(fd);
    }
}

// A server into a new folder: made beside it under another name and renamed into place whole.
int migrateToFolder(const QString& url, const QString& dir) {
    if (QFileInfo::exists(dir))
        throw db::DatabaseError(QStringLiteral("%1 exists: migrate makes a new folder").arg(dir));
    const QString parent = QFileInfo(dir).absolutePath();
    QTemporaryDir tmp(parent + QStringLiteral("/.morv-migrate-XXXXXX"));
    if (!tmp.isValid()) throw db::DatabaseError(QStringLiteral("Cannot create a folder in %1").arg(parent));
    schema::createDatabase(tmp.path(), false);
    std::vector<const schema::TableDef*> defs = tenTables(), optional;
    for (const schema::TableDef* def : optionalTables())
        if (schema::hasTable(url, *def)) {
            dbf::DbfFile::create(QDir(tmp.path()).filePath(QLatin1String(def->file)).toStdString(),
                                 def->fields);
            optional.push_back(def);
        }
    qint64 rows = copyTables(url, tmp.path(), defs) + copyTables(url, tmp.path(), optional);
    if (db::serverTables(url).contains(tableKey(QLatin1String(kStatFile)))) {
        const schema::TableDef stat{kStatFile, pg::fieldsOf(url, tableKey(QLatin1String(kStatFile))), {}};
        dbf::DbfFile::create(QDir(tmp.path()).filePath(QLatin1String(kStatFile)).toStdString(), stat.fields);
        rows += copyTables(url, tmp.path(), {&stat});
    }
    schema::createIndexes(tmp.path());
    for (const schema::TableDef* def : optional) // the production index the program makes for it
        dbf::DbfFile::createIndex(QDir(tmp.path()).filePath(QLatin1String(def->file)).toStdString(),
                                  def->tags);
    syncFolder(tmp.path());
    if (!QDir().rename(tmp.path(), dir))
        throw db::DatabaseError(QStringLiteral("Cannot rename %1 to %2").arg(tmp.path(), dir));
    tmp.setAutoRemove(false);
    say(QStringLiteral("%1 rows copied from %2 into %3").arg(rows).arg(pg::Connection::safeUrl(url), dir));
    warnLeftBehind(url);
    return 0;
}

} // namespace

// A folder into a server database: the tables made and filled in one transaction.
int migrateToServer(const QString& dir, const QString& url, bool force) {
    for (const auto& def : schema::tables())
        if (!QFileInfo::exists(QDir(dir).filePath(QString::fromLatin1(def.file))) &&
            !QDir(dir).entryList({QString::fromLatin1(def.file)}, QDir::Files).size())
            throw db::DatabaseError(
                QStringLiteral("%1 lacks the table %2").arg(dir, QString::fromLatin1(def.file)));
    std::vector<const schema::TableDef*> optional;
    for (const schema::TableDef* def : optionalTables())
        if (schema::hasTable(dir, *def)) optional.push_back(def);
    const std::optional<schema::TableDef> stat = statOfFolder(dir);
    qint64 rows = 0;
    pg::Connection::shared(url)->transaction([&] {
        makeTables(url, force, false);
        for (const schema::TableDef* def : optionalTables())
            pg::dropOptionalTable(url, *def, force);
        rows = copyTables(dir, url, tenTables());
        pg::createKeys(url); // a folder whose numbers clash fails here, and nothing is stored
        // Made with their keys first: small tables, and a clash names the table it is in. All of
        // them, so that none is made later by whichever role needs it first.
        for (const schema::TableDef* def : optionalTables())
            pg::ensureTable(url, *def);
        rows += copyTables(dir, url, optional);
        if (stat) {
            pg::createPlainTable(url, *stat, force);
            rows += copyTables(dir, url, {&*stat});
        }
    });
    say(QStringLiteral("%1 rows copied from %2 into %3").arg(rows).arg(dir, pg::Connection::safeUrl(url)));
    warnLeftBehind(dir);
    return 0;
}

int dispatch(const QString& command, const QStringList& args) {
    QStringList plain = args;
    const bool force = plain.removeAll(QStringLiteral("--force")) > 0;
    if (command == QLatin1String("alias") && plain.size() == 2 && db::isServerLocation(plain[1])) {
        pg::PgStore::registerScheme();
        return alias(plain[0], plain[1]);
    }
    if ((command == QLatin1String("create") || command == QLatin1String("sample")) && plain.size() == 1 &&
        db::isServerLocation(plain[0])) {
        pg::PgStore::registerScheme();
        return create(plain[0], force, command == QLatin1String("sample"));
    }
    if (command == QLatin1String("migrate")) {
        if (plain.size() != 2) {
            std::fputs("migrate needs SRC and DST: a folder and a postgresql:// URL, either way\n", stderr);
            return 2;
        }
        pg::PgStore::registerScheme();
        QElapsedTimer clock;
        clock.start();
        int status = 0;
        if (db::isServerLocation(plain[1]) && !db::isServerLocation(plain[0]))
            status = migrateToServer(plain[0], plain[1], force);
        else if (db::isServerLocation(plain[0]) && !db::isServerLocation(plain[1]))
            status = migrateToFolder(plain[0], plain[1]);
        else {
            std::fputs(
                "migrate copies a folder into a server database or a server database into a new folder\n",
                stderr);
            return 2;
        }
        say(QStringLiteral("in %1 s").arg(double(clock.nsecsElapsed()) / 1e9, 0, 'f', 2));
        return status;
    }
    return -1;
}

} // namespace server
