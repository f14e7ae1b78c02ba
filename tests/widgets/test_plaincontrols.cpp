// The plain controls: the radio group's column layout and selection rules, the spinner and its
// edit, the string grid's editing hook and header cells, the progress bar's range.
#include "Errors.h"
#include "UiTest.h"
#include "widgets/ProgressBar.h"
#include "widgets/RadioGroup.h"
#include "widgets/StringGrid.h"
#include "widgets/UpDown.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

QStringList options(int n) {
    QStringList out;
    for (int i = 1; i <= n; ++i)
        out << QStringLiteral("Вариант %1").arg(i);
    return out;
}

std::unique_ptr<ui::RadioGroup> group(int n, int columns, QSize size = {600, 300}) {
    auto g = std::make_unique<ui::RadioGroup>();
    g->setTitle(QStringLiteral("Ответы :"));
    g->setItems(options(n));
    g->setColumns(columns);
    g->resize(size);
    g->show();
    settle();
    return g;
}

// Column and row of each option, read from where it is drawn.
std::vector<std::pair<int, int>> cells(const ui::RadioGroup& g) {
    std::vector<int> xs, ys;
    for (int i = 0; i < g.count(); ++i) {
        xs.push_back(g.button(i)->x());
        ys.push_back(g.button(i)->y());
    }
    auto rank = [](std::vector<int> v, int x) {
        std::sort(v.begin(), v.end());
        v.erase(std::unique(v.begin(), v.end()), v.end());
        return int(std::lower_bound(v.begin(), v.end(), x) - v.begin());
    };
    std::vector<std::pair<int, int>> out;
    for (int i = 0; i < g.count(); ++i)
        out.emplace_back(rank(xs, xs[i]), rank(ys, ys[i]));
    return out;
}

} // namespace

TEST(RadioGroup, FillsTheColumnsTopToBottom) {
    auto g = group(7, 3);
    const std::vector<std::pair<int, int>> expected{{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, 2}, {2, 0}};
    EXPECT_EQ(cells(*g), expected);
    // The columns share the width as if all three were full.
    EXPECT_NEAR(g->button(6)->x() - g->button(3)->x(), g->button(3)->x() - g->button(0)->x(), 1);

    g->setColumns(2); // 4 rows: 4 + 3
    EXPECT_EQ(cells(*g)[3], std::make_pair(0, 3));
    EXPECT_EQ(cells(*g)[4], std::make_pair(1, 0));
}

TEST(RadioGroup, ColumnCountIsKeptWithinOneToSixteen) {
    auto g = group(3, 2);
    for (auto [asked, kept] : {std::pair{0, 1}, {-5, 1}, {16, 16}, {20, 16}, {1, 1}}) {
        g->setColumns(asked);
        EXPECT_EQ(g->columns(), kept) << asked;
    }
    g->setColumns(0);
    EXPECT_EQ(g->button(0)->x(), g->button(2)->x()); // one column
}

TEST(RadioGroup, ManyOptionsInSixteenColumnsDoNotOverlap) {
    auto g = group(40, 16, {900, 220});
    const QRect area = g->contentsRect();
    for (int i = 0; i < g->count(); ++i) {
        const QRect r = g->button(i)->geometry();
        EXPECT_FALSE(r.isEmpty()) << i;
        EXPECT_TRUE(area.contains(r)) << i;
        for (int j = 0; j < i; ++j)
            EXPECT_FALSE(r.intersects(g->button(j)->geometry())) << i << " " << j;
    }
    EXPECT_EQ(cells(*g)[39], std::make_pair(13, 0)); // 3 rows a column: the 40th heads column 14
}

TEST(RadioGroup, SelectionFromCodeIsClampedAndSilent) {
    auto g = group(0, 1);
    QSignalSpy spy(g.get(), &ui::RadioGroup::clicked);
    g->setItemIndex(2);
    EXPECT_EQ(g->itemIndex(), -1); // nothing to select

    g->setItems(options(3));
    g->setItemIndex(7);
    EXPECT_EQ(g->itemIndex(), 2);
    EXPECT_TRUE(g->button(2)->isChecked());
    g->setItemIndex(-1);
    EXPECT_EQ(g->itemIndex(), -1);
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(g->button(i)->isChecked()) << i;
    EXPECT_EQ(spy.count(), 0);

    g->setItemIndex(1);
    g->clearItems();
    EXPECT_EQ(g->count(), 0);
    EXPECT_EQ(g->itemIndex(), -1);
    g->addItem(QStringLiteral("Да"));
    EXPECT_FALSE(g->button(0)->isChecked());
}

