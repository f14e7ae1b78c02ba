// The statistics window on the sample database and on query texts made of literal values.
#include "app/AppFixture.h"

#include "app/Main.h"
#include "data/DM.h"
#include "stats/Stat.h"
#include "stats/X.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>

namespace {

// A query whose second column holds the given values, one row each.
QString valuesSql(const QStringList& values) {
    QStringList rows;
    for (int i = 0; i < values.size(); ++i)
        rows << QStringLiteral("Select %1, %2").arg(i + 1).arg(values[i]);
    return rows.join(QStringLiteral("\n Union All "));
}

// The whole numbers 1 … n as a query.
QString countSql(int n) {
    return QStringLiteral("With Recursive c(i) As (Select 1 Union All Select i+1 From c Where i<%1)\n"
                          "Select i, i From c")
        .arg(n);
}

} // namespace

class StatWindow : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        FormStat->Show();
        messages->clear();
    }
    void TearDown() override {
        FormStat->hide();
        AppTest::TearDown();
    }
    void exec1(const QString& sql) {
        FormStat->MemoSQL1->setPlainText(sql);
        FormStat->ButtonExec1Click();
    }
    void exec2(const QString& sql) {
        FormStat->MemoSQL2->setPlainText(sql);
        FormStat->ButtonExec2Click();
    }
    QString click(const char* button, QLineEdit* result) {
        clickButton(FormStat, button);
        return result->text();
    }
};

TEST_F(StatWindow, DefaultQueriesGiveResultsOnTheSampleDatabase) {
    ASSERT_TRUE(BD->Query1->active());
    ASSERT_TRUE(BD->Query2->active());
    EXPECT_EQ(BD->Query1->recordCount(), 15);
    EXPECT_EQ(BD->Query2->recordCount(), 15);
    for (const char* b : {"ButtonSred", "ButtonSO", "ButtonDisp", "ButtonSto", "Button1", "Button2",
                          "Button3", "Button4", "Button5"})
        clickButton(FormStat, b);
    // Both cursors end on the last row, as stepping through the rows leaves them.
    EXPECT_EQ(BD->Query1->recNo(), 14);
    EXPECT_EQ(BD->Query2->recNo(), 14);
    // KRIT1 of the first 15 rows sums to 221 (by hand from the sample's table).
    EXPECT_EQ(FormStat->EditSred->text(), "14.7333");
    const QRegularExpression number(QStringLiteral("^-?\\d+\\.\\d{4}$"));
    for (QLineEdit* e : FormStat->findChildren<QLineEdit*>()) {
        EXPECT_TRUE(number.match(e->text()).hasMatch()) << e->objectName().toStdString();
        EXPECT_NE(e->text(), "0.0000") << e->objectName().toStdString();
    }
    EXPECT_GT(FormStat->EditR->text().toDouble(), 0.9); // the sample's two criteria rise together
    EXPECT_TRUE(messages->texts().isEmpty()) << messages->texts().join('|').toStdString();
}

TEST_F(StatWindow, MeanSumsTheValuesAsReals) {
    const std::vector<std::pair<QStringList, QString>> cases = {
        {{"1", "2"}, "1.5000"},     {{"0.4", "0.4", "0.4"}, "0.4000"}, {{"0.5", "0.5"}, "0.5000"},
        {{"1.5", "1.5"}, "1.5000"}, {{"-1", "-2"}, "-1.5000"},         {{"1", "2", "4"}, "2.3333"},
        {{"0.1", "-0.1"}, "0.0000"}};
    for (const auto& [values, mean] : cases) {
        SCOPED_TRACE(values.join(',').toStdString());
        exec1(valuesSql(values));
        EXPECT_EQ(click("ButtonSred", FormStat->EditSred), mean);
    }
    exec2(valuesSql({"3", "4"}));
    EXPECT_EQ(click("Button1", FormStat->EditSred2), "3.5000");
    EXPECT_TRUE(messages->texts().isEmpty());
}

