#pragma once
#include <QString>
#include <QStringList>

namespace schema {
struct TableDef;
}

namespace pg {

// The program's ten tables in a PostgreSQL database: the dBASE fields' names in lower case, a
// serial row id, an index for each production-index tag, and the unique keys the program keeps
// (institution numbers, testee numbers within an institution, one answer row per question).
// One transaction (joining the caller's on the shared connection): a failure leaves the
// database as it was. force drops the tables first. Without keys, only the tables: filled by a
// bulk copy, they get their indexes and unique keys afterwards from createKeys, which is quicker.
void createDatabase(const QString& url, bool force = false, bool keys = true);
void createKeys(const QString& url);
// The program's tables the database already holds.
QStringList existingTables(const QString& url);
// Makes an optional table (sessions, codes, norms) with its indexes and keys when the database
// lacks it; two workstations making it at once end with one.
void ensureTable(const QString& url, const schema::TableDef& def);
// Clears the way for a copy of the optional table def: a database holding it is refused unless
// forced, and then it is dropped.
void dropOptionalTable(const QString& url, const schema::TableDef& def, bool force);
// The CREATE statements, for the administrators' notes and the tests.
QStringList createStatements();

} // namespace pg
