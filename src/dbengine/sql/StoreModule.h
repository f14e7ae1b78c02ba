#pragma once
#include <sqlite3.h>

namespace db::sql {

// Registers the read-only module "store" on a connection, for the tables of a server database:
//   CREATE VIRTUAL TABLE temp."name" USING store('postgresql://...', 'name')
// A scan reads the table's rows through its record store as they are when the scan starts, so
// a statistics query means the same over a server as over a folder.
int registerStoreModule(sqlite3* db);

} // namespace db::sql
