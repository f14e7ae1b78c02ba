// The chart over the score table: what the bars and slices show, how they follow the table's
// view, and where the marks stand.
#include "TestDb.h"
#include "UiTest.h"
#include "data/DM.h"
#include "widgets/DBChart.h"

#include <QDate>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <QtMath>
#include <gtest/gtest.h>

namespace {

class ChartTest : public ::testing::Test {
protected:
    void open(ui::DBChart::Kind kind) {
        closeAll();
        BD = new TBD;
        chart = new ui::DBChart;
        chart->setKind(kind);
        chart->setXField(QStringLiteral("KRIT"));
        chart->setValueField(QStringLiteral("BALL"));
        chart->setTitleLines({QStringLiteral("Диаграмма"), QString()});
        chart->setTitleFrame(true);
        chart->setDataSource(BD->DS_rez);
        chart->resize(471, 330);
        chart->show();
        QTest::qWait(10);
    }
    void TearDown() override { closeAll(); }
    void closeAll() {
        delete chart;
        chart = nullptr;
        delete BD;
        BD = nullptr;
    }
    // A score row of testee 1 in test 1, or of another testee.
    void row(int krit, double ball, double testee = 1) {
        db.add(QStringLiteral("bd_rez.dbf"), {1.0, testee, QDate(2024, 1, 2), 1, krit, ball});
    }
    QList<double> xs() {
        QList<double> out;
        for (const auto& p : chart->points())
            out << p.x;
        return out;
    }
    QStringList labels() {
        QStringList out;
        for (const auto& p : chart->points())
            out << p.label;
        return out;
    }
    // The value each bar stands for, measured on the widget: its height over the plot's scale,
    // below zero when it hangs from the zero line.
    QList<double> barHeights() {
        const charts::Geometry& g = chart->chartGeometry();
        const double perUnit = g.plot.height() / (g.view.y1 - g.view.y0), zero = g.position(0, 0).y();
        QList<double> out;
        for (const QRectF& r : g.bars)
            // + 0.0: a flat bar is 0, not -0, which the list compares apart.
            out << std::round((r.top() < zero - 0.01 ? 1 : -1) * r.height() / perUnit * 1000) / 1000 + 0.0;
        return out;
    }
    // The chart drawn into a picture, as the widget paints itself.
    QImage picture() {
        QImage img(chart->size(), QImage::Format_RGB32);
        chart->render(&img);
        return img;
    }
    QStringList xLabels() {
        QStringList out;
        for (const auto& l : chart->chartGeometry().xLabels)
            out << l.text;
        return out;
    }

    TestDb db;
    ui::DBChart* chart = nullptr;
};

} // namespace

TEST_F(ChartTest, BarsStandInAscendingOrderOfXWithTheirValuesAndOwnColours) {
    row(3, 7);
    row(1, 4.5);
    row(2, 0);
    row(4, -2);
    open(ui::DBChart::Bar);
    EXPECT_EQ(xs(), (QList<double>{1, 2, 3, 4}));
    EXPECT_EQ(labels(), (QStringList{"4.5", "0", "7", "-2"}));
    EXPECT_EQ(barHeights(), (QList<double>{4.5, 0, 7, -2}));
    EXPECT_EQ(xLabels(), (QStringList{"1", "2", "3", "4"}));
    // Each bar painted in its own palette colour, in turn.
    const QImage img = picture();
    const auto& bars = chart->chartGeometry().bars;
    for (int i : {0, 2, 3}) {
        SCOPED_TRACE(i);
        EXPECT_EQ(img.pixelColor(bars[i].center().toPoint()), ui::DBChart::pointColors().at(i));
    }
    // The cursor stays where it was.
    EXPECT_EQ(BD->Table_rez->recNo(), 0);
    EXPECT_EQ(BD->Table_rezKRIT->asInteger(), 3);
}

TEST_F(ChartTest, EqualXKeepBothBarsAndTheirOrder) {
    row(2, 5);
    row(1, 1);
    row(2, 6);
    open(ui::DBChart::Bar);
    EXPECT_EQ(labels(), (QStringList{"1", "5", "6"}));
    EXPECT_EQ(xLabels(), (QStringList{"1", "2", "2"}));
    EXPECT_EQ(barHeights(), (QList<double>{1, 5, 6}));
}