TEST_F(StatWindow, VarianceDividesByNMinusOneBelowThirtyRowsAndByNFrom30) {
    exec1(countSql(29)); // 1 … 29: the squares about 15 sum to 2030
    EXPECT_EQ(click("ButtonSred", FormStat->EditSred), "15.0000");
    EXPECT_EQ(click("ButtonDisp", FormStat->EditDisp), "72.5000");
    exec1(countSql(30)); // 1 … 30: 2247.5 about 15.5
    click("ButtonSred", FormStat->EditSred);
    EXPECT_EQ(click("ButtonDisp", FormStat->EditDisp), "74.9167");
    // Around the mean as shown: with the mean not computed, around 0.
    exec1(valuesSql({"1", "3"}));
    EXPECT_EQ(click("ButtonDisp", FormStat->EditDisp), "10.0000");
    EXPECT_EQ(click("ButtonSO", FormStat->EditSO), "2.0000");
    // No rows divide 0 by -1: zero, without a minus sign.
    exec1(QStringLiteral("Select NOM,KRIT1 From bd_stat Where NOM<0"));
    EXPECT_EQ(click("ButtonDisp", FormStat->EditDisp), "0.0000");
    EXPECT_TRUE(messages->texts().isEmpty());
}

TEST_F(StatWindow, StandardDeviationIsTheRootOfTheVarianceAsShown) {
    exec1(valuesSql({"1", "2", "3", "4"}));
    click("ButtonSred", FormStat->EditSred);
    EXPECT_EQ(click("ButtonDisp", FormStat->EditDisp), "1.6667");
    EXPECT_EQ(click("ButtonSto", FormStat->EditSto), "1.2910");
    FormStat->EditDisp->setText(QStringLiteral("  2.25"));
    EXPECT_EQ(click("ButtonSto", FormStat->EditSto), "1.5000");
    FormStat->EditDisp2->setText(QStringLiteral("16"));
    EXPECT_EQ(click("Button4", FormStat->EditStO2), "4.0000");
    EXPECT_TRUE(messages->texts().isEmpty());
}

TEST_F(StatWindow, ExecutingAQueryResetsItsSeriesButNotTheOtherNorTheCorrelation) {
    for (QLineEdit* e : FormStat->findChildren<QLineEdit*>())
        e->setText(QStringLiteral("5"));
    clickButton(FormStat, "ButtonExec1");
    for (QLineEdit* e : {FormStat->EditSred, FormStat->EditSO, FormStat->EditDisp, FormStat->EditSto})
        EXPECT_EQ(e->text(), "0") << e->objectName().toStdString();
    for (QLineEdit* e :
         {FormStat->EditSred2, FormStat->EditSO2, FormStat->EditDisp2, FormStat->EditStO2, FormStat->EditR})
        EXPECT_EQ(e->text(), "5") << e->objectName().toStdString();
    clickButton(FormStat, "ButtonExec2");
    EXPECT_EQ(FormStat->EditStO2->text(), "0");
    EXPECT_EQ(FormStat->EditR->text(), "5");
}

TEST_F(StatWindow, CorrelationOfKnownSeries) {
    exec1(valuesSql({"1", "2", "3", "4"}));
    exec2(valuesSql({"2", "4", "6", "8"}));
    for (const char* b : {"ButtonSred", "ButtonDisp", "ButtonSto", "Button1", "Button3", "Button4"})
        clickButton(FormStat, b);
    EXPECT_EQ(click("Button5", FormStat->EditR), "1.0000");
    exec2(valuesSql({"4", "3", "2", "1"}));
    for (const char* b : {"Button1", "Button3", "Button4"})
        clickButton(FormStat, b);
    EXPECT_EQ(click("Button5", FormStat->EditR), "-1.0000");
    // The edits as they stand: a typed standard deviation halves r.
    FormStat->EditSto->setText(QStringLiteral("2.5820"));
    EXPECT_EQ(click("Button5", FormStat->EditR), "-0.5000");
    EXPECT_TRUE(messages->texts().isEmpty());
}

TEST_F(StatWindow, CorrelationNeedsEqualRowCounts) {
    exec2(QStringLiteral("Select NOM,KRIT3 From bd_stat Where NOM<15"));
    FormStat->EditR->setText(QStringLiteral("0.1234"));
    clickButton(FormStat, "Button5");
    EXPECT_EQ(messages->texts(), QStringList{"Не хватает данных для вычисления коэффициента!"});
    EXPECT_EQ(FormStat->EditR->text(), "0.1234");
}

