#include "dataset/Reopen.h"

#include "dataset/Table.h"
#include "dbf/DbfFile.h"

#include <algorithm>

namespace db {

bool reopenIfReplaced(Table& t) {
    dbf::DbfFile* f = t.active() ? t.file() : nullptr;
    if (!f) return false; // a server's table is never replaced under it
    f->refresh();
    if (!f->detached()) return false;
    std::shared_ptr<dbf::DbfFile> now;
    try {
        now = dbf::DbfFile::open(f->path(), true);
    } catch (const std::exception&) {
        return false; // nothing readable in its place
    }
    const auto same = [](const dbf::FieldDef& a, const dbf::FieldDef& b) {
        return a.name == b.name && a.type == b.type && a.length == b.length && a.decimals == b.decimals;
    };
    if (!std::equal(f->fields().begin(), f->fields().end(), now->fields().begin(), now->fields().end(), same))
        return false;
    now.reset();
    t.close();
    t.open();
    return true;
}

} // namespace db
