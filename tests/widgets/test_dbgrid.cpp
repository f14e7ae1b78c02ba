// The data grid over the program's tables: columns, cursor and current row in step, editing
// through the cell editors, the keys that add and delete rows, and a million-row view that is
// shown without reading it.
#include "TestDb.h"
#include "UiTest.h"
#include "data/DM.h"
#include "widgets/DBGrid.h"

#include <QApplication>
#include <QComboBox>
#include <QFont>
#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <set>

using db::Variant;

namespace {

class GridTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto [kind, code, text] :
             std::initializer_list<std::tuple<int, int, const char*>>{{3, 1, "Школа"},
                                                                      {3, 2, "Больница"},
                                                                      {4, 1, "Татарстан"},
                                                                      {4, 2, "Башкортостан"},
                                                                      {5, 1, "Казань"},
                                                                      {5, 2, "Уфа"}})
            db.add("bd_sprav.dbf", {kind, code, QString::fromUtf8(text)});
        db.add("bd_org.dbf",
               {1.0, 1, QStringLiteral("Школа №5"), QStringLiteral("Начальные классы"), 1.0, 1.0});
        db.add("bd_org.dbf", {2.0, 2, QStringLiteral("Больница №3"), QString(), 2.0, 2.0});
        db.add("bd_test.DBF",
               {1, 1, QStringLiteral("Тест один"), 1, QStringLiteral("первая строка\nвторая строка")});
        db.add("bd_test.DBF", {1, 2, QStringLiteral("Тест два"), 2});
        db.add("bd_test.DBF", {2, 3, QStringLiteral("Тест три"), 1});
        BD = new TBD;
        grid = new ui::DBGrid;
        grid->resize(700, 300);
        grid->show();
        QApplication::setActiveWindow(grid);
        EXPECT_TRUE(QTest::qWaitForWindowActive(grid));
        grid->setFocus();
    }
    void TearDown() override {
        delete grid;
        delete BD;
        BD = nullptr;
    }

    int col(const char* field) const {
        for (int c = 0; c < grid->model()->columnCount(); ++c)
            if (grid->gridModel()->fieldNameAt(c) == QLatin1String(field)) return c;
        ADD_FAILURE() << "no column " << field;
        return -1;
    }
    QString cell(int row, int column) const { return grid->model()->index(row, column).data().toString(); }
    QString mark(int row) const { return grid->model()->headerData(row, Qt::Vertical).toString(); }
    // Keys go where the user's would: into the open cell editor, else to the grid.
    QWidget* target() const {
        QWidget* f = QApplication::focusWidget();
        return f && (f == grid || grid->isAncestorOf(f)) ? f : grid;
    }
    // The cell editor commits Enter on the next pass of the event loop.
    void key(Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::keyClick(target(), k, mods);
        settle();
    }
    void type(const QString& text) {
        for (QChar c : text)
            QTest::sendKeyEvent(QTest::KeyAction::Click, target(), Qt::Key_unknown, c, Qt::NoModifier);
    }
    void clickCell(int row, int column) {
        QModelIndex idx = grid->model()->index(row, column);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(idx).center());
    }
    QString testFile() const { return db.path(QStringLiteral("bd_test.DBF")); }

    TestDb db;
    ui::DBGrid* grid = nullptr;
};

} // namespace

TEST_F(GridTest, ShowsEveryFieldTitledAndSizedByItsDisplaySettings) {
    grid->setDataSource(BD->DS_test);
    ASSERT_EQ(grid->model()->columnCount(), 5);
    QStringList titles;
    for (int c = 0; c < 5; ++c)
        titles << grid->model()->headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(titles.join('|'),
              QStringLiteral("Тип теста|№ теста|Название теста|Кол-во критериев|Характеристика"));
    EXPECT_EQ(grid->model()->rowCount(), 3);
    EXPECT_EQ(cell(2, col("NAME")), QStringLiteral("Тест три"));
    // A memo shows its text on one line and cannot be edited in the cell.
    EXPECT_EQ(cell(0, col("XARAKT")), QStringLiteral("первая строка вторая строка"));
    EXPECT_FALSE(grid->model()->flags(grid->model()->index(0, col("XARAKT"))) & Qt::ItemIsEditable);

    // Widths follow the display widths: NAME is 40 characters, NTEST's title is wider than its number.
    const int digit = grid->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    EXPECT_EQ(grid->columnWidth(col("NAME")), 40 * digit + 4);
    EXPECT_GT(grid->columnWidth(col("NAME")), 3 * grid->columnWidth(col("TIP")));
    const int titleWidth =
        grid->horizontalHeader()->fontMetrics().horizontalAdvance(QStringLiteral("№ теста"));
    EXPECT_GE(grid->columnWidth(col("NTEST")), titleWidth);
}

