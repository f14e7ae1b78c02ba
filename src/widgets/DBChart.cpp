#include "widgets/DBChart.h"

#include "dataset/Dataset.h"
#include "widgets/Handler.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QGraphicsLayout>
#include <QGraphicsRectItem>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsTextItem>
#include <QHash>
#include <QLegend>
#include <QMouseEvent>
#include <QPainterPath>
#include <QPieSeries>
#include <QPieSlice>
#include <QScopedValueRollback>
#include <QStackedBarSeries>
#include <QValueAxis>
#include <QtMath>
#include <algorithm>
#include <cmath>

namespace ui {

namespace {

constexpr qreal kPieSize = 0.6; // of the plot area, leaving room for the marks outside
constexpr qreal kWall = 8;      // thickness of a wall strip in pixels
constexpr qreal kMarkPad = 3;   // text to box edge

QString numberText(double v) {
    return QString::number(v, 'g', 12);
}

} // namespace

const QList<QColor>& DBChart::pointColors() {
    static const QList<QColor> colours = [] {
        QList<QColor> c;
        for (QRgb rgb : {0xff0000, 0x00ff00, 0xffff00, 0x0000ff, 0x808080, 0xff00ff, 0x008080, 0x000080,
                         0x800000, 0x00c000, 0x808000, 0x800080, 0xc0c0c0, 0x00ffff, 0xff8000})
            c << QColor(rgb);
        return c;
    }();
    return colours;
}

DBChart::DBChart(QWidget* parent) : QChartView(parent) {
    auto* c = new QChart;
    c->legend()->hide();
    c->setBackgroundRoundness(0);
    // The window's colour behind the plot: the white bottom wall stands out from it.
    c->setBackgroundBrush(QWidget::palette().color(QPalette::Window));
    c->setAnimationOptions(QChart::NoAnimation);
    // The view gives up the chart it made for itself without deleting it.
    QChart* own = chart();
    setChart(c);
    delete own;
    setRenderHint(QPainter::Antialiasing);
    setRubberBand(QChartView::RectangleRubberBand);
    connect(c, &QChart::plotAreaChanged, this, [this] { layoutOverlays(); });

    titleBox_ = new QGraphicsRectItem(c);
    titleBox_->setBrush(Qt::NoBrush);
    titleBox_->setPen(QPen(Qt::black));
    titleBox_->setZValue(10);
    titleBox_->hide();
    leftWallItem_ = new QGraphicsRectItem(c);
    leftWallItem_->setBrush(leftWall_);
    bottomWallItem_ = new QGraphicsRectItem(c);
    bottomWallItem_->setBrush(bottomWall_);
    for (QGraphicsRectItem* w : {leftWallItem_, bottomWallItem_}) {
        w->setPen(QPen(Qt::black));
        // Under the series: bars stand on the bottom wall.
        w->setZValue(-0.5);
        w->hide();
    }
    applyFrame();
}

DBChart::~DBChart() = default;

void DBChart::setDataSource(db::DataSource* source) {
    for (const auto& l : links_)
        disconnect(l);
    links_.clear();
    source_ = source;
    if (source) {
        links_ << connect(source, &db::DataSource::dataSetChanged, this, &DBChart::dataChanged);
        links_ << connect(source, &db::DataSource::recordChanged, this, &DBChart::dataChanged);
        links_ << connect(source, &QObject::destroyed, this, &DBChart::dataChanged);
    }
    dataChanged();
}

void DBChart::setKind(Kind kind) {
    kind_ = kind;
    applyFrame();
    dataChanged();
}

void DBChart::setXField(const QString& name) {
    xField_ = name;
    dataChanged();
}

void DBChart::setValueField(const QString& name) {
    valueField_ = name;
    dataChanged();
}

void DBChart::setTitleLines(const QStringList& lines) {
    titleLines_ = lines;
    applyTitle();
}

void DBChart::setTitleFrame(bool on) {
    titleFrame_ = on;
    layoutTitle();
}

void DBChart::setSeriesTitle(const QString& title) {
    seriesTitle_ = title;
    if (series_) series_->setName(title);
}

void DBChart::setColorEachPoint(bool on) {
    colorEachPoint_ = on;
    dataChanged();
}

void DBChart::setBaseColor(const QColor& c) {
    baseColor_ = c;
    dataChanged();
}

void DBChart::setArrowLength(int px) {
    arrowLength_ = px;
    layoutOverlays();
}

void DBChart::setWalls(const QColor& left, const QColor& bottom) {
    leftWall_ = left;
    bottomWall_ = bottom;
    leftWallItem_->setBrush(left);
    bottomWallItem_->setBrush(bottom);
    layoutOverlays();
}

void DBChart::setZoomEnabled(bool on) {
    setRubberBand(on ? QChartView::RectangleRubberBand : QChartView::NoRubberBand);
}

QColor DBChart::colorAt(int i) const {
    return colorEachPoint_ ? pointColors().at(i % pointColors().size()) : baseColor_;
}

void DBChart::applyTitle() {
    // The title is rich text: an empty line needs a blank to keep its height.
    QStringList html;
    for (const QString& line : titleLines_)
        html << (line.isEmpty() ? QStringLiteral("&nbsp;") : line.toHtmlEscaped());
    chart()->setTitle(html.join(QStringLiteral("<br>")));
    layoutTitle();
}

void DBChart::applyFrame() {
    QChart* c = chart();
    const bool frame = kind_ == Bar;
    c->setPlotAreaBackgroundVisible(frame);
    c->setPlotAreaBackgroundBrush(Qt::NoBrush);
    c->setPlotAreaBackgroundPen(frame ? QPen(Qt::black) : QPen(Qt::NoPen));
}

void DBChart::dataChanged() {
    dirty_ = true;
    // Hidden charts wait until shown: a scoring run posts many rows through the same table.
    if (isVisible()) scheduleRebuild();
}

void DBChart::scheduleRebuild() {
    // Once, after the current event: a window shows its chart before its activation narrows the
    // table, and a burst of changes needs one drawing, not one each.
    if (rebuildQueued_) return;
    rebuildQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            rebuildQueued_ = false;
            if (isVisible()) ensureBuilt();
        },
        Qt::QueuedConnection);
}

