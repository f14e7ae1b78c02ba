#include "psychometrics/Columns.h"

#include <QDir>

namespace psychometrics {

int Columns::column(const char* name) const {
    const int c = db::ColumnScan::column(name);
    if (c < 0)
        throw AnalysisError(QStringLiteral("В таблице %1 нет поля %2.")
                                .arg(QDir::toNativeSeparators(path()), QLatin1String(name)));
    return c;
}

} // namespace psychometrics
