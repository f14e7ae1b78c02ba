// String grid: rows and columns sized by dragging their lines, rows moved by their fixed cell.
#include "UiTest.h"

#include "widgets/StringGrid.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class StringGridDrag : public ::testing::Test {
protected:
    void SetUp() override {
        window.resize(400, 200);
        grid = new ui::StringGrid(&window);
        grid->resize(400, 200);
        grid->setColCount(3);
        grid->setRowCount(4);
        grid->setEditable(true);
        for (int r = 1; r < 4; ++r) {
            grid->setCell(0, r, QString::number(r));
            grid->setCell(1, r, QString(QChar(u'a' + r - 1)));
        }
        window.show();
        settle();
    }
    QRect cellRect(int c, int r) const { return grid->visualRect(grid->model()->index(r, c)); }
    void drag(QPoint from, QPoint to) {
        QWidget* v = grid->viewport();
        QTest::mousePress(v, Qt::LeftButton, {}, from);
        QMouseEvent move(QEvent::MouseMove, to, v->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(v, &move);
        QTest::mouseRelease(v, Qt::LeftButton, {}, to);
        settle();
    }
    QStringList column(int c) const {
        QStringList out;
        for (int r = 0; r < grid->rowCount(); ++r)
            out << grid->cell(c, r);
        return out;
    }
    QWidget window;
    ui::StringGrid* grid = nullptr;
};

} // namespace

TEST_F(StringGridDrag, ARowDraggedByItsFixedCellTakesItsTextsAlong) {
    drag(cellRect(0, 1).center(), cellRect(0, 3).center()); // not allowed yet
    EXPECT_EQ(column(1), (QStringList{"", "a", "b", "c"}));
    grid->setRowMoving(true);
    drag(cellRect(0, 1).center(), cellRect(0, 3).center());
    EXPECT_EQ(column(0), (QStringList{"", "2", "3", "1"}));
    EXPECT_EQ(column(1), (QStringList{"", "b", "c", "a"}));
    drag(cellRect(0, 3).center(), cellRect(1, 2).center()); // dropped anywhere in the row
    EXPECT_EQ(column(1), (QStringList{"", "b", "a", "c"}));
    // Onto the header row, or by a data cell, nothing moves.
    drag(cellRect(0, 1).center(), cellRect(0, 0).center());
    drag(cellRect(1, 1).center(), cellRect(1, 3).center());
    EXPECT_EQ(column(1), (QStringList{"", "b", "a", "c"}));
    EXPECT_THROW(grid->moveRow(0, 2), std::exception);
}

TEST_F(StringGridDrag, LinesInTheFixedCellsSizeRowsAndColumns) {
    const QRect row1 = cellRect(0, 1);
    const QRect col1 = cellRect(1, 0);
    const QPoint rowLine(row1.center().x(), row1.bottom());
    const QPoint colLine(col1.right(), col1.center().y());

    drag(rowLine, rowLine + QPoint(0, 10)); // not allowed yet
    drag(colLine, colLine + QPoint(10, 0));
    EXPECT_EQ(grid->rowHeight(1), 24);
    EXPECT_EQ(grid->colWidth(1), 64);

    grid->setRowSizing(true);
    grid->setColSizing(true);
    drag(rowLine, rowLine + QPoint(0, 10));
    EXPECT_EQ(grid->rowHeight(1), 24 + 10);
    drag(colLine, colLine + QPoint(-20, 0));
    EXPECT_EQ(grid->colWidth(1), 64 - 20);
    // A line inside the data cells is no handle, and texts stay put.
    const QRect data = cellRect(2, 2);
    drag(QPoint(data.center().x(), data.bottom()), QPoint(data.center().x(), data.bottom() + 15));
    EXPECT_EQ(grid->rowHeight(2), 24);
    EXPECT_EQ(column(1), (QStringList{"", "a", "b", "c"}));
}
