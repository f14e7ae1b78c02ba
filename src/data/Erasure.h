#pragma once
#include "dbf/Erase.h"

#include <QString>
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

// Counts the rows, erasing nothing: for the confirmation.
TesteeRows countTestee(const QString& dir, int org, int testee);

struct ErasureDone {
    TesteeRows rows;
    QString logError; // the erasure happened; only its log line could not be written
};

// Removes every row of the testee for good (all or none) and adds a line without the name to
// erase.log in the folder.
ErasureDone eraseTestee(const QString& dir, int org, int testee);

// Finishes an erasure a crash stopped, and logs that; empty when there was none.
QString finishErasure(const QString& dir);

inline constexpr char kErasureLog[] = "erase.log";

} // namespace schema
