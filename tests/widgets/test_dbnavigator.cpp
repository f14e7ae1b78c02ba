// The navigator bar: which buttons are usable where, what each does to the table and its file,
// the delete question, hints and hidden buttons.
#include "TestDb.h"
#include "UiTest.h"
#include "data/DM.h"
#include "widgets/DBGrid.h"
#include "widgets/DBNavigator.h"

#include <QApplication>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

using db::Variant;
using namespace ui;

namespace {

class NavigatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        db.add("bd_test.DBF", {1, 1, QStringLiteral("Тест один"), 1});
        db.add("bd_test.DBF", {1, 2, QStringLiteral("Тест два"), 2});
        db.add("bd_test.DBF", {2, 3, QStringLiteral("Тест три"), 1});
        BD = new TBD;
        nav = new DBNavigator;
        nav->resize(240, 25);
        nav->setDataSource(BD->DS_test);
        nav->show();
    }
    void TearDown() override {
        delete nav;
        delete BD;
        BD = nullptr;
    }

    // The enabled buttons as a string of their positions' letters: F P N L I D E S C R.
    QString enabled() const {
        static const char letters[] = "FPNLIDESCR";
        QString out;
        for (int i = 0; i < kNavButtonCount; ++i)
            if (nav->button(NavButton(i))->isEnabled()) out += QLatin1Char(letters[i]);
        return out;
    }
    void click(NavButton b) { QTest::mouseClick(nav->button(b), Qt::LeftButton); }
    QStringList names() const { return readColumn(db.path(QStringLiteral("bd_test.DBF")), "NAME"); }

    TestDb db;
    DBNavigator* nav = nullptr;
};

} // namespace

TEST_F(NavigatorTest, ButtonsFollowPositionAndState) {
    EXPECT_EQ(enabled(), "NLIDER");
    click(nbNext);
    EXPECT_EQ(BD->Table_test->recNo(), 1);
    EXPECT_EQ(enabled(), "FPNLIDER");
    click(nbLast);
    EXPECT_EQ(BD->Table_test->recNo(), 2);
    EXPECT_EQ(enabled(), "FPIDER");
    click(nbPrior);
    EXPECT_EQ(BD->Table_test->recNo(), 1);
    click(nbFirst);
    EXPECT_EQ(BD->Table_test->recNo(), 0);

    click(nbEdit);
    EXPECT_EQ(BD->Table_test->state(), db::DataSetState::Edit);
    EXPECT_EQ(enabled(), "NLDSC");
    click(nbCancel);
    EXPECT_EQ(enabled(), "NLIDER");
    click(nbInsert);
    EXPECT_EQ(BD->Table_test->state(), db::DataSetState::Insert);
    EXPECT_EQ(enabled(), "NLDSC");
    click(nbCancel);

    // An empty table: nothing to move over, edit or delete; a read-only one: nothing to change.
    nav->setDataSource(BD->DS_summa);
    EXPECT_EQ(enabled(), "IR");
    BD->Table_test->setReadOnly(true);
    nav->setDataSource(BD->DS_test);
    EXPECT_EQ(enabled(), "NLR");
    BD->Table_test->close();
    EXPECT_EQ(enabled(), "");
    nav->setDataSource(nullptr);
    EXPECT_EQ(enabled(), "");
    nav->BtnClick(nbNext); // no data source: nothing happens
}

TEST_F(NavigatorTest, DeleteAsksFirst) {
    click(nbNext);
    {
        MessageRecorder rec(false);
        click(nbDelete);
        EXPECT_EQ(rec.texts(), QStringList{"Delete record?"});
    }
    EXPECT_EQ(BD->Table_test->recordCount(), 3);
    {
        MessageRecorder rec(true);
        click(nbDelete);
        EXPECT_EQ(rec.texts(), QStringList{"Delete record?"});
    }
    EXPECT_EQ(names(), (QStringList{QStringLiteral("Тест один"), QStringLiteral("Тест три")}));
    nav->setConfirmDelete(false);
    MessageRecorder rec(false);
    click(nbDelete);
    EXPECT_TRUE(rec.texts().isEmpty());
    EXPECT_EQ(names(), QStringList{QStringLiteral("Тест один")});

    // An empty table: no question, the data layer's message.
    nav->setConfirmDelete(true);
    nav->setDataSource(BD->DS_summa);
    rec.answer = true;
    nav->BtnClick(nbDelete);
    ASSERT_EQ(rec.texts().size(), 1);
    EXPECT_TRUE(rec.texts()[0].startsWith(QStringLiteral("Записей нет")));
}