TEST(RadioGroup, ClickedOnlyWhenTheUserChangesTheChoice) {
    auto g = group(3, 1);
    QSignalSpy spy(g.get(), &ui::RadioGroup::clicked);
    // Anywhere in the option's cell, as the classic group takes it, not only on its text.
    const QPoint right(g->button(1)->width() - 3, g->button(1)->height() / 2);
    QTest::mouseClick(g->button(1), Qt::LeftButton, {}, right);
    EXPECT_EQ(g->itemIndex(), 1);
    EXPECT_EQ(spy.count(), 1);
    QTest::mouseClick(g->button(1), Qt::LeftButton, {}, right); // the same option again
    EXPECT_EQ(spy.count(), 1);

    QTest::keyClick(g->button(1), Qt::Key_Down);
    EXPECT_EQ(g->itemIndex(), 2);
    EXPECT_EQ(spy.count(), 2);
}

namespace {

struct Spinner {
    Spinner(int min, int max, int pos) {
        window.resize(200, 40);
        edit = new QLineEdit(&window);
        updown = new ui::UpDown(&window);
        updown->setAssociate(edit);
        updown->setMax(max);
        updown->setMin(min);
        updown->setPosition(pos);
        window.show();
        settle();
    }
    QWidget window;
    QLineEdit* edit;
    ui::UpDown* updown;
};

} // namespace

TEST(UpDown, ArrowsStepTheEditWithoutWrapping) {
    Spinner s(1, 3, 1);
    EXPECT_EQ(s.edit->text(), QStringLiteral("1"));
    QSignalSpy changed(s.edit, &QLineEdit::textChanged);
    s.updown->upButton()->click();
    s.updown->upButton()->click();
    EXPECT_EQ(s.edit->text(), QStringLiteral("3"));
    s.updown->upButton()->click(); // at the top
    EXPECT_EQ(s.updown->position(), 3);
    EXPECT_EQ(changed.count(), 2);

    QTest::keyClick(s.edit, Qt::Key_Down);
    EXPECT_EQ(s.edit->text(), QStringLiteral("2"));
    for (int i = 0; i < 3; ++i)
        s.updown->downButton()->click();
    EXPECT_EQ(s.edit->text(), QStringLiteral("1"));
}

TEST(UpDown, StepsFromWhatTheEditHolds) {
    Spinner s(1, 20, 1);
    s.edit->setText(QStringLiteral("7"));
    s.updown->upButton()->click();
    EXPECT_EQ(s.edit->text(), QStringLiteral("8"));
    s.edit->setText(QStringLiteral("50")); // beyond the range: pulled back before the step
    s.updown->downButton()->click();
    EXPECT_EQ(s.edit->text(), QStringLiteral("19"));
}

TEST(UpDown, TextThatIsNoWholeNumberIsReported) {
    Spinner s(1, 10, 4);
    MessageRecorder messages;
    for (const QString& bad : {QStringLiteral("abc"), QStringLiteral("2.5"), QStringLiteral("")}) {
        s.edit->setText(bad);
        QSignalSpy changed(s.edit, &QLineEdit::textChanged);
        s.updown->upButton()->click();
        QTest::keyClick(s.edit, Qt::Key_Up);
        EXPECT_EQ(changed.count(), 0) << bad.toStdString();
        EXPECT_EQ(s.edit->text(), bad);
    }
    EXPECT_EQ(messages.texts(),
              (QStringList{"'abc' is not a valid integer value", "'abc' is not a valid integer value",
                           "'2.5' is not a valid integer value", "'2.5' is not a valid integer value",
                           "'' is not a valid integer value", "'' is not a valid integer value"}));
    EXPECT_EQ(s.updown->position(), 4);
    EXPECT_THROW(s.updown->stepUp(), db::ConversionError);
}

TEST(UpDown, RangeKeepsThePositionInsideAndFitsSixteenBits) {
    Spinner s(1, 10, 8);
    s.updown->setMax(5);
    EXPECT_EQ(s.updown->position(), 5);
    s.updown->setMax(10);
    s.updown->setMin(7);
    EXPECT_EQ(s.updown->position(), 7);
    s.updown->setMax(100000);
    s.updown->setMin(-100000);
    EXPECT_EQ(s.updown->max(), 32767);
    EXPECT_EQ(s.updown->min(), -32768);
    s.updown->setPosition(40000);
    EXPECT_EQ(s.edit->text(), QStringLiteral("32767"));
}

