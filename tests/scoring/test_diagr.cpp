// The chart windows: the current run's scores as bars and as a pie, the test's levels beside
// them, and the pie opened from the bars.
#include "ScoringTest.h"

#include "data/DM.h"
#include "scoring/Diagr.h"
#include "scoring/Diagr1.h"
#include "widgets/DBChart.h"
#include "widgets/DBGrid.h"
#include "widgets/DBText.h"
#include "widgets/Panel.h"

#include <QDate>
#include <QHeaderView>
#include <QPushButton>
#include <QTest>

namespace {

struct Shown {
    QList<double> xs;
    QStringList labels;
};

Shown shown(ui::DBChart* chart) {
    Shown s;
    for (const auto& p : chart->points()) {
        s.xs << p.x;
        s.labels << p.label;
    }
    return s;
}

// The level list as "KRIT UROV" lines.
QStringList levels(ui::DBGrid* grid) {
    QStringList out;
    const auto* m = grid->model();
    for (int r = 0; r < m->rowCount(); ++r)
        out << m->index(r, 0).data().toString() + ' ' + m->index(r, 1).data().toString();
    return out;
}

} // namespace

class DiagrWindow : public ScoringTest {
protected:
    // Opens the bar chart and runs then on it before closing it.
    void openBars(const std::function<void()>& then) {
        whenModal([then](QWidget*) {
            then();
            FormDiagr->Close();
        });
        FormDiagr->ShowModal();
    }
};

TEST_F(DiagrWindow, ThreeCriteriaScoredThroughTheWindowsStandAsThreeBarsInOrder) {
    makeTest(1, 3, {1, 2, 3});
    answerSet(1, {2, 1, 0});
    answer(1, 1, 0); // 2 points
    answer(1, 2, 1); // 1
    answer(1, 3, 2); // 0
    key(1, 1, 1);
    key(1, 1, 2); // criterion 1: 3
    key(1, 2, 3); // criterion 2: 0
    key(1, 3, 1); // criterion 3: 2
    // Earlier scores stored in the order 3, 1, 2: scoring updates them where they stand.
    scoreRow(1, 3, 50);
    scoreRow(1, 1, 50);
    scoreRow(1, 2, 50);
    choose(1);
    Shown bars;
    EXPECT_EQ(score([&](QWidget*) { bars = shown(FormDiagr->DBChart1); }), QStringLiteral("FormDiagr"));
    EXPECT_EQ(bars.xs, (QList<double>{1, 2, 3}));
    EXPECT_EQ(bars.labels, (QStringList{"3", "0", "2"}));
    EXPECT_EQ(stored("bd_rez.dbf", "KRIT"), (QStringList{"3", "1", "2"}));
    EXPECT_TRUE(messages->texts().isEmpty());
}

TEST_F(DiagrWindow, DrawsOnlyTheCurrentRunAndThePieKeepsRecordOrder) {
    makeTest(1, 3, {1});
    makeTest(2, 3, {1});
    scoreRow(1, 2, 20, "2024-02-03", 1, 1);
    scoreRow(1, 1, 99, "2024-02-03", 2, 1); // another testee
    scoreRow(2, 1, 98, "2024-02-03", 1, 1); // another test
    scoreRow(1, 1, 97, "2024-02-03", 1, 3); // another institution
    scoreRow(1, 3, 30, "2024-02-03", 1, 1);
    scoreRow(1, 1, 10, "2024-02-03", 1, 1);
    choose(1);
    Shown bars, pie;
    QString filter;
    openBars([&] {
        bars = shown(FormDiagr->DBChart1);
        filter = BD->Table_rez->filter();
        whenModal([&](QWidget* w) {
            EXPECT_EQ(w, FormDiagr1);
            pie = shown(FormDiagr1->DBChart1);
            FormDiagr1->Close();
        });
        QTest::mouseClick(FormDiagr->DBText1, Qt::LeftButton);
    });
    EXPECT_EQ(filter, QStringLiteral("NOMU=1 and NOMTESTIR=1 and NOMTESTA=1"));
    EXPECT_EQ(bars.labels, (QStringList{"10", "20", "30"}));
    EXPECT_EQ(pie.labels, (QStringList{"20", "30", "10"}));
    const charts::Geometry& g = FormDiagr1->DBChart1->chartGeometry();
    ASSERT_EQ(g.slices.size(), 3);
    EXPECT_NEAR(g.slices.at(0).span, 120, 1e-9); // 20 of 60
    EXPECT_TRUE(g.yLabels.isEmpty());
    EXPECT_TRUE(messages->texts().isEmpty());
}