TEST_F(NavigatorTest, PostWritesAndCancelDrops) {
    click(nbEdit);
    BD->Table_testNAME->setAsString(QStringLiteral("Исправлен"));
    click(nbPost);
    EXPECT_EQ(BD->Table_test->state(), db::DataSetState::Browse);
    EXPECT_EQ(names()[0], QStringLiteral("Исправлен"));

    click(nbInsert);
    BD->Table_testNAME->setAsString(QStringLiteral("Лишний"));
    click(nbCancel);
    EXPECT_EQ(BD->Table_test->recordCount(), 3);
    EXPECT_EQ(names().size(), 3);

    // A failing post is reported and the record stays in insert.
    click(nbInsert);
    BD->Table_testNAME->setAsString(QStringLiteral("€ нет в кодовой странице"));
    MessageRecorder rec;
    click(nbPost);
    EXPECT_EQ(rec.texts().size(), 1);
    EXPECT_EQ(BD->Table_test->state(), db::DataSetState::Insert);
}

TEST_F(NavigatorTest, PostTakesTheTextTypedIntoAGridCell) {
    DBGrid grid;
    grid.setDataSource(BD->DS_test);
    grid.show();
    QApplication::setActiveWindow(&grid);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&grid));
    grid.setFocus();
    grid.setCurrentIndex(grid.model()->index(1, 2)); // NAME of the second test
    typeText(&grid, QStringLiteral("Н"));
    typeText(QApplication::focusWidget(), QStringLiteral("овое"));
    click(nbPost); // the button takes no focus: the cell editor is still open
    EXPECT_EQ(BD->Table_test->state(), db::DataSetState::Browse);
    EXPECT_EQ(names()[1], QStringLiteral("Новое"));
}

TEST_F(NavigatorTest, RefreshReadsRowsWrittenElsewhere) {
    db.add("bd_test.DBF", {2, 4, QStringLiteral("Тест четыре"), 1});
    click(nbLast);
    EXPECT_EQ(enabled(), "FPIDER");
    click(nbRefresh);
    EXPECT_EQ(BD->Table_test->recordCount(), 4);
    EXPECT_EQ(BD->Table_testNTEST->asInteger(), 3); // still on the same record, no longer the last
    EXPECT_EQ(enabled(), "FPNLIDER");
}

TEST_F(NavigatorTest, HintsAndVisibleButtons) {
    QStringList names, tips;
    for (int i = 0; i < kNavButtonCount; ++i) {
        names << nav->button(NavButton(i))->objectName();
        tips << nav->button(NavButton(i))->toolTip();
    }
    EXPECT_EQ(names.join(' '),
              "nbFirst nbPrior nbNext nbLast nbInsert nbDelete nbEdit nbPost nbCancel nbRefresh");
    EXPECT_EQ(nav->hints(), defaultNavigatorHints());
    EXPECT_EQ(nav->button(nbRefresh)->statusTip(), "Refresh data");
    EXPECT_EQ(tips.join(""), ""); // no pop-up tips unless asked for

    const QStringList russian = {"Первый",  "Предыдущий",    "Следующий", "Последний", "Добавить",
                                 "Удалить", "Редактировать", "Принять",   "Отменить",  "Обновить"};
    nav->setHints(russian);
    nav->setShowHint(true);
    EXPECT_EQ(nav->hints(), russian);
    EXPECT_EQ(nav->button(nbPost)->toolTip(), QStringLiteral("Принять"));
    nav->setHints({"Начало"}); // the rest keep the standard hints
    EXPECT_EQ(nav->button(nbFirst)->statusTip(), QStringLiteral("Начало"));
    EXPECT_EQ(nav->button(nbPrior)->statusTip(), "Prior record");

    EXPECT_EQ(nav->sizeHint().height(), 25);
    const int fullWidth = nav->sizeHint().width();
    nav->setVisibleButtons({nbFirst, nbPrior, nbNext, nbLast});
    EXPECT_EQ(nav->visibleButtons(), (QSet<NavButton>{nbFirst, nbPrior, nbNext, nbLast}));
    EXPECT_LT(nav->sizeHint().width(), fullWidth);
    settle();
    EXPECT_FALSE(nav->button(nbInsert)->isVisible());
    // The four shown share the whole bar.
    EXPECT_EQ(nav->button(nbLast)->geometry().right(), nav->width() - 1);
    EXPECT_GT(nav->button(nbFirst)->width(), nav->width() / 5);
}
