#pragma once
#include "dbf/DbfFile.h"
#include "dbf/Mdx.h"

#include <QString>
#include <functional>
#include <vector>

namespace schema {

// The on-disk layout of one table of the program's database.
struct TableDef {
    const char* file;
    std::vector<dbf::FieldDef> fields;
    std::vector<dbf::TagSpec> tags; // of its production index, none for a table without one
};

// The ten tables, in the order the data module opens them.
const std::vector<TableDef>& tables();
const TableDef* find(const QString& file);

// The optional table of norms (bd_norm): by test, criterion, sex and age band, a mean and
// standard deviation or raw score → percentile rows. Not among tables(): a database without it
// works; it is made on first use.
const TableDef& norms();

// The optional table of each test's licence (bd_licen): who made it, where it was published, its
// terms of use, and whether those terms forbid passing it on (ZAPRET 1). Made on first use.
const TableDef& licenceTable();

// The optional item bank (bd_irt): a row per calibrated question and threshold of a test's
// criterion, with the model, discrimination, difficulty, their standard errors, the points of
// the score levels, and when and from how many runs it was calibrated. Made on first use.
const TableDef& irtBank();

// Makes the optional table def in dir, with its production index, when it is not there, and
// returns its path. It is built in a temporary folder beside it and moved into place (index
// first, table last) under the append lock of bd_test.DBF, so two workstations making it at once
// end with one table and lose nothing.
// On a server database (dir a URL) the table is made there, with its keys, and its name is
// returned: a table of the alias bound to the URL opens it.
QString ensureTable(const QString& dir, const TableDef& def);
// Whether the optional table def is there yet, in a folder or on a server.
bool hasTable(const QString& dir, const TableDef& def);
// How a server database makes an optional table when it lacks it; the library that keeps such
// databases registers it beside its record store.
using ServerTableMaker = std::function<void(const QString& url, const TableDef& def)>;
void registerServerTableMaker(ServerTableMaker maker);

// Creates every table of the database in dir (existing files are replaced), with their
// production indexes unless a bulk load makes them afterwards.
void createDatabase(const QString& dir, bool indexes = true);
// Gives the six indexed tables of dir new production indexes built from their records.
void createIndexes(const QString& dir);

// Optional tables, made on first use; a database without them works as before. Not among
// tables(), which the start and the checks require.
// Browser testing sessions: one row per session (test, institution, group code, open or closed).
const TableDef& sessionsTable();
// The personal codes of a session's testees.
const TableDef& codesTable();
// The device that answers each run of a session now (a mark of its cookie, blank for none), so
// that every test server on the database knows who took over; the row of session 0 holds the
// servers' shared key for cookies and page tokens.
const TableDef& devicesTable();

} // namespace schema
