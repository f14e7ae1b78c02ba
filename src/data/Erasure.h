#pragma once
#include "dbf/Erase.h"

#include <QString>
#include <functional>
#include <vector>

namespace schema {

// One testee's rows in every table of the folder that holds testees' rows (NOMU and NOMTESTIR):
// the ten's and any the program's other parts add.
struct TesteeRows {
    std::vector<dbf::EraseCount> tables; // the testee's own row (bd_anket) last
    uint32_t total() const;
    QString summary() const; // "bd_rezult.dbf 40, bd_rez.dbf 5, bd_anket.dbf 1", for the log
    // For the user, a line a table: "ответы на вопросы — 40", "результаты (баллы по критериям) — 5",
    // "анкета тестируемого — 1"; tables without the testee's rows are left out.
    QString describe() const;
};

// Counts the rows, erasing nothing: for the confirmation. dir may be a server database's URL.
TesteeRows countTestee(const QString& dir, int org, int testee);

struct ErasureDone {
    TesteeRows rows;
    QString logError; // the erasure happened; only its log line could not be written
};

// Removes every row of the testee for good (all or none) and, when there were any, adds a line
// without the name to erase.log in the folder.
ErasureDone eraseTestee(const QString& dir, int org, int testee);

// How a server database counts (erase false) or erases a testee's rows in every table with NOMU
// and NOMTESTIR, in one transaction; the library that keeps such databases registers it. A
// server has no folder for erase.log: the rows removed are told to the caller only.
using ServerEraser = std::function<TesteeRows(const QString& url, int org, int testee, bool erase)>;
void registerServerEraser(ServerEraser eraser);

// Finishes an erasure a crash stopped, and logs that; empty when there was none.
QString finishErasure(const QString& dir);

inline constexpr char kErasureLog[] = "erase.log";

} // namespace schema
