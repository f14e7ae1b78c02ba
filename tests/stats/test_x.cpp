// The chi-square window: the example, recomputation after a typed count, resizing and the button.
#include "app/AppFixture.h"

#include "stats/X.h"
#include "widgets/StringGrid.h"

#include <QLineEdit>
#include <QTest>

namespace {

QStringList rowOf(const ui::StringGrid* g, int r) {
    QStringList out;
    for (int c = 0; c < g->colCount(); ++c)
        out << g->cell(c, r);
    return out;
}

} // namespace

class XWindow : public EmptyAppTest {
protected:
    void SetUp() override {
        EmptyAppTest::SetUp();
        FormX->Show();
        FormX->StringGrid1->setFocus();
        settle();
    }
    void TearDown() override {
        FormX->hide();
        EmptyAppTest::TearDown();
    }
    // Retypes a cell through the grid's editor, as the user does.
    void type(int c, int r, const QString& text) {
        ui::StringGrid* g = FormX->StringGrid1;
        g->setCurrentCell(c, r);
        settle();
        QLineEdit* e = g->editor();
        ASSERT_TRUE(e);
        e->selectAll();
        if (text.isEmpty()) QTest::keyClick(e, Qt::Key_Backspace);
        typeText(e, text);
    }
    QString chi() {
        clickButton(FormX, "Button2");
        return FormX->EditX->text() + QLatin1Char('|') + FormX->EditN->text();
    }
};

TEST_F(XWindow, StartsWithTheExampleAndTheCriticalValues) {
    const ui::StringGrid* g = FormX->StringGrid1;
    EXPECT_EQ(rowOf(g, 0), (QStringList{"", "1", "2", "3"}));
    EXPECT_EQ(rowOf(g, 1), (QStringList{"1", "13", "2", "15"}));
    EXPECT_EQ(rowOf(g, 2), (QStringList{"2", "5", "10", "15"}));
    EXPECT_EQ(rowOf(g, 3), (QStringList{"3", "18", "12", "30"}));
    EXPECT_EQ(FormX->StringGrid2->colCount(), 4);
    EXPECT_EQ(FormX->StringGrid2->rowCount(), 4);
    for (int r = 0; r < 4; ++r)
        EXPECT_EQ(rowOf(FormX->StringGrid2, r).join(QString()), QString()) << r;
    EXPECT_EQ(rowOf(FormX->StringGrid3, 0),
              (QStringList{"N", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}));
    EXPECT_EQ(rowOf(FormX->StringGrid3, 1), (QStringList{"X2", "3.84", "5.99", "7.81", "9.49", "11.1", "12.6",
                                                         "14.1", "15.5", "16.9", "18.3"}));
    EXPECT_EQ(FormX->StringGrid3->colWidth(5), 37);
    EXPECT_EQ(FormX->Edit1->text(), "2");
    EXPECT_EQ(FormX->Edit2->text(), "2");
    EXPECT_TRUE(FormX->StringGrid1->isEditable());
    EXPECT_FALSE(FormX->StringGrid2->isEditable());
    EXPECT_FALSE(FormX->StringGrid3->isEditable());
}

TEST_F(XWindow, RetypingOneCountGivesTheExpectedFrequenciesAndChiSquare) {
    // Before any recomputation the expected cells are empty: the button says so.
    clickButton(FormX, "Button2");
    ASSERT_EQ(messages->texts().size(), 1);
    EXPECT_TRUE(messages->texts()[0].contains(QStringLiteral("(1, 1)")));
    EXPECT_EQ(FormX->EditX->text(), "0");
    messages->clear();

    type(1, 1, QStringLiteral("13"));
    const ui::StringGrid* e = FormX->StringGrid2;
    EXPECT_EQ(rowOf(e, 1), (QStringList{"", "9.0000", "6.0000", "15"}));
    EXPECT_EQ(rowOf(e, 2), (QStringList{"", "9.0000", "6.0000", "15"}));
    EXPECT_EQ(rowOf(e, 3), (QStringList{"", "18", "12", "30"}));
    EXPECT_EQ(chi(), "8.8889| 1");
    EXPECT_TRUE(messages->texts().isEmpty());

    // Totals follow each keystroke; non-whole texts count as 0.
    type(2, 2, QStringLiteral("2.5"));
    EXPECT_EQ(rowOf(FormX->StringGrid1, 2), (QStringList{"2", "5", "2.5", "5"}));
    EXPECT_EQ(rowOf(FormX->StringGrid1, 3), (QStringList{"3", "18", "2", "20"}));
    EXPECT_EQ(FormX->StringGrid2->cell(1, 2), "4.5000"); // 18 * 5 / 20
}

