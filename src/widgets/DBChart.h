#pragma once
#include <QChartView>
#include <QColor>
#include <QLineF>
#include <QList>
#include <QPointer>
#include <QRectF>
#include <QStringList>

class QAbstractSeries;
class QGraphicsItem;
class QGraphicsRectItem;
class QGraphicsSimpleTextItem;

namespace db {
class DataSource;
class Dataset;
} // namespace db

namespace ui {

// A chart over a data source: one bar or pie slice per row of the dataset's view, rebuilt from
// the rows whenever the view is rebuilt, a value changes or the dataset opens or closes. Rows are
// read by view position, so the cursor never moves. Bars stand in ascending order of the x field;
// slices keep the view's order, and a slice for a value of zero or below is not drawn.
// Each point carries a value mark joined to it by an arrow.
class DBChart : public QChartView {
    Q_OBJECT
public:
    enum Kind { Bar, Pie };

    // What the chart shows of one row: x (the pie: its view position), value, mark text, colour.
    struct Point {
        double x = 0;
        double value = 0;
        QString label;
        QColor color;
    };
    // A value mark as laid out on the chart, in chart coordinates; the arrow ends at the point.
    struct Mark {
        QString text;
        QRectF box;
        QLineF arrow;
    };

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
    QRectF titleFrameRect() const; // empty without a frame

    void setSeriesTitle(const QString& title);
    // One palette colour per point; without it every point takes the base colour.
    void setColorEachPoint(bool on);
    void setBaseColor(const QColor& c);
    static const QList<QColor>& pointColors();

    void setArrowLength(int px);

    // The walls along the value axis (left) and the category axis (bottom). Only bars have
    // axes, a frame and walls; a pie has none of them.
    void setWalls(const QColor& left, const QColor& bottom);
    QRectF leftWallRect() const;
    QRectF bottomWallRect() const;

    // Rubber-band zoom with the left button; a right click shows everything again.
    void setZoomEnabled(bool on);

    // What is drawn, rebuilt first when the rows changed while the chart was hidden.
    const QList<Point>& points();
    QList<Mark> marks();
    QAbstractSeries* series();

signals:
    void rebuilt(); // the series now show the rows

protected:
    void showEvent(QShowEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    void dataChanged();
    void scheduleRebuild();
    void ensureBuilt();
    void rebuild();
    QList<Point> readPoints() const;
    void buildBars();
    void buildPie();
    void clearSeries();
    void layoutOverlays();
    void fitValueAxis();
    void layoutTitle();
    void layoutMarks();
    void applyTitle();
    void applyFrame();
    QColor colorAt(int i) const;

    QPointer<db::DataSource> source_;
    QList<QMetaObject::Connection> links_;
    Kind kind_ = Bar;
    QString xField_, valueField_;
    QStringList titleLines_;
    QString seriesTitle_;
    QColor baseColor_ = Qt::red;
    QColor leftWall_ = QColor(255, 255, 128), bottomWall_ = Qt::white;
    int arrowLength_ = 20;
    bool colorEachPoint_ = true;
    bool titleFrame_ = false;
    bool dirty_ = true;
    bool building_ = false;
    bool rebuildQueued_ = false;
    bool laying_ = false;

    QList<Point> points_;
    QAbstractSeries* series_ = nullptr;
    QGraphicsRectItem* titleBox_ = nullptr;
    QGraphicsRectItem *leftWallItem_ = nullptr, *bottomWallItem_ = nullptr;
    struct MarkItems {
        QGraphicsRectItem* box;
        QGraphicsSimpleTextItem* text;
        QGraphicsItem* arrow;
        QLineF line; // the arrow from the mark to its point
    };
    QList<MarkItems> markItems_;
};

} // namespace ui