void DBChart::ensureBuilt() {
    if (dirty_) rebuild();
}

void DBChart::showEvent(QShowEvent* e) {
    QChartView::showEvent(e);
    if (dirty_) scheduleRebuild();
}

const QList<DBChart::Point>& DBChart::points() {
    ensureBuilt();
    return points_;
}

QAbstractSeries* DBChart::series() {
    ensureBuilt();
    return series_;
}

QList<DBChart::Point> DBChart::readPoints() const {
    QList<Point> pts;
    db::Dataset* ds = source_ ? source_->dataSet() : nullptr;
    if (!ds || !ds->active()) return pts;
    const db::Field* fv = ds->findField(valueField_);
    const db::Field* fx = xField_.isEmpty() ? nullptr : ds->findField(xField_);
    if (!fv) return pts;
    for (int row = 0, n = ds->rowCount(); row < n; ++row) {
        const db::Variant v = ds->valueAt(row, fv);
        if (v.isNull()) continue; // an empty value is no point
        Point p;
        p.value = v.toDouble();
        p.label = numberText(p.value);
        if (kind_ == Bar && fx) {
            const db::Variant x = ds->valueAt(row, fx);
            if (x.isNull()) continue;
            p.x = x.toDouble();
        } else {
            p.x = row;
        }
        if (kind_ == Pie && !(p.value > 0)) continue; // no slice has a size of zero or below
        pts << p;
    }
    if (kind_ == Bar)
        std::stable_sort(pts.begin(), pts.end(), [](const Point& a, const Point& b) { return a.x < b.x; });
    for (int i = 0; i < pts.size(); ++i)
        pts[i].color = colorAt(i);
    return pts;
}

