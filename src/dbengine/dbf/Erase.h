#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace dbf {

class DbfFile;

// The records of one table to remove: those for which match says true.
struct EraseRequest {
    std::string path;
    std::function<bool(const DbfFile& file, uint32_t rec)> match;
};

struct EraseCount {
    std::string path;
    uint32_t removed = 0;
};

// Removes the matching records of every table for good, all tables or none: each table, its
// memo file (the removed records' texts zeroed) and its production index (made anew) are
// written beside the old ones and renamed into place under the table's append lock, after a
// journal naming the renames is stored. Another program holding a table open finds it replaced;
// this process's own objects of those tables take the new files. Refused while another
// workstation edits a record of one of the tables. Tables are renamed in the order given.
std::vector<EraseCount> eraseRecords(const std::string& dir, const std::vector<EraseRequest>& requests);

// Finishes an erasure a crash stopped after its journal was stored, or clears the files of one
// stopped before. Returns what was done, empty when there was nothing to do. Throws when the
// renames cannot be made now.
std::string finishErasure(const std::string& dir);

// What an erasure stopped in dir left behind, read without changing anything: which tables are
// erased and which not yet, or the new files of one stopped before it decided. Empty when none.
std::string unfinishedErasure(const std::string& dir);

// The journal's name in the database folder.
inline constexpr char kEraseJournal[] = "erase.journal";
// Held while an erasure runs, so that two never meet in one folder.
inline constexpr char kEraseLock[] = "erase.lock";
// What a file being written for an erasure is called beside the one it replaces.
inline constexpr char kEraseSuffix[] = ".erase-new";

} // namespace dbf