TEST_F(XWindow, AnObservedCellThatIsNotACountStopsTheChiSquare) {
    type(1, 1, QStringLiteral("13"));
    EXPECT_EQ(chi(), "8.8889| 1");
    for (const char* bad : {"2.5", "-3", "abc", "", "2147483648"}) {
        SCOPED_TRACE(bad);
        type(2, 2, QString::fromUtf8(bad));
        messages->clear();
        EXPECT_EQ(chi(), "8.8889| 1");
        ASSERT_EQ(messages->texts().size(), 1);
        EXPECT_TRUE(messages->texts()[0].contains(QStringLiteral("(2, 2)")))
            << messages->texts()[0].toStdString();
    }
}

TEST_F(XWindow, AZeroGrandTotalLeavesTheExpectedCellsEmptyAndTheButtonSaysWhy) {
    for (int c = 1; c <= 2; ++c)
        for (int r = 1; r <= 2; ++r)
            type(c, r, QStringLiteral("0"));
    EXPECT_TRUE(messages->texts().isEmpty()); // no box while typing
    EXPECT_EQ(FormX->StringGrid1->cell(3, 3), "0");
    EXPECT_EQ(FormX->StringGrid2->cell(1, 1), "");
    EXPECT_EQ(chi(), "0|0");
    ASSERT_EQ(messages->texts().size(), 1);
    // A zero row total: its expected frequencies are 0.
    type(1, 1, QStringLiteral("4"));
    type(2, 1, QStringLiteral("4"));
    EXPECT_EQ(FormX->StringGrid2->cell(1, 2), "0.0000");
    messages->clear();
    EXPECT_EQ(chi(), "0|0");
    ASSERT_EQ(messages->texts().size(), 1);
    EXPECT_TRUE(messages->texts()[0].contains(QStringLiteral("(1, 2)")));
}

TEST_F(XWindow, ChangingACategoryCountRewritesOnlyTheHeaders) {
    FormX->Edit2->setText(QStringLiteral("3"));
    for (ui::StringGrid* g : {FormX->StringGrid1, FormX->StringGrid2}) {
        EXPECT_EQ(g->colCount(), 5);
        EXPECT_EQ(g->rowCount(), 4);
        EXPECT_EQ(rowOf(g, 0), (QStringList{"", "1", "2", "3", "4"}));
        EXPECT_EQ(g->cell(0, 3), "3");
    }
    // The old totals now stand in the data area and are read as observations.
    EXPECT_EQ(rowOf(FormX->StringGrid1, 1), (QStringList{"1", "13", "2", "15", ""}));
    EXPECT_EQ(rowOf(FormX->StringGrid1, 3), (QStringList{"3", "18", "12", "30", ""}));
    type(1, 1, QStringLiteral("13"));
    EXPECT_EQ(rowOf(FormX->StringGrid1, 1), (QStringList{"1", "13", "2", "15", "30"}));
    EXPECT_EQ(rowOf(FormX->StringGrid1, 3), (QStringList{"3", "18", "12", "30", "60"}));

    FormX->Edit1->setText(QStringLiteral("1"));
    EXPECT_EQ(FormX->StringGrid1->rowCount(), 3);
    EXPECT_EQ(FormX->StringGrid2->rowCount(), 3);
    EXPECT_EQ(FormX->StringGrid1->cell(0, 2), "2");
    EXPECT_EQ(FormX->StringGrid1->cell(1, 2), "5"); // a row of old data became the totals row
    // A text that is not a whole number gives one category.
    FormX->Edit2->setText(QStringLiteral("x"));
    EXPECT_EQ(FormX->StringGrid1->colCount(), 3);
    EXPECT_TRUE(messages->texts().isEmpty());
}

