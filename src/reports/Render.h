#pragma once
#include "reports/Report.h"

class QPagedPaintDevice;
class QPrinter;

namespace reports {

// Sets up a printer for a report: A4, portrait unless the report asks for landscape, with the
// reports' margins.
void setUpPrinter(QPrinter* printer, const Report& report);

// Lays report out on device's pages and paints them all; the device keeps its page layout.
// Returns the number of pages.
int paint(const Report& report, QPagedPaintDevice* device);

// Saves report as an A4 PDF at path. The file appears complete or not at all: the pages go to a
// temporary file beside it, renamed over path only when written; a failure throws ReportError
// and leaves whatever was at path untouched.
void savePdf(const Report& report, const QString& path);

} // namespace reports
