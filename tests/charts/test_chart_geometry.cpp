// The charts measured against the score table as an outside reader (dbfread) reads it: bar
// heights and slice angles in proportion to the stored scores, each point in its own colour,
// and the run report's chart on the PDF page as vector drawing whose marks sit at the heights
// its own axis gives the scores.
#include "TestDb.h"
#include "UiTest.h"
#include "charts/Chart.h"
#include "data/DM.h"
#include "reports/Render.h"
#include "reports/Reports.h"
#include "results/Archive.h"
#include "widgets/DBChart.h"

#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>
#include <QtMath>
#include <gtest/gtest.h>

namespace {

struct Score {
    int krit = 0;
    double ball = 0;
};

// One run's scores in stored order, as dbfread reads bd_rez.
QList<Score> storedScores(const QString& dir, int org, int testee, int test) {
    QList<Score> out;
    for (const QString& line : peerDump(dir, QStringLiteral("bd_rez"))) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        if (o.value("NOMU").toDouble() == org && o.value("NOMTESTIR").toDouble() == testee &&
            o.value("NOMTESTA").toDouble() == test)
            out << Score{o.value("KRIT").toInt(), o.value("BALL").toDouble()};
    }
    return out;
}

class ChartGeometry : public ::testing::Test {
protected:
    void TearDown() override {
        delete chart;
        delete BD;
        BD = nullptr;
    }
    void open(ui::DBChart::Kind kind) {
        BD = new TBD;
        BD->Table_rez->filterBy(QStringLiteral("NOMTESTIR=1"));
        chart = new ui::DBChart;
        chart->setKind(kind);
        chart->setXField(QStringLiteral("KRIT"));
        chart->setValueField(QStringLiteral("BALL"));
        chart->setDataSource(BD->DS_rez);
        chart->resize(471, 330);
        chart->show();
        QTest::qWait(10);
    }
    QColor paintedAt(QPointF at) {
        QImage img(chart->size(), QImage::Format_RGB32);
        chart->render(&img);
        return img.pixelColor(at.toPoint());
    }
    void add(int krit, double ball, int testee = 1) {
        db.add(QStringLiteral("bd_rez.dbf"), {1.0, double(testee), QDate(2024, 3, 4), 1, krit, ball});
    }

    TestDb db;
    ui::DBChart* chart = nullptr;
};

} // namespace

TEST_F(ChartGeometry, BarHeightsAreInProportionToTheStoredScores) {
    add(4, 12.5);
    add(2, 3);
    add(1, 30, 2); // another testee
    add(5, 0.25);
    add(3, 7);
    add(1, 18);
    open(ui::DBChart::Bar);
    QList<Score> scores = storedScores(db.dir(), 1, 1, 1);
    ASSERT_EQ(scores.size(), 5);
    std::stable_sort(scores.begin(), scores.end(),
                     [](const Score& a, const Score& b) { return a.krit < b.krit; });
    const charts::Geometry& g = chart->chartGeometry();
    ASSERT_EQ(g.bars.size(), scores.size());
    // Pixels per score from the highest bar; every other bar keeps that ratio.
    const double perScore = g.bars[0].height() / scores[0].ball;
    for (int i = 0; i < scores.size(); ++i) {
        SCOPED_TRACE(scores[i].krit);
        EXPECT_NEAR(g.bars[i].height(), scores[i].ball * perScore, 0.01);
        EXPECT_NEAR(g.bars[i].bottom(), g.position(0, 0).y(), 0.01); // standing on zero
        EXPECT_EQ(g.xLabels.at(i).text, QString::number(scores[i].krit));
        EXPECT_NEAR(g.xLabels.at(i).box.center().x(), g.bars[i].center().x(), 0.01);
        EXPECT_EQ(g.marks.at(i).text, QString::number(scores[i].ball));
        EXPECT_EQ(paintedAt(g.bars[i].center()), charts::palette().at(i));
    }
    // The highest bar and its mark fit inside the plot.
    EXPECT_GE(g.marks.at(0).box.top(), g.plot.top());
}

