#include "ServerLarge.h"

#include "Errors.h"
#include "PgStore.h"
#include "ServerCommands.h"
#include "data/Schema.h"

#include <QTemporaryDir>

namespace server {

int large(const QString& url, const large::Options& o, bool force) {
    pg::PgStore::registerScheme();
    QTemporaryDir tmp;
    if (!tmp.isValid()) throw db::DatabaseError(QStringLiteral("Cannot create a temporary folder"));
    schema::createDatabase(tmp.path(), false);
    large::fill(tmp.path(), o);
    // The copy refuses a database that holds the tables unless forced, and stores all or nothing.
    return migrateToServer(tmp.path(), url, force);
}

} // namespace server
