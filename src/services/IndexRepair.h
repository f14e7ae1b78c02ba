#pragma once
#include <functional>

namespace db {
class Table;
}

namespace services {

enum class Repair { None, Made };

// Runs step on table, a table the caller must write. When the step fails on a damaged
// production index, the index is made anew with the program's tags under the table's append
// lock and read back, and the step runs once more. Returns whether a repair was made; throws
// the step's error when it fails otherwise, and the repair's when the index stays damaged.
Repair withIndexRepair(db::Table* table, const std::function<void()>& step);

} // namespace services
