#pragma once
#include "charts/Chart.h"

#include <QPointer>
#include <QWidget>

class QRubberBand;

namespace db {
class DataSource;
class Dataset;
} // namespace db

namespace ui {

// A chart over a data source: one bar or pie slice per row of the dataset's view, rebuilt from
// the rows whenever the view is rebuilt, a value changes or the dataset opens or closes. Rows are
// read by view position, so the cursor never moves. Bars stand in ascending order of the x field;
// slices keep the view's order, and a slice for a value of zero or below is not drawn.
// Each point carries a value mark joined to it by an arrow. Drawn by charts::paint, as the
// reports draw theirs.
class DBChart : public QWidget {
    Q_OBJECT
public:
    enum Kind { Bar, Pie };
    // What the chart shows of one row: x (the pie: its view position), value, mark text, colour.
    using Point = charts::Point;
    // A value mark as laid out on the widget; the arrow ends at the point.
    using Mark = charts::Mark;

    explicit DBChart(QWidget* parent = nullptr);
    ~DBChart() override;

    void setDataSource(db::DataSource* source);
    db::DataSource* dataSource() const { return source_; }
    void setKind(Kind kind);
    Kind kind() const { return kind_; }
    void setXField(const QString& name);
    void setValueField(const QString& name);

    // Title lines, an empty line included; with a frame, a box is drawn around them.
    void setTitleLines(const QStringList& lines);
    void setTitleFrame(bool on);
    QRectF titleFrameRect(); // empty without a frame

    void setSeriesTitle(const QString& title) { seriesTitle_ = title; }
    QString seriesTitle() const { return seriesTitle_; }
    // One palette colour per point; without it every point takes the base colour.
    void setColorEachPoint(bool on);
    void setBaseColor(const QColor& c);
    static const QList<QColor>& pointColors() { return charts::palette(); }

    void setArrowLength(int px);

    // The walls along the value axis (left) and the category axis (bottom). Only bars have
    // axes, a frame and walls; a pie has none of them.
    void setWalls(const QColor& left, const QColor& bottom);
    QRectF leftWallRect();
    QRectF bottomWallRect();

    // Rubber-band zoom with the left button; a right click shows everything again.
    void setZoomEnabled(bool on);
    bool isZoomed() const { return zoom_.has_value(); }

    // What is drawn, rebuilt first when the rows changed while the chart was hidden.
    const QList<Point>& points();
    QList<Mark> marks();
    // The chart as laid out on the widget now, and what it was laid out from.
    const charts::Geometry& chartGeometry();
    const charts::Chart& chartModel();

signals:
    void rebuilt(); // the chart now shows the rows

protected:
    void showEvent(QShowEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void changeEvent(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    void dataChanged();
    void looksChanged();
    void scheduleRebuild();
    void ensureBuilt();
    void rebuild();
    QList<Point> readPoints() const;
    QColor colorAt(int i) const;

    QPointer<db::DataSource> source_;
    QList<QMetaObject::Connection> links_;
    Kind kind_ = Bar;
    QString xField_, valueField_;
    QString seriesTitle_;
    QColor baseColor_ = Qt::red;
    bool colorEachPoint_ = true;
    bool zoomEnabled_ = true;
    bool dirty_ = true;
    bool building_ = false;
    bool rebuildQueued_ = false;
    bool laidOut_ = false;

    charts::Chart chart_;
    charts::Geometry geometry_;
    std::optional<charts::Window> zoom_;
    QRubberBand* band_ = nullptr;
    QPoint bandOrigin_;
};

} // namespace ui
