#include "Output.h"
#include "Writers.h"

namespace exporting {

namespace {

// A spreadsheet runs a cell that begins with one of these as a formula (a name "=2+3" or
// "@SUM(1+1)" in a questionnaire); a leading apostrophe makes it text.
bool formulaLike(const QString& text) {
    return !text.isEmpty() && QStringLiteral("=+-@\t\r").contains(text.at(0));
}

void appendField(std::string& line, const QString& text, char separator, bool forSpreadsheet) {
    const QByteArray utf8 =
        (forSpreadsheet && formulaLike(text) ? QStringLiteral("'") : QString()).toUtf8() + text.toUtf8();
    bool quote = false;
    for (char c : utf8)
        if (c == separator || c == '"' || c == '\n' || c == '\r') quote = true;
    if (!quote) {
        line.append(utf8.constData(), size_t(utf8.size()));
        return;
    }
    line += '"';
    for (char c : utf8) {
        if (c == '"') line += '"';
        line += c;
    }
    line += '"';
}

std::string numberText(double v, int decimals, bool russian) {
    std::string s = QByteArray::number(v, 'f', decimals).toStdString();
    if (russian)
        for (char& c : s)
            if (c == '.') c = ',';
    return s;
}

} // namespace

void writeCsv(const Sheet& sheet, const QString& path, CsvStyle style, const Progress& progress) {
    OutputFile out(path);
    const char sep = style.russian ? ';' : ',';
    std::string line = "\xEF\xBB\xBF"; // the mark Excel needs to read UTF-8
    for (size_t c = 0; c < sheet.columns.size(); ++c) {
        if (c) line += sep;
        // R wants names it can use as they are; Excel users read the Russian titles.
        appendField(line, style.russian ? sheet.columns[c].title : sheet.columns[c].name, sep, style.russian);
    }
    line += "\r\n";
    out.write(line);
    for (size_t r = 0; r < sheet.rows; ++r) {
        line.clear();
        for (size_t c = 0; c < sheet.columns.size(); ++c) {
            const Column& col = sheet.columns[c];
            if (c) line += sep;
            if (col.missing(r)) continue;
            switch (col.type) {
            case ColumnType::Text:
                appendField(line, col.texts[r], sep, style.russian);
                break;
            case ColumnType::Date:
                line +=
                    col.date(r)
                        .toString(style.russian ? QStringLiteral("dd.MM.yyyy") : QStringLiteral("yyyy-MM-dd"))
                        .toStdString();
                break;
            case ColumnType::Number:
                line += numberText(col.numbers[r], col.decimals, style.russian);
                break;
            }
        }
        line += "\r\n";
        out.write(line);
        if (progress && r % 4096 == 0) progress(qint64(r), qint64(sheet.rows));
    }
    out.commit();
}

} // namespace exporting