TEST_F(XWindow, DegreesOfFreedomFollowTheEdits) {
    FormX->Edit2->setText(QStringLiteral("3"));
    FormX->Edit1->setText(QStringLiteral("4"));
    for (int c = 1; c <= 3; ++c)
        for (int r = 1; r <= 4; ++r)
            type(c, r, QString::number(c * r + 1));
    EXPECT_TRUE(chi().endsWith(QStringLiteral("| 6")));
    EXPECT_TRUE(messages->texts().isEmpty());
    // The grid reads "3.0" as no whole number, one column; the degrees of freedom read it as 3.
    FormX->Edit2->setText(QStringLiteral("3.0"));
    EXPECT_EQ(FormX->StringGrid1->colCount(), 3);
    type(1, 1, QStringLiteral("5"));
    EXPECT_TRUE(chi().endsWith(QStringLiteral("| 6")));
    // A text that is no number at all leaves both results.
    FormX->Edit2->setText(QStringLiteral("x"));
    type(1, 1, QStringLiteral("5"));
    messages->clear();
    EXPECT_TRUE(chi().endsWith(QStringLiteral("| 6")));
    ASSERT_EQ(messages->texts().size(), 1);
    EXPECT_TRUE(messages->texts()[0].contains(QStringLiteral("Признаков (1)")));
}

TEST_F(XWindow, CategoryCountsOutsideTheLimitsKeepTheTable) {
    for (const char* bad : {"-1", "101", "99999999999"}) {
        SCOPED_TRACE(bad);
        messages->clear();
        FormX->Edit1->setText(QString::fromLatin1(bad));
        ASSERT_EQ(messages->texts().size(), 1);
        EXPECT_TRUE(messages->texts()[0].contains(QStringLiteral("Признаков (2)")));
        EXPECT_EQ(FormX->StringGrid1->rowCount(), 4);
        EXPECT_EQ(FormX->StringGrid2->rowCount(), 4);
    }
    // The refused count stays in its edit; the chi-square of the old table must not take it.
    messages->clear();
    clickButton(FormX, "Button2");
    ASSERT_EQ(messages->texts().size(), 1);
    EXPECT_TRUE(messages->texts()[0].contains(QStringLiteral("Признаков (2)")));
    EXPECT_EQ(FormX->EditN->text(), QStringLiteral("0"));
    messages->clear();
    FormX->Edit1->setText(QStringLiteral("100"));
    EXPECT_EQ(FormX->StringGrid1->rowCount(), 102);
    EXPECT_EQ(FormX->StringGrid1->cell(0, 101), "101");
    EXPECT_TRUE(messages->texts().isEmpty());
}

TEST_F(XWindow, NoCategoriesGiveNoChiSquare) {
    FormX->Edit1->setText(QStringLiteral("0"));
    EXPECT_EQ(FormX->StringGrid1->rowCount(), 2);
    type(1, 1, QStringLiteral("7"));                // the totals row of an empty table
    EXPECT_EQ(FormX->StringGrid1->cell(3, 1), "0"); // grand total of no rows
    messages->clear();
    EXPECT_EQ(chi(), "0|0");
    EXPECT_EQ(messages->texts().size(), 1);
}

TEST_F(XWindow, RetypingACategoryCountKeepsTheTableTypedIn) {
    // Erasing "2" to type another count passes through one category and back.
    FormX->Edit1->setText(QString());
    EXPECT_EQ(FormX->StringGrid1->rowCount(), 3);
    FormX->Edit1->setText(QStringLiteral("2"));
    EXPECT_EQ(rowOf(FormX->StringGrid1, 2), (QStringList{"2", "5", "10", "15"}));
    EXPECT_EQ(rowOf(FormX->StringGrid1, 3), (QStringList{"3", "18", "12", "30"}));
    EXPECT_TRUE(messages->texts().isEmpty());
}
