#include "charts/Chart.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>
#include <algorithm>
#include <cmath>

namespace charts {

namespace {

constexpr double kPieSize = 0.6;  // of the plot, leaving room for the marks outside
constexpr double kBarWidth = 0.6; // of a category
constexpr double kWall = 8;       // thickness of a wall strip
constexpr double kPad = 3;        // mark text to box edge
constexpr double kMargin = 6;     // chart edge to its parts
constexpr double kGap = 4;        // axis to its labels
const QColor kMarkFill(255, 255, 225);

double niceStep(double raw) {
    if (!(raw > 0)) return 1;
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (raw <= m * mag * (1 + 1e-9)) return m * mag;
    return 10 * mag;
}

QRectF textBox(const QFontMetricsF& fm, const QString& text) {
    return QRectF(QPointF(), QSizeF(fm.horizontalAdvance(text), fm.height()));
}

// Title lines centred at the top; returns the bottom of the title.
double layOutTitle(const Chart& c, const QFontMetricsF& fm, Geometry& g) {
    double y = g.area.top() + kMargin * c.unit;
    for (const QString& line : c.title) {
        QRectF r = textBox(fm, line);
        r.moveTopLeft(QPointF(g.area.center().x() - r.width() / 2, y));
        g.title << Label{line, r};
        y += fm.lineSpacing();
    }
    return y;
}

void frameTitle(const Chart& c, Geometry& g) {
    if (!c.titleFrame || g.title.isEmpty()) return;
    QRectF text;
    for (const Label& l : g.title)
        text |= l.box;
    // As wide as the plot when that is wider, like a heading over it.
    double left = text.left() - 4 * c.unit, right = text.right() + 4 * c.unit;
    if (c.kind == Kind::Bar && g.plot.width() > right - left) left = g.plot.left(), right = g.plot.right();
    g.titleFrame = QRectF(left, text.top() - c.unit, right - left, text.height() + 2 * c.unit);
}

// The values in view: zero and every value, with room above the highest bar (and below the
// lowest) for its arrow and mark.
Window fullWindow(const Chart& c, const QFontMetricsF& fm, double plotHeight) {
    double lo = 0, hi = 0;
    for (const Point& p : c.points)
        lo = std::min(lo, p.value), hi = std::max(hi, p.value);
    if (lo == 0 && hi == 0) hi = 1;
    const double need = c.arrow + fm.height() + (2 * kPad + 4) * c.unit;
    const double share = plotHeight > 0 ? std::min(0.45, need / plotHeight) : 0.45;
    const double room = (hi - lo) * share / (1 - 2 * share);
    return Window{-0.5, double(c.points.size()) - 0.5, lo < 0 ? lo - room : 0, hi > 0 ? hi + room : 0};
}

Mark barMark(const Chart& c, const QFontMetricsF& fm, const Point& p, QPointF at) {
    const double dir = p.value < 0 ? 1 : -1; // marks of bars below zero hang under them
    const QPointF end(at.x(), at.y() + dir * c.arrow);
    QRectF box = textBox(fm, p.label).adjusted(0, 0, 2 * kPad * c.unit, 2 * kPad * c.unit);
    box.moveTopLeft(QPointF(end.x() - box.width() / 2, dir < 0 ? end.y() - box.height() : end.y()));
    return Mark{p.label, box, QLineF(end, at)};
}

// Labels left to right, each drawn only when clear of the one before: many bars on a narrow
// chart label every second or third.
QList<Label> spaced(const QList<Label>& all, double gap) {
    QList<Label> out;
    for (const Label& l : all)
        if (out.isEmpty() || l.box.left() >= out.last().box.right() + gap) out << l;
    return out;
}

void layOutBars(const Chart& c, const QFontMetricsF& fm, const std::optional<Window>& zoom, Geometry& g,
                double top) {
    const double u = c.unit;
    double bottom = g.area.bottom() - kMargin * u - fm.height() - kGap * u;
    if (!c.xTitle.isEmpty()) bottom -= fm.lineSpacing();
    top += kMargin * u;
    g.view = zoom ? *zoom : fullWindow(c, fm, bottom - top);
    const Window& v = g.view;
    // Ticks at round values from zero, whatever room the marks took.
    const double step = niceStep((v.y1 - v.y0) / 5);
    double labelWidth = 0;
    for (double t = std::ceil(v.y0 / step - 1e-9) * step; t <= v.y1 + step * 1e-9; t += step) {
        if (std::abs(t) < step * 1e-9) t = 0;
        g.yTicks << t;
        labelWidth = std::max(labelWidth, fm.horizontalAdvance(numberText(t)));
    }
    g.plot = QRectF(QPointF(g.area.left() + kMargin * u + labelWidth + kGap * u, top),
                    QPointF(g.area.right() - 2 * kMargin * u, bottom));
    if (!g.plot.isValid()) return;
    for (double t : g.yTicks) {
        QRectF r = textBox(fm, numberText(t));
        r.moveCenter(QPointF(g.plot.left() - kGap * u - r.width() / 2, g.position(0, t).y()));
        g.yLabels << Label{numberText(t), r};
    }
    if (c.walls) {
        g.leftWall = QRectF(g.plot.left(), g.plot.top(), kWall * u, g.plot.height());
        g.bottomWall = QRectF(g.plot.left(), g.plot.bottom() - kWall * u, g.plot.width(), kWall * u);
    }
    const double slot = g.plot.width() / (v.x1 - v.x0);
    QList<Label> xs;
    const QRectF seen = g.plot.adjusted(-1, -1, 1, 1);
    for (int i = 0; i < c.points.size(); ++i) {
        const Point& p = c.points[i];
        const QPointF base = g.position(i, 0), at = g.position(i, p.value);
        g.bars << QRectF(QPointF(base.x() - slot * kBarWidth / 2, std::min(base.y(), at.y())),
                         QPointF(base.x() + slot * kBarWidth / 2, std::max(base.y(), at.y())));
        if (seen.contains(at)) g.marks << barMark(c, fm, p, at);
        if (base.x() >= g.plot.left() - 1 && base.x() <= g.plot.right() + 1) {
            QRectF r = textBox(fm, numberText(p.x));
            r.moveTopLeft(QPointF(base.x() - r.width() / 2, g.plot.bottom() + kGap * u));
            xs << Label{numberText(p.x), r};
        }
    }
    g.xLabels = spaced(xs, 2 * kGap * u);
    if (!c.xTitle.isEmpty()) {
        QRectF r = textBox(fm, c.xTitle);
        r.moveTopLeft(
            QPointF(g.plot.center().x() - r.width() / 2, g.plot.bottom() + kGap * u + fm.lineSpacing()));
        g.xTitle = Label{c.xTitle, r};
    }
}

// Marks of one side of the pie pushed apart downwards, then back up when past the bottom.
void separate(QList<int> order, QList<Mark>& marks, double gap, double bottom) {
    std::sort(order.begin(), order.end(),
              [&](int a, int b) { return marks[a].box.center().y() < marks[b].box.center().y(); });
    for (int k = 1; k < order.size(); ++k) {
        QRectF& r = marks[order[k]].box;
        const double floor = marks[order[k - 1]].box.bottom() + gap;
        if (r.top() < floor) r.moveTop(floor);
    }
    for (int k = int(order.size()) - 1; k >= 0; --k) {
        QRectF& r = marks[order[k]].box;
        const double ceiling = k + 1 < order.size() ? marks[order[k + 1]].box.top() - gap : bottom;
        if (r.bottom() > ceiling) r.moveBottom(ceiling);
    }
}

void layOutPie(const Chart& c, const QFontMetricsF& fm, Geometry& g, double top) {
    const double u = c.unit;
    g.plot = QRectF(QPointF(g.area.left() + kMargin * u, top + kMargin * u),
                    QPointF(g.area.right() - kMargin * u, g.area.bottom() - kMargin * u));
    if (!g.plot.isValid()) return;
    const double radius = std::min(g.plot.width(), g.plot.height()) * kPieSize / 2;
    const QPointF centre = g.plot.center();
    g.pie = QRectF(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    double total = 0;
    for (const Point& p : c.points)
        total += p.value;
    double start = 0;
    QList<int> left, right;
    QList<QPointF> tips;
    for (const Point& p : c.points) {
        const double span = total > 0 ? p.value / total * 360 : 0;
        g.slices << Slice{start, span};
        const double a = qDegreesToRadians(start + span / 2);
        start += span;
        const QPointF dir(std::sin(a), -std::cos(a));
        const QPointF edge = centre + dir * radius, tip = centre + dir * (radius + c.arrow);
        QRectF box = textBox(fm, p.label).adjusted(0, 0, 2 * kPad * u, 2 * kPad * u);
        const bool onRight = dir.x() >= 0;
        box.moveCenter(tip + QPointF(onRight ? box.width() / 2 + u : -box.width() / 2 - u, 0));
        (onRight ? right : left) << int(g.marks.size());
        g.marks << Mark{p.label, box, QLineF(tip, edge)};
        tips << tip;
    }
    separate(right, g.marks, u, g.area.bottom() - u);
    separate(left, g.marks, u, g.area.bottom() - u);
    // A mark moved clear of another stands beside the pie, clear of it too, and points at its
    // slice from there.
    for (int i = 0; i < g.marks.size(); ++i) {
        QRectF& b = g.marks[i].box;
        const bool onRight = tips[i].x() < b.center().x();
        if (QLineF(tips[i], QPointF(onRight ? b.left() : b.right(), b.center().y())).length() <= 2 * u)
            continue;
        if (onRight)
            b.moveLeft(std::max(b.left(), g.pie.right() + kGap * u));
        else
            b.moveRight(std::min(b.right(), g.pie.left() - kGap * u));
        g.marks[i].arrow.setP1(QPointF(onRight ? b.left() : b.right(), b.center().y()));
    }
}

void drawArrow(QPainter& p, const QLineF& line, double u) {
    p.drawLine(line);
    if (line.length() < 1e-6) return;
    // A small head at the point.
    const QPointF tip = line.p2(), back = line.unitVector().p2() - line.p1();
    const QPointF across(-back.y(), back.x());
    p.drawPolygon(QPolygonF{tip, tip - back * 5 * u + across * 3 * u, tip - back * 5 * u - across * 3 * u});
}

void drawMarks(QPainter& p, const Chart& c, const Geometry& g) {
    const double u = c.unit;
    p.setPen(QPen(Qt::black, u));
    for (const Mark& m : g.marks) {
        p.setBrush(Qt::black);
        drawArrow(p, m.arrow, u);
        p.setBrush(kMarkFill);
        p.drawRect(m.box);
        p.drawText(m.box, Qt::AlignCenter, m.text);
    }
}

void drawLabels(QPainter& p, const QList<Label>& labels) {
    for (const Label& l : labels)
        p.drawText(l.box, Qt::AlignCenter, l.text);
}

void paintBars(QPainter& p, const Chart& c, const Geometry& g) {
    const double u = c.unit;
    if (!g.plot.isValid()) return;
    p.setPen(QPen(Qt::black, u));
    p.setBrush(Qt::NoBrush);
    if (!g.leftWall.isEmpty()) {
        p.setBrush(c.leftWall);
        p.drawRect(g.leftWall);
        p.setBrush(c.bottomWall);
        p.drawRect(g.bottomWall);
    }
    p.save();
    p.setClipRect(g.plot);
    for (int i = 0; i < g.bars.size(); ++i) {
        p.setBrush(c.points[i].color);
        p.drawRect(g.bars[i]);
    }
    p.restore();
    p.setBrush(Qt::NoBrush);
    p.drawRect(g.plot);
    for (double t : g.yTicks) {
        const double y = g.position(0, t).y();
        p.drawLine(QPointF(g.plot.left() - kGap * u / 2, y), QPointF(g.plot.left(), y));
    }
    drawLabels(p, g.yLabels);
    drawLabels(p, g.xLabels);
    if (!g.xTitle.text.isEmpty()) drawLabels(p, {g.xTitle});
}

void paintPie(QPainter& p, const Chart& c, const Geometry& g) {
    p.setPen(QPen(Qt::black, c.unit));
    for (int i = 0; i < g.slices.size(); ++i) {
        p.setBrush(c.points[i].color);
        // QPainter counts from three o'clock, anticlockwise, in sixteenths of a degree.
        const Slice& s = g.slices[i];
        if (s.span >= 360 - 1e-9)
            p.drawEllipse(g.pie);
        else
            p.drawPie(g.pie, qRound((90 - s.start - s.span) * 16), qRound(s.span * 16));
    }
}

} // namespace

const QList<QColor>& palette() {
    static const QList<QColor> colours = [] {
        QList<QColor> c;
        for (QRgb rgb : {0xff0000, 0x00ff00, 0xffff00, 0x0000ff, 0x808080, 0xff00ff, 0x008080, 0x000080,
                         0x800000, 0x00c000, 0x808000, 0x800080, 0xc0c0c0, 0x00ffff, 0xff8000})
            c << QColor(rgb);
        return c;
    }();
    return colours;
}

QString numberText(double v) {
    return QString::number(v, 'g', 12);
}

QPointF Geometry::position(double index, double value) const {
    return {plot.left() + (index - view.x0) / (view.x1 - view.x0) * plot.width(),
            plot.bottom() - (value - view.y0) / (view.y1 - view.y0) * plot.height()};
}

QPointF Geometry::valueAt(QPointF pos) const {
    return {view.x0 + (pos.x() - plot.left()) / plot.width() * (view.x1 - view.x0),
            view.y0 + (plot.bottom() - pos.y()) / plot.height() * (view.y1 - view.y0)};
}

Geometry layOut(const Chart& chart, const QRectF& area, const QPaintDevice* device,
                const std::optional<Window>& zoom) {
    Geometry g;
    g.area = area;
    // Metrics of the device drawn on: a PDF page measures text at its own resolution.
    const QFontMetricsF fm(chart.font, device), tfm(chart.titleFont, device);
    const double top = layOutTitle(chart, tfm, g);
    if (chart.kind == Kind::Bar)
        layOutBars(chart, fm, zoom, g, top);
    else
        layOutPie(chart, fm, g, top);
    frameTitle(chart, g);
    return g;
}

void paint(QPainter& p, const Chart& chart, const Geometry& g) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    if (chart.background.isValid()) p.fillRect(g.area, chart.background);
    p.setPen(Qt::black);
    p.setFont(chart.titleFont);
    drawLabels(p, g.title);
    if (!g.titleFrame.isEmpty()) {
        p.setPen(QPen(Qt::black, chart.unit));
        p.setBrush(Qt::NoBrush);
        p.drawRect(g.titleFrame);
    }
    p.setFont(chart.font);
    if (chart.kind == Kind::Bar)
        paintBars(p, chart, g);
    else
        paintPie(p, chart, g);
    drawMarks(p, chart, g);
    p.restore();
}

} // namespace charts
