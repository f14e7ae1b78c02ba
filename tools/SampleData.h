#pragma once
#include <QString>
#include <vector>

namespace sample {

// One row of bd_sprav: dictionary kind (1 test types, 2 education levels, 3 institution types,
// 4 republics, 5 settlements), code within the kind, text.
struct DictEntry {
    int kind;
    int code;
    const char* text;
};
const std::vector<DictEntry>& dictionary();

// Russian surnames, first names and patronymics of one sex, for generated testees.
struct NamePool {
    std::vector<const char*> surnames, names, patronymics;
};
const NamePool& namePool(bool female);

// Writes the standard dictionaries into the empty bd_sprav of dir, each row synced: the start
// of a user's own database.
void fillDictionaries(const QString& dir);

// Fills an empty database in dir (as schema::createDatabase leaves it) with the sample
// content, and writes bd_stat.dbf beside it for the statistics window.
void fill(const QString& dir);

} // namespace sample