TEST_F(ChartGeometry, SliceAnglesAreSharesOfTheStoredScoresInRecordOrder) {
    add(2, 9);
    add(1, 4.5);
    add(3, 0); // no slice
    add(4, 13.5);
    add(5, 27, 2);
    open(ui::DBChart::Pie);
    QList<Score> scores = storedScores(db.dir(), 1, 1, 1);
    scores.removeIf([](const Score& s) { return s.ball <= 0; });
    double total = 0;
    for (const Score& s : scores)
        total += s.ball;
    const charts::Geometry& g = chart->chartGeometry();
    ASSERT_EQ(g.slices.size(), scores.size());
    double sum = 0, start = 0;
    for (int i = 0; i < scores.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(g.slices[i].start, start, 1e-9);
        EXPECT_NEAR(g.slices[i].span, 360 * scores[i].ball / total, 1e-9);
        start += g.slices[i].span;
        sum += g.slices[i].span;
        const double mid = qDegreesToRadians(g.slices[i].start + g.slices[i].span / 2);
        EXPECT_EQ(paintedAt(g.pie.center() + QPointF(std::sin(mid), -std::cos(mid)) * g.pie.width() / 4),
                  charts::palette().at(i));
        // The mark's arrow points at the middle of its slice's rim.
        const QPointF rim = g.pie.center() + QPointF(std::sin(mid), -std::cos(mid)) * g.pie.width() / 2;
        EXPECT_NEAR(QLineF(g.marks[i].arrow.p2(), rim).length(), 0, 0.01);
        EXPECT_EQ(g.marks[i].text, QString::number(scores[i].ball));
    }
    EXPECT_NEAR(sum, 360, 1e-9);
    // No two marks cover each other, nor leave the chart.
    for (int i = 0; i < g.marks.size(); ++i) {
        EXPECT_TRUE(QRectF(chart->rect()).contains(g.marks[i].box)) << i;
        for (int j = i + 1; j < g.marks.size(); ++j)
            EXPECT_FALSE(g.marks[i].box.intersects(g.marks[j].box)) << i << " " << j;
    }
}

TEST_F(ChartGeometry, ManySmallSlicesKeepTheirMarksApart) {
    // Thin slices side by side put their marks' arrows a few pixels apart.
    for (int k = 1; k <= 12; ++k)
        add(k, k <= 10 ? 1 : 60);
    open(ui::DBChart::Pie);
    const charts::Geometry& g = chart->chartGeometry();
    ASSERT_EQ(g.marks.size(), 12);
    for (int i = 0; i < g.marks.size(); ++i)
        for (int j = i + 1; j < g.marks.size(); ++j)
            EXPECT_FALSE(g.marks[i].box.intersects(g.marks[j].box)) << i << " " << j;
}

