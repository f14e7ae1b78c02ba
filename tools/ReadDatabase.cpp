#include "ReadDatabase.h"

#include "Errors.h"
#include "PgStore.h"
#include "dataset/RecordStore.h"

#include <QFileInfo>

QString readableDatabase(const QString& where) {
    if (db::isServerLocation(where)) {
        pg::PgStore::registerScheme();
        return where;
    }
    if (!QFileInfo(where).isDir())
        throw db::DatabaseError(QStringLiteral("Directory %1 does not exist").arg(where));
    return where;
}
