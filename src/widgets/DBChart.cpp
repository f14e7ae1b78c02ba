#include "widgets/DBChart.h"

#include "dataset/Dataset.h"
#include "widgets/Handler.h"

#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>
#include <algorithm>

namespace ui {

DBChart::DBChart(QWidget* parent) : QWidget(parent) {
    chart_.title.clear();
    looksChanged();
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
    chart_.kind = kind == Bar ? charts::Kind::Bar : charts::Kind::Pie;
    zoom_.reset();
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
    chart_.title = lines;
    looksChanged();
}

void DBChart::setTitleFrame(bool on) {
    chart_.titleFrame = on;
    looksChanged();
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
    chart_.arrow = px;
    looksChanged();
}

void DBChart::setWalls(const QColor& left, const QColor& bottom) {
    chart_.leftWall = left;
    chart_.bottomWall = bottom;
    looksChanged();
}

void DBChart::setZoomEnabled(bool on) {
    zoomEnabled_ = on;
    if (!on && zoom_) {
        zoom_.reset();
        looksChanged();
    }
}

QColor DBChart::colorAt(int i) const {
    return colorEachPoint_ ? pointColors().at(i % pointColors().size()) : baseColor_;
}

void DBChart::looksChanged() {
    // The window's colour behind the plot: the white bottom wall stands out from it.
    chart_.background = palette().color(QPalette::Window);
    chart_.font = font();
    chart_.titleFont = font();
    chart_.titleFont.setPixelSize(std::max(font().pixelSize(), 0) > 0 ? font().pixelSize() + 3 : 14);
    chart_.titleFont.setBold(true);
    laidOut_ = false;
    update();
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
    QWidget::showEvent(e);
    if (dirty_) scheduleRebuild();
}

const QList<DBChart::Point>& DBChart::points() {
    ensureBuilt();
    return chart_.points;
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
        p.label = charts::numberText(p.value);
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

void DBChart::rebuild() {
    if (building_) return;
    building_ = true;
    dirty_ = false;
    QList<Point> pts;
    // A failed read is reported like any handler's; the chart is then empty.
    run(this, [&] { pts = readPoints(); });
    chart_.points = pts;
    building_ = false;
    laidOut_ = false;
    update();
    emit rebuilt();
}

const charts::Chart& DBChart::chartModel() {
    ensureBuilt();
    return chart_;
}

const charts::Geometry& DBChart::chartGeometry() {
    ensureBuilt();
    if (!laidOut_) {
        geometry_ = charts::layOut(chart_, QRectF(rect()), this, zoom_);
        laidOut_ = true;
    }
    return geometry_;
}

QList<DBChart::Mark> DBChart::marks() {
    return chartGeometry().marks;
}

QRectF DBChart::titleFrameRect() {
    return chartGeometry().titleFrame;
}

QRectF DBChart::leftWallRect() {
    return chartGeometry().leftWall;
}

QRectF DBChart::bottomWallRect() {
    return chartGeometry().bottomWall;
}

void DBChart::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    laidOut_ = false;
}

void DBChart::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    if (e->type() == QEvent::FontChange || e->type() == QEvent::PaletteChange) looksChanged();
}

void DBChart::paintEvent(QPaintEvent*) {
    const charts::Geometry& g = chartGeometry();
    QPainter p(this);
    charts::paint(p, chart_, g);
}

void DBChart::mousePressEvent(QMouseEvent* e) {
    if (zoomEnabled_ && kind_ == Bar && e->button() == Qt::LeftButton &&
        chartGeometry().plot.contains(e->position())) {
        if (!band_) band_ = new QRubberBand(QRubberBand::Rectangle, this);
        bandOrigin_ = e->position().toPoint();
        band_->setGeometry(QRect(bandOrigin_, QSize()));
        band_->show();
        e->accept();
        return;
    }
    QWidget::mousePressEvent(e);
}

void DBChart::mouseMoveEvent(QMouseEvent* e) {
    if (band_ && band_->isVisible()) {
        band_->setGeometry(QRect(bandOrigin_, e->position().toPoint()).normalized());
        e->accept();
        return;
    }
    QWidget::mouseMoveEvent(e);
}

void DBChart::mouseReleaseEvent(QMouseEvent* e) {
    if (band_ && band_->isVisible() && e->button() == Qt::LeftButton) {
        band_->hide();
        const charts::Geometry& g = chartGeometry();
        const QRectF r = QRectF(QRect(bandOrigin_, e->position().toPoint()).normalized()) & g.plot;
        // A click or a sliver is no selection.
        if (r.width() > 4 && r.height() > 4) {
            const QPointF a = g.valueAt(r.topLeft()), b = g.valueAt(r.bottomRight());
            zoom_ = charts::Window{a.x(), b.x(), b.y(), a.y()};
            laidOut_ = false;
            update();
        }
        e->accept();
        return;
    }
    // A right click shows the whole chart again, rather than one step out.
    if (zoomEnabled_ && e->button() == Qt::RightButton && zoom_) {
        zoom_.reset();
        laidOut_ = false;
        update();
        e->accept();
        return;
    }
    QWidget::mouseReleaseEvent(e);
}

} // namespace ui