TEST(ProgressBar, RefusesARangeWithMinAboveMax) {
    ui::ProgressBar pb;
    pb.setPosition(40);
    auto refused = [&](auto&& change) {
        try {
            change();
        } catch (const db::InvalidOperation& e) {
            return e.message();
        }
        return QStringLiteral("accepted");
    };
    EXPECT_EQ(refused([&] { pb.setRange(5, 3); }), QStringLiteral("TProgressBar property out of range"));
    EXPECT_EQ(refused([&] { pb.setMax(-1); }), QStringLiteral("TProgressBar property out of range"));
    EXPECT_EQ(refused([&] { pb.setMin(101); }), QStringLiteral("TProgressBar property out of range"));
    EXPECT_EQ(pb.min(), 0);
    EXPECT_EQ(pb.max(), 100);
    EXPECT_EQ(pb.position(), 40);

    // A whole new range above the old one is fine when set at once; an empty range too.
    pb.setRange(200, 300);
    EXPECT_EQ(pb.position(), 200);
    pb.setRange(7, 7);
    EXPECT_EQ(pb.position(), 7);
}

TEST(ProgressBar, PositionStaysInTheRange) {
    ui::ProgressBar pb;
    pb.setRange(3, 6);
    for (int i = 0; i < 10; ++i)
        pb.stepBy(1);
    EXPECT_EQ(pb.position(), 6);
    pb.setPosition(-50);
    EXPECT_EQ(pb.position(), 3);
    pb.setMax(4);
    pb.setPosition(9);
    EXPECT_EQ(pb.position(), 4);
    EXPECT_EQ(pb.bar()->value(), 4);
}

namespace {

class StringGridTest : public ::testing::Test {
protected:
    void SetUp() override {
        window.resize(400, 200);
        grid = new ui::StringGrid(&window);
        grid->resize(400, 200);
        grid->setColCount(4);
        grid->setRowCount(4);
        grid->setEditable(true);
        grid->setAlwaysShowEditor(true);
        window.show();
        grid->setFocus();
        settle();
        connect();
    }
    void connect() {
        QObject::connect(grid, &ui::StringGrid::setEditText, [this](int c, int r, const QString& t) {
            hook << QStringLiteral("%1,%2=%3|%4").arg(c).arg(r).arg(t, grid->cell(c, r));
        });
    }
    QLineEdit* editAt(int c, int r) {
        grid->setCurrentCell(c, r);
        settle();
        return grid->editor();
    }
    QWidget window;
    ui::StringGrid* grid = nullptr;
    QStringList hook;
};

} // namespace

TEST_F(StringGridTest, HookFollowsEveryKeystrokeButNotCode) {
    grid->setCell(1, 1, QStringLiteral("старое"));
    grid->setCell(2, 1, QStringLiteral("5"));
    QLineEdit* e = editAt(2, 2);
    ASSERT_TRUE(e);
    typeText(e, QStringLiteral("12"));
    // The grid holds the new text by the time the hook runs.
    EXPECT_EQ(hook, (QStringList{"2,2=1|1", "2,2=12|12"}));
    EXPECT_EQ(grid->cell(2, 2), QStringLiteral("12"));

    hook.clear();
    QTest::keyClick(e, Qt::Key_Backspace);
    typeText(e, QStringLiteral("ж"));
    EXPECT_EQ(hook, (QStringList{"2,2=1|1", "2,2=1ж|1ж"}));

    hook.clear();
    grid->setCell(2, 2, QStringLiteral("99")); // code writes, even into the cell being edited
    EXPECT_EQ(e->text(), QStringLiteral("99"));
    EXPECT_TRUE(hook.isEmpty());
}

TEST_F(StringGridTest, StoringEachKeystrokeLeavesTheCaretWhereItWas) {
    QLineEdit* e = editAt(1, 1);
    ASSERT_TRUE(e);
    typeText(e, QStringLiteral("13"));
    e->setCursorPosition(1);
    typeText(e, QStringLiteral("57"));
    EXPECT_EQ(grid->cell(1, 1), QStringLiteral("1573"));
}

