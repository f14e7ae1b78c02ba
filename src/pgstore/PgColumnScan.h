#pragma once

namespace pg {

// Makes the tables of PostgreSQL URLs readable by db::ColumnScan.
void registerColumnScan();

} // namespace pg