void DBChart::clearSeries() {
    QChart* c = chart();
    for (QAbstractAxis* a : c->axes())
        c->removeAxis(a), delete a;
    c->removeAllSeries();
    series_ = nullptr;
    for (const MarkItems& m : markItems_) {
        delete m.box;
        delete m.arrow;
    }
    markItems_.clear();
}

void DBChart::rebuild() {
    if (building_) return;
    building_ = true;
    dirty_ = false;
    QList<Point> pts;
    // A failed read is reported like any handler's; the chart is then empty.
    run(this, [&] { pts = readPoints(); });
    points_ = pts;
    clearSeries();
    if (kind_ == Bar)
        buildBars();
    else
        buildPie();
    if (series_) series_->setName(seriesTitle_);
    for (int i = 0; kind_ == Bar && i < points_.size(); ++i) {
        MarkItems m;
        m.box = new QGraphicsRectItem(chart());
        m.box->setBrush(QColor(255, 255, 225));
        m.box->setPen(QPen(Qt::black));
        m.box->setZValue(6);
        m.text = new QGraphicsSimpleTextItem(points_[i].label, m.box);
        m.text->setFont(font());
        auto* arrow = new QGraphicsPathItem(chart());
        arrow->setPen(QPen(Qt::black));
        arrow->setBrush(Qt::black);
        arrow->setZValue(6);
        m.arrow = arrow;
        markItems_ << m;
    }
    building_ = false;
    layoutOverlays();
    emit rebuilt();
}

void DBChart::buildBars() {
    QChart* c = chart();
    // Stacked sets, one per palette colour, each holding the bars of its colour: every bar has
    // its own colour, and the sets' zero entries add nothing to a bar's height.
    auto* s = new QStackedBarSeries;
    const int n = int(points_.size());
    const int sets = colorEachPoint_ ? std::min<int>(n, int(pointColors().size())) : std::min(n, 1);
    QList<QBarSet*> bySet;
    for (int k = 0; k < sets; ++k) {
        auto* set = new QBarSet(seriesTitle_);
        set->setColor(colorAt(k));
        set->setBorderColor(Qt::black);
        for (int i = 0; i < n; ++i)
            set->append(i % sets == k ? points_[i].value : 0.0);
        bySet << set;
    }
    s->append(bySet);
    s->setLabelsVisible(false); // the marks are drawn over the chart
    s->setBarWidth(0.6);
    c->addSeries(s);
    series_ = s;

    auto* xAxis = new QBarCategoryAxis;
    xAxis->setObjectName(QStringLiteral("xAxis"));
    QStringList categories;
    QHash<QString, int> seen;
    for (const Point& p : points_) {
        const QString text = numberText(p.x);
        // The axis refuses equal categories; a criterion scored twice still shows both bars.
        categories << text + QString(seen[text]++, QLatin1Char(' '));
    }
    xAxis->append(categories);
    auto* yAxis = new QValueAxis;
    yAxis->setObjectName(QStringLiteral("yAxis"));
    yAxis->setLabelFormat(QStringLiteral("%g"));
    c->addAxis(xAxis, Qt::AlignBottom);
    c->addAxis(yAxis, Qt::AlignLeft);
    s->attachAxis(xAxis);
    s->attachAxis(yAxis);
    for (QAbstractAxis* a : {static_cast<QAbstractAxis*>(xAxis), static_cast<QAbstractAxis*>(yAxis)}) {
        a->setGridLineVisible(false);
    }
    connect(yAxis, &QValueAxis::rangeChanged, this, [this] { layoutMarks(); });
    connect(xAxis, &QBarCategoryAxis::rangeChanged, this, [this] { layoutMarks(); });
}

void DBChart::buildPie() {
    auto* s = new QPieSeries;
    s->setPieSize(kPieSize);
    for (const Point& p : points_) {
        QPieSlice* slice = s->append(p.label, p.value);
        slice->setBrush(p.color);
        slice->setBorderColor(Qt::black);
        slice->setLabelVisible(true);
        slice->setLabelPosition(QPieSlice::LabelOutside);
        slice->setLabelFont(font());
        slice->setLabelColor(Qt::black);
    }
    chart()->addSeries(s);
    series_ = s;
}

