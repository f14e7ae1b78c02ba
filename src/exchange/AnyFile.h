#pragma once
#include "Foreign.h"

namespace exchange {

// A test from a file of whichever kind it is, told by its content: our own test file, a
// ReproSchema activity (JSON-LD), a REDCap data dictionary or a spreadsheet saved as CSV (named
// after the file). The report lists what could not be carried over; empty for our own file.
Brought fromAnyFile(const QString& path);

} // namespace exchange