TEST_F(GridTest, LookupColumnsShowTheDictionaryTextAndWriteTheKey) {
    grid->setDataSource(BD->DS_org);
    EXPECT_EQ(cell(0, col("TU")), QStringLiteral("Школа"));
    EXPECT_EQ(cell(1, col("TU")), QStringLiteral("Больница"));
    EXPECT_EQ(cell(1, col("RSP")), QStringLiteral("Башкортостан"));
    EXPECT_EQ(cell(0, col("NP")), QStringLiteral("Казань"));

    // F2 opens a list of the dictionary's texts; choosing one stores its key.
    clickCell(0, col("TU"));
    key(Qt::Key_F2);
    auto* combo = qobject_cast<QComboBox*>(QApplication::focusWidget());
    ASSERT_NE(combo, nullptr);
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    EXPECT_EQ(items, (QStringList{QStringLiteral("Школа"), QStringLiteral("Больница")}));
    EXPECT_EQ(combo->currentText(), QStringLiteral("Школа"));
    key(Qt::Key_Down);
    key(Qt::Key_Return);
    EXPECT_EQ(BD->Table_org->state(), db::DataSetState::Edit);
    EXPECT_EQ(BD->Table_orgTIPU->asInteger(), 2);
    EXPECT_EQ(cell(0, col("TU")), QStringLiteral("Больница"));
    key(Qt::Key_Down); // leaving the row posts it
    EXPECT_EQ(BD->Table_org->state(), db::DataSetState::Browse);
    EXPECT_EQ(readColumn(db.path("bd_org.dbf"), "TIPU"), (QStringList{"2", "2"}));
}