TEST_F(ChartTest, FollowsFilterEditsAndOpeningWithoutBeingTold) {
    row(1, 4);
    row(2, 5);
    row(1, 9, 2);
    open(ui::DBChart::Bar);
    EXPECT_EQ(labels().size(), 3);
    BD->Table_rez->filterBy(QStringLiteral("NOMTESTIR=2"));
    EXPECT_EQ(labels(), QStringList{"9"});
    EXPECT_EQ(barHeights(), QList<double>{9});
    // A value edited and posted elsewhere.
    BD->Table_rez->edit();
    BD->Table_rezBALL->setValue(11.0);
    BD->Table_rez->post();
    EXPECT_EQ(labels(), QStringList{"11"});
    BD->Table_rez->close();
    EXPECT_TRUE(chart->points().isEmpty());
    EXPECT_TRUE(chart->marks().isEmpty());
    BD->Table_rez->open();
    EXPECT_EQ(labels(), QStringList{"11"});
    // A hidden chart catches up when shown.
    chart->hide();
    BD->Table_rez->filterBy(QStringLiteral("NOMTESTIR=1"));
    chart->show();
    EXPECT_EQ(labels(), (QStringList{"4", "5"}));
}

TEST_F(ChartTest, AShownChartDrawsOnceFromTheRowsLeftAfterTheCurrentStep) {
    // A window shows its chart and then narrows the table in its activation: drawing the whole
    // table first would cost a bar per stored score.
    for (int i = 1; i <= 40; ++i)
        row(i, i, 1 + i % 4);
    open(ui::DBChart::Bar);
    ASSERT_EQ(chart->points().size(), 40);
    QList<qsizetype> drawn;
    QObject::connect(chart, &ui::DBChart::rebuilt, [&] { drawn << chart->points().size(); });
    chart->hide();
    BD->Table_rez->filterBy(QStringLiteral("NOMTESTIR>0")); // changed while hidden
    chart->show();
    BD->Table_rez->filterBy(QStringLiteral("NOMTESTIR=2"));
    QCoreApplication::processEvents();
    EXPECT_EQ(drawn, QList<qsizetype>{10});
    // A burst of changes while shown is drawn once, with its last state.
    drawn.clear();
    BD->Table_rez->filterBy(QStringLiteral("NOMTESTIR=3"));
    BD->Table_rez->filterBy(QStringLiteral("NOMTESTIR=4 and KRIT<10"));
    QCoreApplication::processEvents();
    EXPECT_EQ(drawn, QList<qsizetype>{2});
    EXPECT_EQ(barHeights(), (QList<double>{3, 7}));
}

TEST_F(ChartTest, MarksHangOnTwentyPixelArrowsAtTheBarTopsAfterResizes) {
    row(1, 4);
    row(2, 0);
    row(3, 8);
    open(ui::DBChart::Bar);
    for (QSize size : {QSize(471, 330), QSize(800, 500), QSize(300, 250)}) {
        SCOPED_TRACE(size.width());
        chart->resize(size);
        QTest::qWait(10);
        const auto marks = chart->marks();
        // One mark for each bar, the zero one included; none for the sets' empty entries.
        ASSERT_EQ(marks.size(), 3);
        const QRectF plot = chart->chartGeometry().plot;
        for (int i = 0; i < 3; ++i) {
            const auto& m = marks[i];
            EXPECT_EQ(m.text, labels().at(i));
            EXPECT_NEAR(m.arrow.length(), 20, 0.5);
            const QPointF top = chart->chartGeometry().position(i, chart->points().at(i).value);
            EXPECT_NEAR(QLineF(m.arrow.p2(), top).length(), 0, 0.5);
            EXPECT_NEAR(m.box.bottom(), m.arrow.p1().y(), 0.5);
            // The highest mark still fits over its bar.
            EXPECT_GE(m.box.top(), plot.top() - 0.5);
        }
        const QRectF title = chart->titleFrameRect();
        EXPECT_FALSE(title.isEmpty());
        EXPECT_LE(title.bottom(), plot.top());
        EXPECT_LT(chart->leftWallRect().width(), chart->leftWallRect().height());
        EXPECT_NEAR(chart->bottomWallRect().bottom(), plot.bottom(), 0.5);
    }
}

