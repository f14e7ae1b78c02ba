#pragma once
#include "FieldKind.h"
#include "Variant.h"

#include <cstdint>

namespace db {

// A row as the layers above the store see it: opaque, stable while the row is stored, and
// ascending in stored order.
using RowId = uint32_t;

// Reads one column of a row with the decoding chosen once for the column, so that a scan reads
// each value straight from what the store holds.
struct ColumnReader {
    using Read = Variant (*)(const ColumnReader& r, RowId id);
    Read read = nullptr;
    const void* source = nullptr; // what read reads from: the store, or what it keeps
    int column = -1;
    FieldKind kind = FieldKind::String;
    uint32_t offset = 0; // where the column lies in a row the store keeps, when it has a layout
    uint32_t length = 0;
    Variant operator()(RowId id) const { return read(*this, id); }
};

} // namespace db
