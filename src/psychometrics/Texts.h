#pragma once
#include "psychometrics/ItemAnalysis.h"
#include "psychometrics/Norms.h"

#include <QString>
#include <QStringList>
#include <optional>

// The words the window and the printed report use for the figures of an item analysis.
namespace psychometrics {

// A figure with three decimals, or a dash when it cannot be computed.
QString figure(const std::optional<double>& v);
// "α Кронбаха" or "KR-20" for a scale of 0/1 items.
QString alphaName(const ScaleFigures& s);
// The column headings of the items' table.
QStringList itemHeadings();
// An item's cells under those headings.
QStringList itemCells(const CriterionAnalysis& c, size_t item);
// What the reader must know about a criterion's figures: runs left out, key rows naming no
// question, figures that cannot be computed, marked items; empty when nothing.
QStringList criterionNotes(const CriterionAnalysis& c);

// A raw score's standard scores in one line ("z 0,50; T 55; стен 6; станайн 6; процентиль 69"),
// or why there are none ("нет стандартных баллов: …").
QString scoresLine(const NormResult& r);
// The cells of the standard-score columns (z, T, sten, stanine, percentile), dashes for none.
QStringList scoreCells(const NormResult& r);
// Their headings.
QStringList scoreHeadings();

} // namespace psychometrics