TEST_F(ChartTest, SlicesKeepRecordOrderAndSkipZeroAndNegativeValues) {
    row(3, 7);
    row(1, 0);
    row(2, 5);
    row(4, -1);
    row(5, 2);
    open(ui::DBChart::Pie);
    EXPECT_EQ(labels(), (QStringList{"7", "5", "2"}));
    const charts::Geometry& g = chart->chartGeometry();
    ASSERT_EQ(g.slices.size(), 3);
    EXPECT_NEAR(g.slices.at(1).span, 360.0 * 5 / 14, 1e-9);
    // Each slice painted in its own palette colour, halfway out along its middle.
    const QImage img = picture();
    for (int i = 0; i < 3; ++i) {
        const double a = qDegreesToRadians(g.slices[i].start + g.slices[i].span / 2);
        const QPointF at = g.pie.center() + QPointF(std::sin(a), -std::cos(a)) * g.pie.width() / 4;
        EXPECT_EQ(img.pixelColor(at.toPoint()), ui::DBChart::pointColors().at(i)) << i;
    }
    EXPECT_TRUE(g.xLabels.isEmpty());
    EXPECT_TRUE(g.yLabels.isEmpty());
    EXPECT_TRUE(g.leftWall.isEmpty());
    for (QSize size : {QSize(471, 330), QSize(700, 500)}) {
        chart->resize(size);
        QTest::qWait(10);
        const auto marks = chart->marks();
        ASSERT_EQ(marks.size(), 3);
        for (const auto& m : marks)
            EXPECT_NEAR(m.arrow.length(), 20, 0.5);
    }
}

TEST_F(ChartTest, AnEmptyTableOrOnlyZeroValuesDrawNothing) {
    open(ui::DBChart::Pie);
    EXPECT_TRUE(chart->points().isEmpty());
    closeAll();
    row(1, 0);
    row(2, 0);
    for (auto kind : {ui::DBChart::Pie, ui::DBChart::Bar}) {
        open(kind);
        QTest::qWait(10);
        const int drawn = kind == ui::DBChart::Pie ? 0 : 2;
        EXPECT_EQ(chart->points().size(), drawn);
        EXPECT_EQ(chart->marks().size(), drawn);
        BD->Table_rez->filterBy(QStringLiteral("KRIT=9"));
        EXPECT_TRUE(chart->points().isEmpty());
        EXPECT_TRUE(chart->marks().isEmpty());
    }
}

TEST_F(ChartTest, ZoomedBarsKeepTheirMarksAndARightClickShowsAllAgain) {
    row(1, 4);
    row(2, 6);
    row(3, 8);
    open(ui::DBChart::Bar);
    const QRectF plot = chart->chartGeometry().plot;
    // The left third of the plot: the first bar only.
    QTest::mousePress(chart, Qt::LeftButton, {}, plot.topLeft().toPoint() + QPoint(2, 2));
    QTest::mouseMove(chart, QPoint(int(plot.left() + plot.width() / 3), int(plot.bottom()) - 2));
    QTest::mouseRelease(chart, Qt::LeftButton, {},
                        QPoint(int(plot.left() + plot.width() / 3), int(plot.bottom()) - 2));
    ASSERT_TRUE(chart->isZoomed());
    auto marks = chart->marks();
    ASSERT_FALSE(marks.isEmpty());
    EXPECT_EQ(marks.first().text, QStringLiteral("4"));
    const QPointF top = chart->chartGeometry().position(0, 4);
    EXPECT_NEAR(QLineF(marks.first().arrow.p2(), top).length(), 0, 0.5);
    EXPECT_LT(marks.size(), 3); // a bar out of view shows no mark
    EXPECT_EQ(xLabels(), QStringList{"1"});

    QTest::mouseClick(chart, Qt::RightButton, {}, plot.center().toPoint());
    EXPECT_FALSE(chart->isZoomed());
    EXPECT_EQ(chart->marks().size(), 3);

    // Without zoom a drag selects nothing.
    chart->setZoomEnabled(false);
    QTest::mousePress(chart, Qt::LeftButton, {}, plot.topLeft().toPoint() + QPoint(2, 2));
    QTest::mouseMove(chart, plot.center().toPoint());
    QTest::mouseRelease(chart, Qt::LeftButton, {}, plot.center().toPoint());
    EXPECT_FALSE(chart->isZoomed());
}
