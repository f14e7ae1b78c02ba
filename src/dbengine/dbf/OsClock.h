#pragma once
#include <cstdint>

// The clock of the file layer's Os.cpp, apart from Os.h so that the datasets need not see it all.
namespace dbf::os {

// A monotonic clock in milliseconds, read in a few nanoseconds at a few milliseconds' grain:
// enough to space out looks at a file from a loop of moves.
int64_t coarseMillis();

} // namespace dbf::os
