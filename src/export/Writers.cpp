#include "Writers.h"

#include <QRegularExpression>
#include <QStringList>

namespace exporting {

void write(const Sheet& sheet, Format format, const QString& path, CsvStyle style, const Progress& progress) {
    switch (format) {
    case Format::Sav:
        return writeSav(sheet, path, progress);
    case Format::Xlsx:
        return writeXlsx(sheet, path, progress);
    case Format::Csv:
        return writeCsv(sheet, path, style, progress);
    }
}

std::optional<Format> formatNamed(const QString& name) {
    const QString n = name.toLower();
    if (n == QLatin1String("sav")) return Format::Sav;
    if (n == QLatin1String("xlsx")) return Format::Xlsx;
    if (n == QLatin1String("csv")) return Format::Csv;
    return std::nullopt;
}

bool validName(const QString& name) {
    // SPSS: up to 64 bytes, a letter first, none of its reserved words; ASCII keeps R and
    // Excel formulas happy too.
    static const QRegularExpression shape(QStringLiteral("^[A-Za-z][A-Za-z0-9_]{0,63}$"));
    static const QStringList reserved = {"ALL", "AND", "BY",  "EQ", "GE", "GT",  "LE",
                                         "LT",  "NE",  "NOT", "OR", "TO", "WITH"};
    return shape.match(name).hasMatch() && !reserved.contains(name.toUpper());
}

} // namespace exporting
