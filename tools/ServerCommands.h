#pragma once
#include <QString>
#include <QStringList>

namespace server {

// morv-db's commands whose database is a PostgreSQL server (postgresql://...): create, sample,
// alias and migrate. Returns the exit status, or -1 when the command names no server and the
// folder commands should run.
int dispatch(const QString& command, const QStringList& args);

// Copies a dBASE folder into a server database in one transaction (migrate DIR URL).
int migrateToServer(const QString& dir, const QString& url, bool force);

} // namespace server
