#pragma once
#include "Sheet.h"

#include <QString>

namespace exporting {

enum class Format { Sav, Xlsx, Csv };

struct CsvStyle {
    // ';' and a decimal comma open directly in a Russian Excel; ',' and a point suit R.
    bool russian = true;
};

// Each writer puts the whole sheet into path, or leaves path as it was and throws ExportError.
void writeSav(const Sheet& sheet, const QString& path, const Progress& progress = {});
void writeXlsx(const Sheet& sheet, const QString& path, const Progress& progress = {});
void writeCsv(const Sheet& sheet, const QString& path, CsvStyle style = {}, const Progress& progress = {});

void write(const Sheet& sheet, Format format, const QString& path, CsvStyle style = {},
           const Progress& progress = {});

// "sav", "xlsx", "csv"; nullopt for anything else.
std::optional<Format> formatNamed(const QString& name);

// Whether a name can stand as a variable name in every format we write.
bool validName(const QString& name);

} // namespace exporting