QRectF DBChart::titleFrameRect() const {
    return titleBox_->isVisible() ? titleBox_->mapRectToParent(titleBox_->rect()) : QRectF();
}

QRectF DBChart::leftWallRect() const {
    return leftWallItem_->isVisible() ? leftWallItem_->rect() : QRectF();
}

QRectF DBChart::bottomWallRect() const {
    return bottomWallItem_->isVisible() ? bottomWallItem_->rect() : QRectF();
}

void DBChart::layoutOverlays() {
    // Fitting the axis lays the chart out again, which comes back here.
    if (building_ || laying_) return;
    QScopedValueRollback<bool> guard(laying_, true);
    if (kind_ == Bar) fitValueAxis();
    layoutTitle();
    const QRectF plot = chart()->plotArea();
    const bool walls = kind_ == Bar && plot.isValid();
    leftWallItem_->setVisible(walls);
    bottomWallItem_->setVisible(walls);
    if (walls) {
        leftWallItem_->setRect(QRectF(plot.left(), plot.top(), kWall, plot.height()));
        bottomWallItem_->setRect(QRectF(plot.left(), plot.bottom() - kWall, plot.width(), kWall));
    }
    layoutMarks();
}

// Room above the highest bar (and below the lowest) for its arrow and mark.
void DBChart::fitValueAxis() {
    auto* y = qobject_cast<QValueAxis*>(chart()->axes(Qt::Vertical).value(0));
    const QRectF plot = chart()->plotArea();
    if (!y || plot.height() <= 0 || chart()->isZoomed()) return;
    double lo = 0, hi = 0;
    for (const Point& p : points_)
        lo = std::min(lo, p.value), hi = std::max(hi, p.value);
    if (lo == 0 && hi == 0) hi = 1;
    const qreal need = arrowLength_ + QFontMetricsF(font()).height() + 2 * kMarkPad + 4;
    const qreal share = std::min<qreal>(0.45, need / plot.height());
    const double room = (hi - lo) * share / (1 - 2 * share);
    const double top = hi > 0 ? hi + room : 0;
    const double bottom = lo < 0 ? lo - room : 0;
    if (y->min() == bottom && y->max() == top) return;
    y->setRange(bottom, top);
    // Ticks at round scores from zero, whatever room the marks took.
    const double raw = (top - bottom) / 5, mag = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / mag;
    y->setTickType(QValueAxis::TicksDynamic);
    y->setTickAnchor(0);
    y->setTickInterval((f <= 1 ? 1 : f <= 2 ? 2 : f <= 5 ? 5 : 10) * mag);
}

void DBChart::layoutTitle() {
    QGraphicsTextItem* title = nullptr;
    // The chart's own title item: the frame goes around it wherever the chart places it.
    if (titleFrame_ && !titleLines_.isEmpty())
        for (QGraphicsItem* item : chart()->childItems())
            if (auto* t = dynamic_cast<QGraphicsTextItem*>(item);
                t && t->isVisible() && t->toPlainText().startsWith(titleLines_.first())) {
                title = t;
                break;
            }
    titleBox_->setVisible(title != nullptr);
    if (title) {
        const QRectF r = title->mapRectToParent(title->boundingRect());
        const QRectF plot = chart()->plotArea();
        // As wide as the plot area when that is wider, like a heading over it.
        qreal left = r.left() - 4, right = r.right() + 4;
        if (plot.isValid() && plot.width() > r.width()) left = plot.left(), right = plot.right();
        titleBox_->setRect(QRectF(left, r.top() + 1, right - left, r.height() - 2));
    }
}

