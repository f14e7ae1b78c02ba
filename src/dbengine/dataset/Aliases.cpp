#include "Aliases.h"

#include "../Errors.h"
#include "../Fault.h"
#include "../Places.h"
#include "RecordStore.h"
#include "Table.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSettings>
#include <QStandardPaths>

namespace db {

namespace {
QHash<QString, QString>& bound() {
    static QHash<QString, QString> map;
    return map;
}
} // namespace

QString Aliases::configFile() {
    QString env = qEnvironmentVariable("MORV_ALIASES");
    if (!env.isEmpty()) return env;
    return places::userSettings() + QStringLiteral("/morvanta/aliases.ini");
}

void Aliases::bind(const QString& alias, const QString& directory) {
    bound().insert(alias.toLower(), directory);
}

void Aliases::unbind(const QString& alias) {
    bound().remove(alias.toLower());
}

QString Aliases::resolve(const QString& alias) {
    if (isServerLocation(alias)) return alias; // a database given by its address rather than a name
    QString dir = bound().value(alias.toLower());
    QString where = QStringLiteral("bound in the program");
    if (dir.isEmpty()) {
        QString file = configFile();
        where = file;
        if (!QFileInfo::exists(file))
            throw FaultError(
                QStringLiteral("Alias '%1' is not configured: %2 does not exist").arg(alias, file),
                FaultInfo(Fault::Missing, QDir::toNativeSeparators(file), {}, {}, 0));
        QSettings ini(file, QSettings::IniFormat);
        dir = ini.value(alias + QStringLiteral("/path")).toString();
        if (dir.isEmpty())
            throw FaultError(QStringLiteral("Alias '%1' is not configured in %2 (section [%1], key path)")
                                 .arg(alias, file),
                             FaultInfo(Fault::Missing, QDir::toNativeSeparators(file), {}, {}, 0));
    }
    if (isServerLocation(dir)) return dir; // a server: its tables are checked when opened
    if (!QFileInfo(dir).isDir())
        throw FaultError(QStringLiteral("Directory %1 of alias '%2' does not exist (alias from %3)")
                             .arg(dir, alias, where),
                         FaultInfo(Fault::Missing, QDir::toNativeSeparators(dir), {}, {}, 0));
    return dir;
}

QString Aliases::store(const QString& alias, const QString& directory) {
    QString file = configFile();
    QDir().mkpath(QFileInfo(file).absolutePath());
    QSettings ini(file, QSettings::IniFormat);
    ini.setValue(alias + QStringLiteral("/path"),
                 isServerLocation(directory) ? directory : QFileInfo(directory).absoluteFilePath());
    ini.sync();
    if (ini.status() != QSettings::NoError) throw DatabaseError(QStringLiteral("Cannot write %1").arg(file));
    return file;
}

void placeTable(Table& t, const QString& database, const QString& file) {
    if (isServerLocation(database)) {
        t.setDatabaseName(database);
        t.setTableName(file);
    } else {
        t.setTableName(QDir(database).filePath(file));
    }
}

} // namespace db
