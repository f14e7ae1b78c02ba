#pragma once

namespace db {

enum class FieldKind { Smallint, Integer, Float, String, Date, Memo, Boolean, Lookup };

} // namespace db