TEST_F(GridTest, OwnColumnsWithTitlesWidthsAndAMissingField) {
    grid->setDataSource(BD->DS_test);
    grid->setColumns({{"NTEST", QStringLiteral("Номер"), 50},
                      {"NAME", QString(), 0, true},
                      {"NOSUCH", QStringLiteral("Нет"), 40}});
    ASSERT_EQ(grid->model()->columnCount(), 3);
    EXPECT_EQ(grid->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Номер"));
    EXPECT_EQ(grid->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Название теста"));
    EXPECT_EQ(grid->columnWidth(0), 50);
    EXPECT_EQ(grid->columnWidth(2), 40);
    EXPECT_EQ(cell(1, 0), "2");
    EXPECT_EQ(cell(1, 2), "");
    // A bold column sets only the weight; the others take the grid's font unchanged.
    const QVariant boldFont = grid->model()->index(1, 1).data(Qt::FontRole);
    ASSERT_TRUE(boldFont.canConvert<QFont>());
    EXPECT_TRUE(boldFont.value<QFont>().resolve(grid->font()).bold());
    EXPECT_EQ(boldFont.value<QFont>().resolve(grid->font()).family(), grid->font().family());
    EXPECT_FALSE(grid->model()->index(1, 0).data(Qt::FontRole).isValid());
    // Typing into the column without a field changes nothing.
    clickCell(1, 2);
    type("12");
    key(Qt::Key_Return);
    EXPECT_EQ(BD->Table_test->state(), db::DataSetState::Browse);
    EXPECT_EQ(grid->currentField(), nullptr);
    clickCell(1, 1);
    EXPECT_EQ(grid->currentField(), BD->Table_testNAME);

    // Re-pointing and closing: nothing shown, nothing breaks.
    grid->setColumns({});
    EXPECT_EQ(grid->model()->columnCount(), 5);
    grid->setDataSource(BD->DS_org);
    EXPECT_EQ(grid->model()->rowCount(), 2);
    BD->Table_org->close();
    EXPECT_EQ(grid->model()->rowCount(), 0);
    BD->Table_org->open();
    EXPECT_EQ(grid->model()->rowCount(), 2);
    grid->setDataSource(nullptr);
    EXPECT_EQ(grid->model()->rowCount(), 0);
    key(Qt::Key_Down);
    key(Qt::Key_Insert);
}

TEST_F(GridTest, CurrentRowAndCursorStayInStep) {
    grid->setDataSource(BD->DS_test);
    EXPECT_EQ(grid->currentIndex().row(), 0);
    EXPECT_EQ(mark(0), QString(QChar(0x25BA)));
    EXPECT_EQ(mark(1), QString());

    ASSERT_TRUE(BD->Table_test->locate("NTEST", {Variant(3)}));
    EXPECT_EQ(grid->currentIndex().row(), 2);
    EXPECT_EQ(mark(2), QString(QChar(0x25BA)));
    EXPECT_EQ(mark(0), QString());
    BD->Table_test->prior();
    EXPECT_EQ(grid->currentIndex().row(), 1);

    key(Qt::Key_Up);
    EXPECT_EQ(BD->Table_test->recNo(), 0);
    EXPECT_EQ(BD->Table_testNTEST->asInteger(), 1);
    clickCell(2, col("NAME"));
    EXPECT_EQ(BD->Table_testNAME->asString(), QStringLiteral("Тест три"));
    key(Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(BD->Table_test->recNo(), 0);
    // A current row set by code moves the cursor too.
    grid->setCurrentIndex(grid->model()->index(1, 0));
    EXPECT_EQ(BD->Table_testNTEST->asInteger(), 2);
    EXPECT_EQ(BD->Table_test->state(), db::DataSetState::Browse);
}

TEST_F(GridTest, AHiddenGridFollowsTheCursorAndScrollsToItWhenShown) {
    grid->setDataSource(BD->DS_test);
    grid->resize(700, grid->horizontalHeader()->height() + grid->rowHeight(0) + 4);
    grid->hide();
    ASSERT_TRUE(BD->Table_test->locate("NTEST", {Variant(3)}));
    EXPECT_EQ(grid->currentIndex().row(), 2);
    grid->show();
    settle();
    const QRect shown = grid->visualRect(grid->model()->index(2, 0));
    EXPECT_TRUE(grid->viewport()->rect().intersects(shown));
}

TEST_F(GridTest, EditedCellIsPostedWhenTheRowIsLeft) {
    grid->setDataSource(BD->DS_test);
    clickCell(0, col("NAME"));
    type(QStringLiteral("Новое имя"));
    EXPECT_EQ(BD->Table_test->state(), db::DataSetState::Edit);
    EXPECT_EQ(mark(0), "I");
    key(Qt::Key_Down); // the typed text is written and posted on the way
    EXPECT_EQ(BD->Table_test->state(), db::DataSetState::Browse);
    EXPECT_EQ(BD->Table_test->recNo(), 1);
    EXPECT_EQ(grid->currentIndex().row(), 1);
    EXPECT_EQ(
        readColumn(testFile(), "NAME"),
        (QStringList{QStringLiteral("Новое имя"), QStringLiteral("Тест два"), QStringLiteral("Тест три")}));

    // Enter writes the cell; a click on another row posts.
    clickCell(1, col("KOLKRIT"));
    type("7");
    key(Qt::Key_Return);
    EXPECT_EQ(cell(1, col("KOLKRIT")), "7");
    clickCell(2, col("NAME"));
    EXPECT_EQ(BD->Table_test->recNo(), 2);
    EXPECT_EQ(readColumn(testFile(), "KOLKRIT"), (QStringList{"1", "7", "1"}));

    // Esc twice: the editor, then the record.
    type("x");
    key(Qt::Key_Escape);
    EXPECT_EQ(BD->Table_test->state(), db::DataSetState::Edit);
    key(Qt::Key_Escape);
    EXPECT_EQ(BD->Table_test->state(), db::DataSetState::Browse);
    EXPECT_EQ(cell(2, col("NAME")), QStringLiteral("Тест три"));
}

TEST_F(GridTest, InsertedRowLeftUntouchedIsDropped) {
    grid->setDataSource(BD->DS_test);
    clickCell(1, col("NAME"));
    key(Qt::Key_Insert);
    EXPECT_EQ(BD->Table_test->state(), db::DataSetState::Insert);
    EXPECT_EQ(grid->model()->rowCount(), 4);
    EXPECT_EQ(grid->currentIndex().row(), 1);
    EXPECT_EQ(mark(1), "*");
    EXPECT_EQ(cell(2, col("NAME")), QStringLiteral("Тест два"));
    key(Qt::Key_Down); // onto the row that was current: the new one goes
    EXPECT_EQ(BD->Table_test->state(), db::DataSetState::Browse);
    EXPECT_EQ(grid->model()->rowCount(), 3);
    EXPECT_EQ(BD->Table_testNAME->asString(), QStringLiteral("Тест два"));
    EXPECT_EQ(readColumn(testFile(), "NTEST").size(), 3);

    // Down on the last row appends; Down again on the untouched new row stays; Up drops it.
    key(Qt::Key_End, Qt::ControlModifier);
    key(Qt::Key_Down);
    EXPECT_EQ(BD->Table_test->state(), db::DataSetState::Insert);
    EXPECT_EQ(grid->currentIndex().row(), 3);
    key(Qt::Key_Down);
    EXPECT_EQ(grid->model()->rowCount(), 4);
    key(Qt::Key_Up);
    EXPECT_EQ(grid->model()->rowCount(), 3);
    EXPECT_EQ(BD->Table_test->recNo(), 2);
    EXPECT_EQ(BD->Table_testNAME->asString(), QStringLiteral("Тест три"));
    EXPECT_EQ(readColumn(testFile(), "NTEST").size(), 3);

    // A click below a new row lands on the row clicked, whether the new row goes or is posted
    // (to the end of the table).
    clickCell(0, col("NAME"));
    key(Qt::Key_Insert);
    clickCell(2, col("NAME"));
    EXPECT_EQ(BD->Table_testNAME->asString(), QStringLiteral("Тест два"));
    EXPECT_EQ(grid->currentIndex().row(), 1);
    key(Qt::Key_Insert);
    type(QStringLiteral("Новый"));
    clickCell(2, col("NAME"));
    EXPECT_EQ(BD->Table_testNAME->asString(), QStringLiteral("Тест два"));
    EXPECT_EQ(grid->currentIndex().row(), BD->Table_test->recNo());
    EXPECT_EQ(cell(3, col("NAME")), QStringLiteral("Новый"));
}

TEST_F(GridTest, ARowThatLeavesTheFilterWhenPostedTakesTheMoveAlong) {
    for (int q = 1; q <= 3; ++q)
        db.add("bd_vopros.DBF", {1, q, QStringLiteral("Вопрос %1").arg(q), 1, 1});
    BD->Table_vopros->refresh();
    BD->Table_vopros->setFilter("NTEST=1");
    BD->Table_vopros->setFiltered(true);
    grid->setDataSource(BD->DS_vopros);
    clickCell(0, col("NTEST"));
    type("2");
    key(Qt::Key_Down); // onto question 2, which moves up into the first row
    EXPECT_EQ(grid->model()->rowCount(), 2);
    EXPECT_EQ(BD->Table_voprosNVOPR->asInteger(), 2);
    EXPECT_EQ(grid->currentIndex().row(), 0);
}

TEST_F(GridTest, DownOnTheLastRowAppendsAndTypedValuesArePosted) {
    grid->setDataSource(BD->DS_test);
    clickCell(2, col("NTEST"));
    key(Qt::Key_Down);
    ASSERT_EQ(BD->Table_test->state(), db::DataSetState::Insert);
    type("4");
    key(Qt::Key_Tab);
    type(QStringLiteral("Тест четыре"));
    key(Qt::Key_Down); // posts the new row and starts another
    EXPECT_EQ(BD->Table_test->state(), db::DataSetState::Insert);
    EXPECT_EQ(grid->currentIndex().row(), 4);
    EXPECT_EQ(cell(3, col("NAME")), QStringLiteral("Тест четыре"));
    key(Qt::Key_Up); // the second one was left untouched
    EXPECT_EQ(BD->Table_test->state(), db::DataSetState::Browse);
    EXPECT_EQ(BD->Table_testNTEST->asInteger(), 4);
    EXPECT_EQ(readColumn(testFile(), "NTEST"), (QStringList{"1", "2", "3", "4"}));
    EXPECT_EQ(readColumn(testFile(), "NAME").last(), QStringLiteral("Тест четыре"));
}

TEST_F(GridTest, CtrlDeleteAsksAndDeletesOnlyOnOk) {
    grid->setDataSource(BD->DS_test);
    clickCell(1, 0);
    {
        MessageRecorder rec(false);
        key(Qt::Key_Delete, Qt::ControlModifier);
        EXPECT_EQ(rec.texts(), QStringList{"Delete record?"});
        EXPECT_EQ(grid->model()->rowCount(), 3);
    }
    {
        MessageRecorder rec(true);
        key(Qt::Key_Delete, Qt::ControlModifier);
        EXPECT_EQ(rec.texts(), QStringList{"Delete record?"});
    }
    EXPECT_EQ(grid->model()->rowCount(), 2);
    EXPECT_EQ(grid->currentIndex().row(), BD->Table_test->recNo());
    EXPECT_EQ(readColumn(testFile(), "NTEST"), (QStringList{"1", "3"}));

    grid->setConfirmDelete(false);
    MessageRecorder rec(false);
    key(Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_TRUE(rec.texts().isEmpty());
    EXPECT_EQ(grid->model()->rowCount(), 1);
}

TEST_F(GridTest, DeletingFromAnEmptyTableSaysSo) {
    grid->setDataSource(BD->DS_summa);
    ASSERT_EQ(grid->model()->rowCount(), 0);
    MessageRecorder rec(true);
    key(Qt::Key_Delete, Qt::ControlModifier);
    ASSERT_EQ(rec.texts().size(), 1);
    EXPECT_TRUE(rec.texts()[0].startsWith(QStringLiteral("Записей нет")));
    // Down in the empty grid starts the first row.
    key(Qt::Key_Down);
    EXPECT_EQ(BD->Table_summa->state(), db::DataSetState::Insert);
    EXPECT_EQ(grid->model()->rowCount(), 1);
}

TEST_F(GridTest, LettersInANumberCellAreRefusedAndTheRecordStaysInEdit) {
    grid->setDataSource(BD->DS_test);
    clickCell(0, col("NTEST"));
    type("abc");
    {
        MessageRecorder rec;
        key(Qt::Key_Return);
        EXPECT_EQ(rec.texts(), QStringList{"'abc' is not a valid integer value"});
    }
    EXPECT_EQ(BD->Table_test->state(), db::DataSetState::Edit);
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(editor, nullptr); // still open with what was typed
    EXPECT_EQ(editor->text(), "abc");
    {
        MessageRecorder rec;
        key(Qt::Key_Down); // leaving cannot post it either
        EXPECT_EQ(rec.texts(), QStringList{"'abc' is not a valid integer value"});
    }
    EXPECT_EQ(BD->Table_test->recNo(), 0);
    EXPECT_EQ(BD->Table_test->state(), db::DataSetState::Edit);
    {
        MessageRecorder rec;
        clickCell(2, col("NAME")); // nor a click on another row; one message, the text kept
        settle();
        EXPECT_EQ(rec.texts(), QStringList{"'abc' is not a valid integer value"});
    }
    EXPECT_EQ(BD->Table_test->recNo(), 0);
    ASSERT_EQ(QApplication::focusWidget(), editor);
    EXPECT_EQ(editor->text(), "abc");
    // Corrected, it goes through.
    editor->selectAll();
    type("9");
    key(Qt::Key_Down);
    EXPECT_EQ(BD->Table_test->state(), db::DataSetState::Browse);
    EXPECT_EQ(readColumn(testFile(), "NTEST"), (QStringList{"9", "2", "3"}));
}

TEST_F(GridTest, TextLongerThanTheFieldIsCutAtItsSize) {
    grid->setDataSource(BD->DS_org);
    clickCell(1, col("PODRU")); // 30 characters
    type(QStringLiteral("Отделение неотложной помощи номер два"));
    key(Qt::Key_Up);
    EXPECT_EQ(readColumn(db.path("bd_org.dbf"), "PODRU")[1],
              QStringLiteral("Отделение неотложной помощи но"));
}

TEST_F(GridTest, TitleClicksDoubleClicksAndReadOnly) {
    grid->setDataSource(BD->DS_test);
    QSignalSpy titles(grid, &ui::DBGrid::titleClicked);
    QSignalSpy doubles(grid, &ui::DBGrid::cellDoubleClicked);
    QHeaderView* header = grid->horizontalHeader();
    const int c = col("NTEST");
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(c) + 5, 5));
    ASSERT_EQ(titles.size(), 1);
    EXPECT_EQ(titles[0][0].toInt(), c);
    EXPECT_EQ(titles[0][1].toString(), "NTEST");
    EXPECT_EQ(BD->Table_test->recNo(), 0); // a title click moves nothing

    const QPoint p = grid->visualRect(grid->model()->index(2, col("NAME"))).center();
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, p);
    EXPECT_EQ(doubles.size(), 1);
    EXPECT_EQ(BD->Table_test->recNo(), 2);

    grid->setReadOnly(true);
    key(Qt::Key_Insert);
    key(Qt::Key_Down);
    type("5");
    key(Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(BD->Table_test->state(), db::DataSetState::Browse);
    EXPECT_EQ(grid->model()->rowCount(), 3);
}

TEST_F(GridTest, WithoutTitlesOrIndicatorTheFirstRowStandsAtTheTopLeft) {
    grid->setDataSource(BD->DS_test);
    grid->setTitles(false);
    grid->setIndicator(false);
    settle();
    EXPECT_FALSE(grid->horizontalHeader()->isVisible());
    EXPECT_EQ(grid->viewport()->geometry().topLeft(), grid->contentsRect().topLeft());
    // The rows and the cursor are those of a grid with titles.
    EXPECT_EQ(grid->model()->rowCount(), 3);
    clickCell(1, col("NAME"));
    EXPECT_EQ(BD->Table_test->recNo(), 1);
    grid->setTitles(true);
    settle();
    EXPECT_GT(grid->viewport()->geometry().top(), grid->contentsRect().top());
}

TEST_F(GridTest, TextTypedIntoACellIsKeptWhenTheGridShowsAnotherSource) {
    grid->setDataSource(BD->DS_test);
    clickCell(1, col("NAME"));
    type(QStringLiteral("Опросник"));
    grid->setDataSource(BD->DS_org);
    EXPECT_EQ(BD->Table_test->state(), db::DataSetState::Edit);
    EXPECT_EQ(BD->Table_testNAME->asString(), QStringLiteral("Опросник"));
    BD->Table_test->next(); // its next move posts it
    EXPECT_EQ(readColumn(testFile(), "NAME")[1], QStringLiteral("Опросник"));
}

TEST_F(GridTest, FollowsADataSourcePointedAtAnotherDataset) {
    db::DataSource source(nullptr, BD->Table_test);
    grid->setDataSource(&source);
    EXPECT_EQ(grid->model()->rowCount(), 3);
    source.setDataSet(BD->Table_org);
    EXPECT_EQ(grid->model()->rowCount(), 2);
    EXPECT_EQ(cell(0, col("NAMEU")), QStringLiteral("Школа №5"));
    source.setDataSet(nullptr);
    EXPECT_EQ(grid->model()->rowCount(), 0);
}

namespace {

// A dataset of a million rows that counts which rows were read.
class CountingDataset : public db::Dataset {
public:
    mutable std::set<size_t> rowsRead;

protected:
    void doOpen() override {
        if (!fields().isEmpty()) return;
        addField(new db::Field(this, "CountN", "N", db::FieldKind::Integer));
        addField(new db::Field(this, "CountS", "S", db::FieldKind::String, 20));
    }
    void doClose() override {}
    size_t viewSize() const override { return 1'000'000; }
    Variant readStored(size_t row, const db::Field* f) const override {
        rowsRead.insert(row);
        return f->fieldName() == "N" ? Variant(int64_t(row)) : Variant(QStringLiteral("строка %1").arg(row));
    }
    void rebuildView() override {}
};

} // namespace

TEST(GridSpeed, AMillionRowsOpenAndScrollReadingOnlyWhatIsShown) {
    CountingDataset ds;
    db::DataSource source(nullptr, &ds);
    ds.open();
    ui::DBGrid grid;
    grid.resize(500, 400);
    grid.setDataSource(&source);
    grid.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
    grid.grab();
    EXPECT_EQ(grid.model()->rowCount(), 1'000'000);
    EXPECT_FALSE(ds.rowsRead.empty()); // the first rows were painted

    ds.last();
    grid.grab();
    EXPECT_EQ(grid.currentIndex().row(), 999'999);
    EXPECT_TRUE(grid.viewport()->rect().intersects(grid.visualRect(grid.currentIndex())));
    EXPECT_TRUE(ds.rowsRead.count(999'999));

    ds.moveBy(-500'000);
    grid.grab();
    EXPECT_EQ(grid.currentIndex().row(), 499'999);
    EXPECT_TRUE(grid.viewport()->rect().intersects(grid.visualRect(grid.currentIndex())));
    QTest::keyClick(&grid, Qt::Key_PageDown);
    grid.verticalScrollBar()->setValue(250'000);
    grid.grab();
    EXPECT_GT(ds.recNo(), 499'999);
    EXPECT_TRUE(ds.rowsRead.count(250'000));
    EXPECT_LT(ds.rowsRead.size(), 300u);
}