namespace {

struct Word {
    QString text;
    QRectF box;
};

// The words of every page as poppler's pdftotext places them, in points.
QList<QList<Word>> pdfWords(const QString& pdf) {
    QString out;
    EXPECT_EQ(runCommand(QStringLiteral("pdftotext"), {"-bbox", "-enc", "UTF-8", pdf, "-"}, &out), 0);
    QList<QList<Word>> pages;
    static const QRegularExpression word(QStringLiteral(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>|<page )re"));
    for (auto it = word.globalMatch(out); it.hasNext();) {
        const auto m = it.next();
        if (m.captured(0).startsWith(QLatin1String("<page"))) {
            pages << QList<Word>();
            continue;
        }
        if (pages.isEmpty()) continue;
        pages.last() << Word{m.captured(5),
                             QRectF(QPointF(m.captured(1).toDouble(), m.captured(2).toDouble()),
                                    QPointF(m.captured(3).toDouble(), m.captured(4).toDouble()))};
    }
    return pages;
}

} // namespace

TEST(ReportChart, TheRunReportDrawsItsChartInVectorsWithMarksAtTheirScores) {
    if (runCommand(QStringLiteral("pdftotext"), {QStringLiteral("-v")}) != 0)
        GTEST_SKIP() << "poppler-utils (pdftotext) is not installed: scripts/deps.sh";
    TestDb db;
    ASSERT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL),
                         {QStringLiteral("sample"), db.dir(), QStringLiteral("--force")}),
              0);
    QList<Score> scores = storedScores(db.dir(), 1, 1, 2);
    ASSERT_GE(scores.size(), 3);
    std::stable_sort(scores.begin(), scores.end(),
                     [](const Score& a, const Score& b) { return a.krit < b.krit; });
    results::Archive a;
    const QString pdf = db.path(QStringLiteral("run.pdf"));
    reports::savePdf(reports::runReport(a, {1, 1, 2}), pdf);

    // No picture anywhere: the chart is lines, fills and text.
    QString images;
    ASSERT_EQ(runCommand(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf}, &images), 0);
    EXPECT_EQ(images.split(QLatin1Char('\n'), Qt::SkipEmptyParts).size(), 2) << images.toStdString();

    // The chart's words: below the heading "Баллы по критериям", down to its axis title.
    QList<Word> chart;
    for (const QList<Word>& page : pdfWords(pdf)) {
        int heading = -1;
        for (int i = 2; i < page.size() && heading < 0; ++i)
            if (page[i].text == QStringLiteral("критериям") && page[i - 1].text == QStringLiteral("по") &&
                page[i - 2].text == QStringLiteral("Баллы"))
                heading = i;
        if (heading < 0) continue;
        double bottom = -1;
        for (const Word& w : page)
            if (w.text == QStringLiteral("Критерий") && w.box.top() > page[heading].box.bottom())
                bottom = w.box.bottom();
        ASSERT_GT(bottom, 0) << "no axis title under the chart";
        for (const Word& w : page)
            if (w.box.top() > page[heading].box.bottom() && w.box.bottom() <= bottom &&
                w.text != QStringLiteral("Критерий"))
                chart << w;
    }
    ASSERT_FALSE(chart.isEmpty()) << "no chart in the report";
    // The criterion numbers: the lowest row, left to right.
    double labelsTop = 0;
    for (const Word& w : chart)
        labelsTop = std::max(labelsTop, w.box.top());
    QList<Word> xs, rest;
    for (const Word& w : chart)
        (std::abs(w.box.top() - labelsTop) < 0.5 ? xs : rest) << w;
    std::sort(xs.begin(), xs.end(), [](const Word& l, const Word& r) { return l.box.left() < r.box.left(); });
    ASSERT_EQ(xs.size(), scores.size());
    // The value axis: numbers left of the first bar; the marks: one over each criterion.
    QList<Word> ticks;
    QList<const Word*> marks(scores.size(), nullptr);
    for (const Word& w : rest) {
        if (w.box.right() < xs.first().box.left() - 10) {
            ticks << w;
            continue;
        }
        for (int i = 0; i < xs.size(); ++i)
            if (std::abs(w.box.center().x() - xs[i].box.center().x()) < 1) marks[i] = &w;
    }
    ASSERT_GE(ticks.size(), 2);
    std::sort(ticks.begin(), ticks.end(),
              [](const Word& l, const Word& r) { return l.box.top() < r.box.top(); });
    const Word &hiTick = ticks.first(), &loTick = ticks.last();
    const double perScore = (loTick.box.center().y() - hiTick.box.center().y()) /
                            (hiTick.text.toDouble() - loTick.text.toDouble());
    auto yOf = [&](double v) { return loTick.box.center().y() - (v - loTick.text.toDouble()) * perScore; };
    // Each mark stands the same distance above the height its score has on the axis.
    double offset = 0;
    for (int i = 0; i < scores.size(); ++i) {
        SCOPED_TRACE(scores[i].krit);
        EXPECT_EQ(xs[i].text, QString::number(scores[i].krit));
        ASSERT_NE(marks[i], nullptr);
        EXPECT_EQ(marks[i]->text, QString::number(scores[i].ball));
        const double d = yOf(scores[i].ball) - marks[i]->box.bottom();
        if (i == 0) offset = d;
        EXPECT_NEAR(d, offset, 0.75);
        EXPECT_GT(d, 0);
    }
}
