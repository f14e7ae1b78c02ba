#pragma once
#include <sqlite3.h>

namespace db::sql {

// Registers the read-only module "dbf" on a connection:
//   CREATE VIRTUAL TABLE temp."name" USING dbf('/path/to/table.dbf')
// The table shares the program's DbfFile object and sees records appended up to the moment a scan starts.
int registerDbfModule(sqlite3* db);

} // namespace db::sql
