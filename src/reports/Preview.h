#pragma once
#include "reports/Report.h"

class QWidget;

namespace reports {

// Shows report in a print preview (objectName ReportPreview) whose tool bar adds "Печать…"
// (the print dialog) and "Сохранить в PDF…"; returns when the preview is closed.
void preview(const Report& report, QWidget* parent);

// Asks for a file name and saves report there as PDF; a name without the .pdf suffix gets it.
// False when the user cancelled.
bool askAndSavePdf(const Report& report, QWidget* parent);

} // namespace reports