TEST_F(StatWindow, UndefinedResultsAreReportedAndLeaveTheEdit) {
    struct Case {
        QString sql;
        const char* button;
        QLineEdit* result;
        const char* message; // a part of it
    };
    FormStat->EditSred->setText(QStringLiteral("7"));
    const std::vector<Case> cases = {
        {"Select 1, 1 Where 0", "ButtonSred", FormStat->EditSred, "не вернул ни одной строки"},
        {"Select 1, 1 Where 0", "ButtonSO", FormStat->EditSO, "не вернул ни одной строки"},
        {"Select 1, 5", "ButtonDisp", FormStat->EditDisp, "одну строку"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        FormStat->MemoSQL1->setPlainText(c.sql);
        FormStat->ButtonExec1Click();
        FormStat->EditSred->setText(QStringLiteral("7"));
        c.result->setText(QStringLiteral("old"));
        messages->clear();
        clickButton(FormStat, c.button);
        ASSERT_EQ(messages->texts().size(), 1);
        EXPECT_TRUE(messages->texts()[0].contains(QString::fromUtf8(c.message)))
            << messages->texts()[0].toStdString();
        EXPECT_EQ(c.result->text(), "old");
    }

    // Texts that are not numbers, and a negative variance.
    for (const char* text : {"abc", "12,5", "", "-4"}) {
        SCOPED_TRACE(text);
        FormStat->EditDisp->setText(QString::fromUtf8(text));
        FormStat->EditSto->setText(QStringLiteral("old"));
        messages->clear();
        clickButton(FormStat, "ButtonSto");
        ASSERT_EQ(messages->texts().size(), 1);
        EXPECT_TRUE(messages->texts()[0].contains(QStringLiteral("Дисперсия")));
        EXPECT_EQ(FormStat->EditSto->text(), "old");
    }
    FormStat->EditSred2->setText(QStringLiteral("x"));
    FormStat->EditSO2->setText(QStringLiteral("old"));
    messages->clear();
    clickButton(FormStat, "Button2");
    ASSERT_EQ(messages->texts().size(), 1);
    EXPECT_TRUE(messages->texts()[0].contains(QStringLiteral("Средняя второго запроса")));
    EXPECT_EQ(FormStat->EditSO2->text(), "old");
}

TEST_F(StatWindow, CorrelationWithoutADivisorIsReported) {
    // A constant series has a zero standard deviation; one row each gives n - 1 = 0.
    for (const auto& [a, b] : {std::pair{QStringList{"3", "3", "3"}, QStringList{"1", "2", "3"}},
                               std::pair{QStringList{"3"}, QStringList{"1"}}}) {
        exec1(valuesSql(a));
        exec2(valuesSql(b));
        FormStat->EditSto->setText(a.size() == 1 ? QStringLiteral("1") : QStringLiteral("0.0000"));
        FormStat->EditStO2->setText(QStringLiteral("1"));
        FormStat->EditR->setText(QStringLiteral("old"));
        messages->clear();
        clickButton(FormStat, "Button5");
        EXPECT_EQ(messages->texts().size(), 1);
        EXPECT_EQ(FormStat->EditR->text(), "old");
    }
}

TEST_F(StatWindow, ARefusedQueryTextThroughTheButton) {
    FormStat->EditSred->setText(QStringLiteral("3"));
    FormStat->MemoSQL1->setPlainText(QStringLiteral("Select NOM,KRIT1 From nowhere"));
    clickButton(FormStat, "ButtonExec1");
    ASSERT_EQ(messages->texts().size(), 1);
    EXPECT_FALSE(BD->Query1->active());
    EXPECT_EQ(FormStat->EditSred->text(), "3"); // the results of the old text stay

    for (const char* b : {"ButtonSred", "ButtonSO", "ButtonDisp", "Button5"}) {
        SCOPED_TRACE(b);
        messages->clear();
        clickButton(FormStat, b);
        ASSERT_EQ(messages->texts().size(), 1);
        EXPECT_TRUE(messages->texts()[0].startsWith(QStringLiteral("Запрос 1 не выполнен")));
    }
    // The other series is untouched.
    messages->clear();
    clickButton(FormStat, "Button1");
    EXPECT_TRUE(messages->texts().isEmpty());
    EXPECT_TRUE(BD->Query2->active());
}

TEST_F(StatWindow, ARefusedTextAtActivationIsReportedOnceAndTheOtherQueryIsStillSet) {
    FormStat->hide();
    FormStat->MemoSQL1->setPlainText(QStringLiteral("Select From"));
    FormStat->MemoSQL2->setPlainText(QStringLiteral("Select NOM,KRIT2 From bd_stat Where NOM<5"));
    FormStat->Show();
    EXPECT_EQ(messages->texts().size(), 1);
    EXPECT_FALSE(BD->Query1->active());
    ASSERT_TRUE(BD->Query2->active());
    EXPECT_EQ(BD->Query2->recordCount(), 4);
    EXPECT_EQ(BD->Query2->fields()[1]->fieldName().toUpper(), "KRIT2");
}

TEST_F(StatWindow, AOneColumnResultFailsWithTheDataLayersError) {
    exec1(QStringLiteral("Select NOM From bd_stat"));
    FormStat->EditSred->setText(QStringLiteral("old"));
    clickButton(FormStat, "ButtonSred");
    ASSERT_EQ(messages->texts().size(), 1);
    EXPECT_TRUE(messages->texts()[0].contains(QStringLiteral("нет нужного столбца")));
    EXPECT_EQ(FormStat->EditSred->text(), "old");
}

TEST_F(StatWindow, AChangedMemoTakesEffectWhenTheChiSquareWindowCloses) {
    FormStat->hide();
    bool checked = false;
    whenModal([&](QWidget*) {
        clickButton(FormStat, "ButtonSred");
        EXPECT_EQ(FormStat->EditSred->text(), "14.7333");
        FormStat->MemoSQL1->setPlainText(QStringLiteral("Select NOM,KRIT1 From bd_stat Where NOM<3"));
        EXPECT_EQ(BD->Query1->recordCount(), 15); // not yet
        whenModal([](QWidget* x) {
            EXPECT_EQ(x, FormX);
            FormX->Close();
        });
        clickButton(FormStat, "Button7");
        EXPECT_EQ(BD->Query1->recordCount(), 2);
        EXPECT_EQ(FormStat->EditSred->text(), "14.7333"); // not reset
        checked = true;
        FormStat->Close();
    });
    FormStat->ShowModal();
    EXPECT_TRUE(checked);
    // The query stays open with the window's text after it closes.
    EXPECT_TRUE(BD->Query1->active());
    EXPECT_EQ(BD->Query1->recordCount(), 2);
}

TEST_F(StatWindow, TheMainWindowsStatisticsItemOpensTheWindow) {
    FormStat->hide();
    bool opened = false;
    whenModal([&](QWidget* w) {
        opened = w == FormStat;
        FormStat->Close();
    });
    FormMain->N11->trigger();
    EXPECT_TRUE(opened);
}

TEST_F(StatWindow, AnEndlessQueryShowsAProgressWindowWhoseCancelLeavesTheWindowUsable) {
    bool shown = false;
    whenModal([&](QWidget* w) {
        shown = true;
        EXPECT_EQ(w->objectName(), QStringLiteral("QueryProgress"));
        auto* cancel = w->findChild<QPushButton*>();
        ASSERT_NE(cancel, nullptr);
        EXPECT_EQ(cancel->text(), QStringLiteral("Отмена"));
        cancel->click();
    });
    FormStat->MemoSQL1->setPlainText(QStringLiteral(
        "With Recursive c(x) As (Select 1 Union All Select x+1 From c)\nSelect count(*), 1 From c"));
    clickButton(FormStat, "ButtonExec1");
    EXPECT_TRUE(shown);
    EXPECT_TRUE(messages->texts().isEmpty()) << messages->texts().join('|').toStdString();
    EXPECT_FALSE(BD->Query1->active());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the progress window is gone";

    exec1(countSql(3));
    ASSERT_TRUE(BD->Query1->active());
    EXPECT_EQ(BD->Query1->recordCount(), 3);
    EXPECT_TRUE(messages->texts().isEmpty());
}