TEST_F(DiagrWindow, ThePieWindowsCloseActivatesTheBarsAgain) {
    makeTest(1, 2, {1});
    scoreRow(1, 1, 4);
    scoreRow(1, 2, 6);
    scoreRow(1, 1, 9, "2020-01-02", 2);
    choose(1);
    Shown inPie, afterPie;
    int activations = 0;
    const auto c = QObject::connect(FormDiagr, &ui::Form::activated, [&] { ++activations; });
    openBars([&] {
        whenModal([&](QWidget*) {
            // Another testee's scores while the pie is open; the bars follow at once.
            BD->Table_rez->filterBy(QStringLiteral("NOMTESTIR=2"));
            inPie = shown(FormDiagr->DBChart1);
            // A click on the name in the pie window opens nothing.
            QTest::mouseClick(FormDiagr1->DBText1, Qt::LeftButton);
            settle();
            EXPECT_EQ(ui::Form::modalStack().last(), FormDiagr1);
            FormDiagr1->Close();
        });
        FormDiagr->DBText1Click();
        afterPie = shown(FormDiagr->DBChart1);
    });
    QObject::disconnect(c);
    EXPECT_EQ(inPie.labels, QStringList{"9"});
    EXPECT_EQ(afterPie.labels, (QStringList{"4", "6"}));
    EXPECT_EQ(activations, 2);
    EXPECT_EQ(FormDiagr1->DBText1->toolTip(), QString());
    EXPECT_EQ(FormDiagr->DBText1->toolTip(), QStringLiteral("Щелкните дважды для смены вида диаграммы"));
}

TEST_F(DiagrWindow, TheLevelListShowsEveryLevelOfTheTestWithoutTitles) {
    makeTest(1, 2, {1});
    makeTest(2, 1, {1});
    range(1, 1, QStringLiteral("Низкий"), 0, 5);
    range(1, 1, QStringLiteral("Высокий"), 6, 10);
    range(2, 1, QStringLiteral("Чужой"), 0, 10);
    range(1, 2, QStringLiteral("Средний"), 0, 10);
    range(1, 2, QStringLiteral("Средний"), 11, 20); // the same pair twice is listed once
    choose(1);
    QStringList list;
    openBars([&] { list = levels(FormDiagr->DBGrid1); });
    list.sort();
    EXPECT_EQ(list, (QStringList{"1 Высокий", "1 Низкий", "2 Средний"}));
    ui::DBGrid* grid = FormDiagr->DBGrid1;
    EXPECT_FALSE(grid->horizontalHeader()->isVisible());
    EXPECT_FALSE(grid->verticalHeader()->isVisible());
    EXPECT_EQ(grid->columnWidth(0), 32);
    EXPECT_TRUE(grid->isReadOnly());
    EXPECT_EQ(grid->dataSource(), BD->DS_Qanaliz);
}

TEST_F(DiagrWindow, NoScoresAndNoLevelsShowAnEmptyChartAndList) {
    makeTest(1, 2, {1});
    scoreRow(1, 1, 5, "2020-01-02", 2);
    choose(1);
    int points = -1, rows = -1;
    openBars([&] {
        points = int(FormDiagr->DBChart1->points().size());
        rows = FormDiagr->DBGrid1->model()->rowCount();
    });
    EXPECT_EQ(points, 0);
    EXPECT_EQ(rows, 0);
    EXPECT_TRUE(messages->texts().isEmpty());
}

TEST_F(DiagrWindow, LayoutAndTheCloseButton) {
    makeTest(1, 2, {1});
    choose(1);
    for (ui::Form* f : {static_cast<ui::Form*>(FormDiagr), static_cast<ui::Form*>(FormDiagr1)}) {
        SCOPED_TRACE(f->objectName().toStdString());
        bool closedByEnter = false;
        whenModal([&](QWidget* w) {
            EXPECT_EQ(w->size(), QSize(663, 415));
            auto* b = child<QPushButton>(w, "ButtonClose");
            EXPECT_EQ(b->geometry(), QRect(495, 8, 131, 25));
            EXPECT_EQ(child<ui::Panel>(w, "Panel1")->height(), 41);
            EXPECT_EQ(child<ui::Panel>(w, "Panel2")->height(), 39);
            EXPECT_EQ(child<ui::Panel>(w, "Panel4")->width(), 182);
            EXPECT_EQ(child<ui::DBChart>(w, "DBChart1")->width(), 471);
            QTest::keyClick(w, Qt::Key_Return);
            settle();
            closedByEnter = !w->isVisible();
            if (!closedByEnter) static_cast<ui::Form*>(w)->Close();
        });
        f->ShowModal();
        EXPECT_TRUE(closedByEnter);
    }
}

TEST_F(DiagrWindow, WithoutACurrentTestTheDataLayersMessageIsShown) {
    for (auto* t : BD->tablesInOrder())
        t->refresh();
    EXPECT_FALSE(chooseRun(1, 1, 1)); // no test is stored
    bool opened = false;
    openBars([&] { opened = true; });
    EXPECT_TRUE(opened);
    EXPECT_EQ(messages->texts(), QStringList{QStringLiteral("Invalid variant type conversion")});
}
