#pragma once
#include <QDate>
#include <QString>
#include <cmath>
#include <functional>
#include <optional>
#include <vector>

// What the research export writes, whatever the format: named, labelled, typed columns of
// equal length. Kept by column, so a writer of a million cells touches plain arrays.
namespace exporting {

enum class ColumnType { Number, Text, Date };
enum class Measure { Nominal, Ordinal, Scale };

struct Column {
    QString name;  // variable name: ASCII letters, digits and '_', a letter first
    QString title; // Russian heading and variable label
    ColumnType type = ColumnType::Number;
    Measure measure = Measure::Scale;
    int decimals = 0;
    // Value labels; only the .sav file has a place for them.
    std::vector<std::pair<double, QString>> numberLabels;
    std::vector<std::pair<QString, QString>> textLabels;
    // A code that means "no value" for a reason worth keeping apart from a plain blank; the
    // .sav file declares it missing, the other formats leave such a cell empty.
    std::optional<double> missingCode;

    // Number and Date columns: NaN is a missing value; a date is its Julian day.
    std::vector<double> numbers;
    std::vector<QString> texts;

    bool missing(size_t row) const {
        if (type == ColumnType::Text) return texts[row].isEmpty();
        const double v = numbers[row];
        return std::isnan(v) || (missingCode && v == *missingCode);
    }
    QDate date(size_t row) const { return QDate::fromJulianDay(qint64(numbers[row])); }
};

inline constexpr double kMissing = NAN;

struct Sheet {
    QString title; // the file label: the test's name
    std::vector<Column> columns;
    size_t rows = 0;
};

// Work done and work to do, for a progress bar; called now and then, never per cell.
using Progress = std::function<void(qint64 done, qint64 total)>;

} // namespace exporting
