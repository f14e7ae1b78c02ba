#pragma once
#include "reports/Report.h"

#include <QFont>
#include <QRectF>

class QPainter;

// What the pages are drawn with: the fonts, the lengths and the cards, shared by the text layout
// and the objects drawn inside it.
namespace reports::drawing {

inline const QString kSerif = QStringLiteral("Liberation Serif");
inline const QString kSans = QStringLiteral("Liberation Sans");
inline const QString kMono = QStringLiteral("Liberation Mono");

// Lengths in points on a device of any resolution. The text layout takes the lengths of its
// formats (margins, padding, borders) in pixels of 96 to the inch and scales them to the
// device itself; what is painted directly is in device pixels.
struct Units {
    double dpi;
    double pt(double points) const { return points * dpi / 72.0; }
    static double fmt(double points) { return points * 96.0 / 72.0; }
};

QFont font(const QString& family, double points, bool bold = false, bool italic = false);

// Draws row `row` of the grid of cards into rect, the row's whole width and height, with the
// dashed cutting lines around each card of the row.
void drawCardRow(QPainter* p, const QRectF& rect, const Cards& cards, int row, Units u);

} // namespace reports::drawing