void DBChart::layoutMarks() {
    if (building_) return;
    QChart* c = chart();
    const QRectF plot = c->plotArea();
    if (kind_ == Pie) {
        // The arm of a slice's mark is a share of the pie's radius: keep it arrowLength_ long.
        auto* pie = qobject_cast<QPieSeries*>(series_);
        const qreal radius = std::min(plot.width(), plot.height()) * kPieSize / 2;
        if (pie && radius > 0)
            for (QPieSlice* s : pie->slices())
                s->setLabelArmLengthFactor(arrowLength_ / radius);
        return;
    }
    for (int i = 0; i < markItems_.size() && i < points_.size(); ++i) {
        MarkItems& m = markItems_[i];
        const double v = points_[i].value;
        const QPointF at = c->mapToPosition(QPointF(i, v), series_);
        const qreal dir = v < 0 ? 1 : -1; // marks of bars below zero hang under them
        const QPointF end(at.x(), at.y() + dir * arrowLength_);
        QPainterPath path;
        path.moveTo(end);
        path.lineTo(at);
        // A small head at the bar.
        path.moveTo(at);
        path.lineTo(at.x() - 3, at.y() + dir * 5);
        path.lineTo(at.x() + 3, at.y() + dir * 5);
        path.closeSubpath();
        static_cast<QGraphicsPathItem*>(m.arrow)->setPath(path);
        m.line = QLineF(end, at);
        const QRectF tr = m.text->boundingRect();
        const QSizeF size(tr.width() + 2 * kMarkPad, tr.height() + 2 * kMarkPad);
        const QPointF topLeft(end.x() - size.width() / 2, dir < 0 ? end.y() - size.height() : end.y());
        m.box->setPos(topLeft);
        m.box->setRect(QRectF(QPointF(0, 0), size));
        m.text->setPos(kMarkPad, kMarkPad);
        // A bar zoomed out of view shows no mark; a pie's marks stand outside it, never clipped.
        const bool shown = plot.isValid() && plot.adjusted(-1, -1, 1, 1).contains(at);
        m.box->setVisible(shown);
        m.arrow->setVisible(shown);
    }
}

QList<DBChart::Mark> DBChart::marks() {
    ensureBuilt();
    // Pending layout first, as painting would do it; the marks are where that left them.
    if (QGraphicsLayout* l = chart()->layout()) l->activate();
    QList<Mark> out;
    if (kind_ == Bar) {
        for (int i = 0; i < markItems_.size(); ++i) {
            const MarkItems& m = markItems_[i];
            if (m.box->isVisible())
                out << Mark{points_[i].label, m.box->mapRectToParent(m.box->rect()), m.line};
        }
        return out;
    }
    auto* pie = qobject_cast<QPieSeries*>(series_);
    if (!pie) return out;
    const QRectF plot = chart()->plotArea();
    const QPointF centre = plot.center();
    const qreal radius = std::min(plot.width(), plot.height()) * kPieSize / 2;
    for (QPieSlice* s : pie->slices()) {
        if (!s->isLabelVisible()) continue;
        const qreal a = qDegreesToRadians(s->startAngle() + s->angleSpan() / 2);
        const QPointF dir(std::sin(a), -std::cos(a));
        const qreal arm = s->labelArmLengthFactor() * radius;
        const QPointF edge = centre + dir * radius, tip = centre + dir * (radius + arm);
        const QFontMetricsF fm(s->labelFont());
        QRectF box(QPointF(), fm.size(0, s->label()));
        box.moveCenter(tip + QPointF(dir.x() >= 0 ? box.width() / 2 : -box.width() / 2, 0));
        out << Mark{s->label(), box, QLineF(tip, edge)};
    }
    return out;
}

void DBChart::resizeEvent(QResizeEvent* e) {
    QChartView::resizeEvent(e);
    layoutOverlays();
}

void DBChart::mouseReleaseEvent(QMouseEvent* e) {
    // A right click shows the whole chart again, rather than one step out.
    if (rubberBand() != QChartView::NoRubberBand && e->button() == Qt::RightButton) {
        chart()->zoomReset();
        layoutOverlays();
        e->accept();
        return;
    }
    QChartView::mouseReleaseEvent(e);
}

} // namespace ui
