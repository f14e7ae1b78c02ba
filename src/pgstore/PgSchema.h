#pragma once
#include <QList>
#include <QString>
#include <QStringList>
#include <vector>

namespace schema {
struct TableDef;
}
namespace dbf {
struct FieldDef;
}

namespace pg {

class Connection;

// The program's ten tables in a PostgreSQL database: the dBASE fields' names in lower case, a
// serial row id, an index for each production-index tag, and the unique keys the program keeps
// (institution numbers, testee numbers within an institution, one answer row per question).
// One transaction (joining the caller's on the shared connection): a failure leaves the
// database as it was. force drops the tables first. Without keys, only the tables: filled by a
// bulk copy, they get their indexes and unique keys afterwards from createKeys, which is quicker.
// With keys, the optional tables (sessions, codes, norms) are made too, so that they belong to
// whoever made the ten and are never made on first use by a psychologist's role.
void createDatabase(const QString& url, bool force = false, bool keys = true);
void createKeys(const QString& url);
// The program's tables the database already holds.
QStringList existingTables(const QString& url);
// Of the ten, those existing lacks.
QStringList missingTables(const QStringList& existing);
// What to tell of a database that lacks some of the ten (existing being those it holds): the
// missing tables by name and the remedy that keeps the rows of the others. Empty when it holds
// all ten.
QString incompleteDatabase(const QString& url, const QStringList& existing);
// Makes an optional table (sessions, codes, norms) with its indexes and keys when the database
// lacks it, granted to the roles the ten tables are granted to; two workstations making it at
// once end with one.
void ensureTable(const QString& url, const schema::TableDef& def);
// Clears the way for a copy of the optional table def: a database holding it is refused unless
// forced, and then it is dropped.
void dropOptionalTable(const QString& url, const schema::TableDef& def, bool force);
// A table of a folder beyond the program's (bd_stat, which the statistics window's default
// queries read), made on the server with the fields of its file, granted as the ten are; a
// database holding one of that name is refused unless forced, and then it is dropped.
void createPlainTable(const QString& url, const schema::TableDef& def, bool force);
// The fields a server table's columns stand for, as a dBASE file holds them.
std::vector<dbf::FieldDef> fieldsOf(const QString& url, const QString& table);

// The CREATE statements, for the administrators' notes and the tests.
QStringList createStatements();

// The tables made on first use: a database made by an older program may lack any of them.
std::vector<const schema::TableDef*> optionalTables();
// A table's name on the server.
QString tableName(const schema::TableDef& def);

// One object of a table the program relies on, and the statement that makes it.
struct SchemaObject {
    enum Kind { Table, Index, Unique, Function, Trigger } kind;
    QString table;
    QString name;
    QString sql;
};
// Those of one table: the table itself, its indexes, its unique keys and, for every table but
// the answers, the trigger that tells other workstations of a change.
QList<SchemaObject> schemaObjects(const schema::TableDef& def);
// The function those triggers call.
SchemaObject notifyFunction();
// True when the database holds o (a table: a real table, not a view of that name).
bool holds(Connection& c, const SchemaObject& o);
// Makes and changes of the schema take turns, within the caller's transaction.
void lockSchema(Connection& c);

} // namespace pg
