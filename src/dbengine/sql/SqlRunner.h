#pragma once
#include "dataset/ResultTable.h"
#include "dataset/Variant.h"

#include <QString>
#include <QStringList>
#include <map>
#include <vector>

namespace db::sql {

struct ResultSet {
    QStringList columns;
    ResultTable rows;
};

// Runs one SELECT over the .dbf tables of a directory. Each table is a read-only virtual table
// named after its file (case-insensitive). Parameters are written :NAME in the text and bound
// natively. Anything but reading (ATTACH, PRAGMA, writes) is refused with a DatabaseError.
ResultSet runSelect(const QString& directory, const QString& sqlText, const std::map<QString, Variant>& params);

} // namespace db::sql
