#pragma once
#include <QColor>
#include <QFont>
#include <QLineF>
#include <QList>
#include <QRectF>
#include <QStringList>
#include <optional>

class QPaintDevice;
class QPainter;

// A bar or pie chart as the program draws it: the same model and the same painting on the
// screen, in the print preview and on PDF pages (vector drawing, never a picture of a widget).
namespace charts {

enum class Kind { Bar, Pie };

// One bar or slice: position on the category axis (bars), value, mark text and colour.
struct Point {
    double x = 0;
    double value = 0;
    QString label;
    QColor color;
};

struct Chart {
    Kind kind = Kind::Bar;
    QList<Point> points; // bars in the order they stand; slices clockwise from twelve o'clock
    QStringList title;   // lines, an empty one keeping its height
    bool titleFrame = false;
    QString xTitle; // under the category axis; empty for none
    QColor background;
    QColor leftWall = QColor(255, 255, 128), bottomWall = Qt::white;
    bool walls = true;
    double arrow = 20; // length of a mark's arrow, in device pixels
    double unit = 1;   // device pixels to a screen pixel: lines, gaps and paddings scale by it
    QFont font;        // marks and axis labels
    QFont titleFont;
};

// The palette each point takes a colour of, in turn.
const QList<QColor>& palette();
// A value as marks and category labels write it.
QString numberText(double v);

// The part of a bar chart in view: category positions (the first bar at 0) and values.
struct Window {
    double x0 = 0, x1 = 0, y0 = 0, y1 = 0;
};

// A value mark: its text, its box and the arrow from the box (p1) to the point (p2).
struct Mark {
    QString text;
    QRectF box;
    QLineF arrow;
};
struct Label {
    QString text;
    QRectF box;
};
// A slice in degrees, clockwise from twelve o'clock.
struct Slice {
    double start = 0;
    double span = 0;
};

// Where everything of a chart stands in a rectangle of a device.
struct Geometry {
    QRectF area, plot;
    QList<Label> title;
    QRectF titleFrame; // empty without a frame
    QRectF leftWall, bottomWall;
    Window view;        // bars: what the plot shows
    QList<QRectF> bars; // one per point, unclipped
    QList<Label> xLabels, yLabels;
    QList<double> yTicks;
    Label xTitle;
    QRectF pie;          // the pie's square
    QList<Slice> slices; // one per point
    QList<Mark> marks;   // the shown ones: bars out of view have none

    // A bar chart's point (category index, value) on the device, and back.
    QPointF position(double index, double value) const;
    QPointF valueAt(QPointF pos) const;
};

// The whole chart, or the window given (a bar chart's zoom).
Geometry layOut(const Chart& chart, const QRectF& area, const QPaintDevice* device,
                const std::optional<Window>& zoom = {});
void paint(QPainter& p, const Chart& chart, const Geometry& g);

} // namespace charts
