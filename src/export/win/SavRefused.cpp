#include "export/Output.h"
#include "export/Writers.h"

namespace exporting {

// ReadStat, which writes .sav on Linux, cannot be had for Windows; the format is refused in
// words until the program writes .sav itself.
void writeSav(const Sheet&, const QString&, const Progress&) {
    throw ExportError(QStringLiteral("Экспорт в формат SPSS (.sav) в этой версии для Windows недоступен: "
                                     "выберите Excel (.xlsx) или CSV."));
}

} // namespace exporting
