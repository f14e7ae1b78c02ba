#pragma once

namespace db {

class Table;

// A table another program replaced by a file with the same fields (an erasure writes each table
// anew and renames it into place) is opened again from that file; true when it was. One
// rewritten with other fields stays refused, as it was.
bool reopenIfReplaced(Table& t);

} // namespace db