TEST_F(StringGridTest, AHookThatWritesOtherCellsKeepsTheEditGoing) {
    // The pattern of a totals recomputation: each change rewrites a cell elsewhere.
    QObject::connect(grid, &ui::StringGrid::setEditText, [this](int, int, const QString& t) {
        grid->setCell(3, 3, QString::number(t.toInt() * 2));
    });
    QLineEdit* e = editAt(1, 2);
    ASSERT_TRUE(e);
    typeText(e, QStringLiteral("21"));
    EXPECT_EQ(e->text(), QStringLiteral("21"));
    EXPECT_EQ(grid->cell(3, 3), QStringLiteral("42"));
    EXPECT_EQ(hook.size(), 2);
}

TEST_F(StringGridTest, HeaderCellsAreNeverCurrentNorEdited) {
    grid->setCell(0, 1, QStringLiteral("1"));
    const QModelIndex header = grid->model()->index(1, 0);
    EXPECT_FALSE(grid->model()->flags(header) & Qt::ItemIsEditable);
    EXPECT_FALSE(grid->model()->flags(grid->model()->index(0, 2)) & Qt::ItemIsEditable);
    EXPECT_THROW(grid->setCurrentCell(0, 1), db::InvalidOperation);

    grid->setCurrentCell(1, 1);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(header).center());
    EXPECT_EQ(std::pair(grid->col(), grid->row()), std::pair(1, 1));
    for (Qt::Key key : {Qt::Key_Left, Qt::Key_Up, Qt::Key_Home}) {
        QTest::keyClick(grid, key);
        EXPECT_EQ(std::pair(grid->col(), grid->row()), std::pair(1, 1)) << key;
    }
    EXPECT_EQ(grid->cell(0, 1), QStringLiteral("1"));
    EXPECT_TRUE(hook.isEmpty());
}

TEST_F(StringGridTest, MoreFixedRowsMoveTheCurrentCellOut) {
    grid->setCurrentCell(1, 1);
    grid->setFixedRows(2);
    EXPECT_EQ(grid->row(), 2);
    EXPECT_THROW(grid->setFixedCols(4), db::InvalidOperation);
    EXPECT_EQ(grid->fixedCols(), 1);
    grid->setColCount(1); // no room left for a fixed column
    EXPECT_EQ(grid->fixedCols(), 0);
}

TEST_F(StringGridTest, ResizingKeepsTheCellsThatStay) {
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            grid->setCell(c, r, QStringLiteral("%1:%2").arg(c).arg(r));
    grid->setColCount(6);
    grid->setRowCount(5);
    EXPECT_EQ(grid->cell(3, 3), QStringLiteral("3:3"));
    EXPECT_EQ(grid->cell(5, 4), QString());
    grid->setCell(5, 4, QStringLiteral("угол"));
    EXPECT_EQ(grid->cell(5, 4), QStringLiteral("угол"));

    grid->setColCount(3);
    grid->setRowCount(3);
    EXPECT_EQ(grid->cell(2, 2), QStringLiteral("2:2"));
    EXPECT_EQ(grid->cell(3, 3), QString()); // outside reads empty
    EXPECT_THROW(grid->setCell(3, 0, QStringLiteral("x")), db::InvalidOperation);
    EXPECT_EQ(grid->model()->data(grid->model()->index(2, 2)).toString(), QStringLiteral("2:2"));
    // Cut off is out of sight, not lost: retyping a size passes through smaller ones.
    grid->setColCount(1);
    grid->setColCount(4);
    grid->setRowCount(6);
    EXPECT_EQ(grid->cell(3, 0), QStringLiteral("3:0"));
    EXPECT_EQ(grid->cell(3, 3), QStringLiteral("3:3"));
    EXPECT_EQ(grid->model()->data(grid->model()->index(3, 3)).toString(), QStringLiteral("3:3"));
    EXPECT_EQ(grid->cell(5, 4), QString()); // outside again
    EXPECT_TRUE(hook.isEmpty());
}

TEST_F(StringGridTest, EditorOnlyWhereEditingIsAllowed) {
    EXPECT_TRUE(editAt(2, 1));
    grid->setEditable(false);
    settle();
    EXPECT_FALSE(editAt(2, 2));
    QTest::keyClick(grid, Qt::Key_7);
    EXPECT_EQ(grid->cell(2, 2), QString());
    EXPECT_TRUE(hook.isEmpty());
}

TEST_F(StringGridTest, DefaultWidthResetsEveryColumn) {
    grid->setColWidth(2, 120);
    grid->setDefaultColWidth(37);
    for (int c = 0; c < grid->colCount(); ++c)
        EXPECT_EQ(grid->colWidth(c), 37) << c;
    grid->setColCount(6);
    EXPECT_EQ(grid->colWidth(5), 37);
}
