#include "Output.h"
#include "SavFormat.h"
#include "Writers.h"

#include <QSet>

namespace exporting {

namespace {

// Seconds from the start of the Gregorian calendar, where SPSS counts dates from.
const qint64 kSpssEpochDay = QDate(1582, 10, 14).toJulianDay();

// A UTF-8 text cut to at most maxBytes on a character boundary, the cut marked with "…":
// the format's limit never leaves half a letter, which a reader would show as "?".
QByteArray fitted(const QString& text, int maxBytes) {
    QByteArray bytes = text.toUtf8();
    if (bytes.size() <= maxBytes) return bytes;
    const QByteArray ellipsis = QStringLiteral("…").toUtf8();
    qsizetype cut = maxBytes - ellipsis.size();
    while (cut > 0 && (uchar(bytes[cut]) & 0xC0) == 0x80)
        --cut;
    return bytes.left(cut) + ellipsis;
}

sav::Measure measureOf(Measure m) {
    switch (m) {
    case Measure::Nominal:
        return sav::Measure::Nominal;
    case Measure::Ordinal:
        return sav::Measure::Ordinal;
    case Measure::Scale:
        break;
    }
    return sav::Measure::Scale;
}

void checkNames(const Sheet& sheet) {
    QSet<QString> seen;
    for (const Column& c : sheet.columns) {
        if (!validName(c.name))
            throw ExportError(QStringLiteral("Имя переменной «%1» недопустимо в файле SPSS.").arg(c.name));
        if (seen.contains(c.name.toUpper()))
            throw ExportError(QStringLiteral("Имя переменной «%1» встречается дважды.").arg(c.name));
        seen.insert(c.name.toUpper());
    }
}

// The bytes of a text in UTF-8, counted without converting it: every cell is converted once
// more when it is written.
qsizetype utf8Length(QStringView text) {
    qsizetype n = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u < 0x80)
            n += 1;
        else if (u < 0x800)
            n += 2;
        else if (QChar::isHighSurrogate(u) && i + 1 < text.size() &&
                 QChar::isLowSurrogate(text[i + 1].unicode()))
            n += 4, ++i;
        else
            n += 3; // a lone surrogate becomes U+FFFD, three bytes too
    }
    return n;
}

// A text column is as wide as its longest value or labelled value, in UTF-8 bytes.
int textWidth(const Column& c) {
    qsizetype width = 1;
    for (const QString& t : c.texts)
        width = std::max(width, utf8Length(t));
    for (const auto& [value, label] : c.textLabels)
        width = std::max(width, utf8Length(value));
    if (width > sav::kMaxStringWidth)
        throw ExportError(QStringLiteral("Текст в столбце «%1» длиннее, чем вмещает файл SPSS (%2 байт).")
                              .arg(c.title)
                              .arg(sav::kMaxStringWidth));
    return int(width);
}

sav::Variable variableOf(const Column& c) {
    sav::Variable v;
    v.name = c.name.toLatin1();
    v.label = fitted(c.title, sav::kMaxVariableLabel);
    v.measure = measureOf(c.measure);
    if (c.type == ColumnType::Text) {
        v.width = textWidth(c);
        v.alignment = sav::Alignment::Left;
        // A string's column is as wide as the string itself.
        v.displayWidth = v.width;
        for (const auto& [value, label] : c.textLabels)
            v.textLabels.emplace_back(value.toUtf8(), fitted(label, sav::kMaxValueLabel));
        return v;
    }
    v.format = c.type == ColumnType::Date ? sav::Format{sav::kFormatDate, 11, 0}
                                          : sav::Format{sav::kFormatF, 8, c.decimals};
    v.displayWidth = v.format.width;
    v.missing = c.missingCode;
    for (const auto& [value, label] : c.numberLabels)
        v.numberLabels.emplace_back(value, fitted(label, sav::kMaxValueLabel));
    return v;
}

} // namespace

void writeSav(const Sheet& sheet, const QString& path, const Progress& progress) {
    checkNames(sheet);
    std::vector<sav::Variable> vars;
    for (const Column& c : sheet.columns)
        vars.push_back(variableOf(c));

    OutputFile out(path);
    out.write(sav::dictionary(vars, fitted(sheet.title, sav::kMaxFileLabel), qint64(sheet.rows),
                              QDateTime::currentDateTime()));
    sav::CaseWriter cases(out, vars);
    for (size_t r = 0; r < sheet.rows; ++r) {
        for (const Column& c : sheet.columns) {
            if (c.type == ColumnType::Text) {
                cases.text(c.texts[r].toUtf8());
                continue;
            }
            const double v = c.numbers[r];
            cases.number(c.type == ColumnType::Date && !std::isnan(v)
                             ? double(qint64(v) - kSpssEpochDay) * 86400.0
                             : v);
        }
        if (progress && r % 4096 == 0) progress(qint64(r), qint64(sheet.rows));
    }
    cases.finish();
    out.commit();
}

} // namespace exporting
