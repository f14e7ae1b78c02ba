#include "psychometrics/Columns.h"

namespace psychometrics {

int Columns::column(const char* name) {
    const int c = scan_->column(name);
    if (c < 0)
        throw AnalysisError(
            QStringLiteral("В таблице %1 нет поля %2.").arg(scan_->where(), QLatin1String(name)));
    return c;
}

} // namespace psychometrics
