#pragma once
#include "dbf/DbfFile.h"

#include <QString>
#include <vector>

namespace schema {

// The on-disk layout of one table of the program's database.
struct TableDef {
    const char* file;
    std::vector<dbf::FieldDef> fields;
};

// The ten tables, in the order the data module opens them.
const std::vector<TableDef>& tables();
const TableDef* find(const QString& file);

// Creates every table of the database in dir (existing files are replaced).
void createDatabase(const QString& dir);

} // namespace schema
