// Choosing a test: the type window, the test list over it, and what choosing leaves behind.
#include "../app/AppFixture.h"

#include "app/Main.h"
#include "catalogue/NameTest.h"
#include "catalogue/TipTest.h"
#include "data/DM.h"
#include "widgets/DBGrid.h"
#include "widgets/DBMemo.h"
#include "widgets/DBText.h"

#include <QAction>
#include <QLabel>
#include <QTest>

namespace {

using db::Variant;

void addTest(int tip, int ntest, const QString& name, const QString& about = {}) {
    Table* t = BD->Table_test;
    t->append();
    BD->Table_testTIP->setValue(Variant(tip));
    BD->Table_testNTEST->setValue(Variant(ntest));
    BD->Table_testNAME->setValue(Variant(name));
    BD->Table_testKOLKRIT->setValue(Variant(1));
    if (!about.isEmpty()) BD->Table_testXARAKT->setValue(Variant(about));
    t->post();
}

QStringList column0(ui::DBGrid* g) {
    QStringList out;
    for (int r = 0; r < g->model()->rowCount(); ++r)
        out << g->model()->index(r, 0).data().toString().trimmed();
    return out;
}

void pointTypeAt(int code) {
    ASSERT_TRUE(BD->Table_spr_test->locate(QStringLiteral("KOD"), {Variant(code)})) << code;
}

// Opens the type window, stands on the type with that code and presses "&Выбрать"; runs inList
// on the test list that opens over it.
void chooseType(int code, const std::function<void()>& inList) {
    whenModal([&](QWidget* w) {
        ASSERT_EQ(w, TipTestForm);
        pointTypeAt(code);
        whenModal([&](QWidget* list) {
            ASSERT_EQ(list, FormNameTest);
            inList();
        });
        clickButton(TipTestForm, "ButtonSelect");
    });
    TipTestForm->ShowModal();
}

// Chooses the test with that number from the list of its type.
void chooseTest(int code, int ntest) {
    chooseType(code, [&] {
        ASSERT_TRUE(BD->Table_test->locate(QStringLiteral("NTEST"), {Variant(ntest)}));
        QTest::keyClick(FormNameTest->DBGrid1, Qt::Key_Return); // on to the default button
    });
}

QString questionFilter() {
    return BD->Table_vopros->filtered() ? BD->Table_vopros->filter() : QString();
}

} // namespace

TEST_F(AppTest, TypeFourListsExactlyItsTestsInStoredOrder) {
    addTest(4, 21, QStringLiteral("Второй тест типа 4"), QStringLiteral("Описание второго"));
    addTest(2, 22, QStringLiteral("Тест другого типа"));
    addTest(4, 23, QStringLiteral("Третий тест типа 4"));
    QStringList listed;
    QString label, memo;
    chooseType(4, [&] {
        listed = column0(FormNameTest->DBGrid1);
        label = FormNameTest->LabelTipTesta->text();
        memo = FormNameTest->DBMemo1->toPlainText();
        EXPECT_EQ(FormNameTest->DBGrid1->currentIndex().row(), 0);
        EXPECT_TRUE(TipTestForm->isVisible()); // stays open beneath the list
        FormNameTest->Close();
    });
    EXPECT_EQ(FormMain->CurTipTest, 4);
    EXPECT_EQ(label, QStringLiteral("Профессиональная направленность"));
    EXPECT_EQ(listed, (QStringList{"Организация учебного и рабочего времени", "Второй тест типа 4",
                                   "Третий тест типа 4"}));
    EXPECT_EQ(BD->Table_test->filter(), QStringLiteral("TIP=4"));
    EXPECT_EQ(BD->Table_test->recNo(), 0);
    EXPECT_FALSE(memo.isEmpty());
    EXPECT_EQ(memo, BD->Table_testXARAKT->asString());
    EXPECT_FALSE(TipTestForm->isVisible());
    EXPECT_TRUE(messages->entries.empty()) << messages->texts().join("; ").toStdString();
}

TEST_F(AppTest, ChoosingATestFiltersItsQuestionsAndShowsItsName) {
    TFormMain* m = FormMain;
    m->show();
    addTest(4, 24, QStringLiteral("Ещё один тест"));
    chooseType(4, [&] {
        // The second row, by the mouse, then the button.
        ui::DBGrid* g = FormNameTest->DBGrid1;
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, g->visualRect(g->model()->index(1, 0)).center());
        EXPECT_EQ(BD->Table_test->recNo(), 1);
        clickButton(FormNameTest, "ButtonSelect");
    });
    EXPECT_FALSE(FormNameTest->isVisible());
    EXPECT_FALSE(TipTestForm->isVisible());
    EXPECT_EQ(BD->Table_testNTEST->asInteger(), 24); // the chosen test stays current
    EXPECT_EQ(questionFilter(), QStringLiteral("NTEST=24"));
    EXPECT_TRUE(m->MenuTest->isEnabled());
    EXPECT_TRUE(m->MenuRezult->isEnabled());
    EXPECT_TRUE(m->DBText1->isVisible());
    EXPECT_EQ(m->DBText1->text(), QStringLiteral("Ещё один тест"));

    // Another test re-filters the questions, to that test's only, the first one current.
    chooseTest(2, 1);
    EXPECT_EQ(questionFilter(), QStringLiteral("NTEST=1"));
    ASSERT_GT(BD->Table_vopros->recordCount(), 0);
    EXPECT_EQ(BD->Table_vopros->recNo(), 0);
    EXPECT_EQ(BD->Table_voprosNVOPR->asInteger(), 1);
    for (BD->Table_vopros->first(); !BD->Table_vopros->eof(); BD->Table_vopros->next())
        EXPECT_EQ(BD->Table_voprosNTEST->asInteger(), 1);
    EXPECT_EQ(m->DBText1->text(), QStringLiteral("Шкала повседневной тревожности"));
    chooseTest(4, 3);
    EXPECT_EQ(questionFilter(), QStringLiteral("NTEST=3"));
    EXPECT_TRUE(messages->entries.empty()) << messages->texts().join("; ").toStdString();
}

TEST_F(AppTest, DoubleClickAndEnterInTheTypeGridChooseOnce) {
    int shown = 0;
    QObject::connect(FormNameTest, &ui::Form::closed, [&] { ++shown; });
    // Enter in the grid.
    whenModal([&](QWidget*) {
        pointTypeAt(3);
        whenModal([&](QWidget*) { FormNameTest->Close(); });
        TipTestForm->DBGrid1->setFocus();
        QTest::keyClick(TipTestForm->DBGrid1, Qt::Key_Return);
    });
    TipTestForm->ShowModal();
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(FormMain->CurTipTest, 3);
    EXPECT_FALSE(TipTestForm->isVisible());

    // A double-click on a row; each showing starts on the first type.
    whenModal([&](QWidget*) {
        EXPECT_EQ(BD->Table_spr_test->recNo(), 0);
        whenModal([&](QWidget*) { FormNameTest->Close(); });
        ui::DBGrid* g = TipTestForm->DBGrid1;
        const QPoint at = g->visualRect(g->model()->index(1, 0)).center();
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(g->viewport(), Qt::LeftButton, {}, at);
    });
    TipTestForm->ShowModal();
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(FormMain->CurTipTest, 2);
    EXPECT_EQ(FormNameTest->LabelTipTesta->text(), QStringLiteral("Эмоциональное состояние"));
    EXPECT_FALSE(TipTestForm->isVisible());
    EXPECT_TRUE(messages->entries.empty()) << messages->texts().join("; ").toStdString();
}

TEST_F(AppTest, LeavingTheListByCloseKeystrokeStillClosesTheTypeWindow) {
    TFormMain* m = FormMain;
    chooseTest(2, 1);
    chooseType(3, [&] { QTest::keyClick(FormNameTest->DBGrid1, Qt::Key_F4, Qt::AltModifier); });
    EXPECT_FALSE(FormNameTest->isVisible());
    EXPECT_FALSE(TipTestForm->isVisible());
    EXPECT_EQ(m->CurTipTest, 3);
    EXPECT_EQ(BD->Table_test->filter(), QStringLiteral("TIP=3"));
    EXPECT_EQ(BD->Table_test->recNo(), 0);
    EXPECT_EQ(questionFilter(), QStringLiteral("NTEST=1")); // the test chosen before
    EXPECT_TRUE(m->MenuTest->isEnabled());
}

TEST_F(AppTest, CancellingTheTypeWindowChangesNothing) {
    FormMain->CurTipTest = 2;
    whenModal([&](QWidget*) {
        pointTypeAt(4);
        clickButton(TipTestForm, "ButtonCancel");
    });
    TipTestForm->ShowModal();
    whenModal([&](QWidget*) { QTest::keyClick(TipTestForm->DBGrid1, Qt::Key_Escape); });
    TipTestForm->ShowModal();
    EXPECT_FALSE(TipTestForm->isVisible());
    EXPECT_FALSE(FormNameTest->isVisible());
    EXPECT_EQ(FormMain->CurTipTest, 2);
    EXPECT_FALSE(BD->Table_test->filtered());
}

TEST_F(AppTest, TestAppendedAfterChoosingATypeIsListedUnderIt) {
    chooseType(3, [&] { FormNameTest->Close(); });
    // Appended elsewhere, with no type typed.
    Table* t = BD->Table_test;
    t->setFiltered(false);
    t->append();
    BD->Table_testNTEST->setValue(Variant(30));
    BD->Table_testNAME->setValue(Variant(QStringLiteral("Новый тест")));
    t->post();
    QStringList listed;
    chooseType(3, [&] {
        listed = column0(FormNameTest->DBGrid1);
        FormNameTest->Close();
    });
    EXPECT_EQ(listed, (QStringList{"Поведение в рабочей группе", "Новый тест"}));
}

TEST_F(EmptyAppTest, EmptyTypeDictionaryLeavesNothingToChoose) {
    whenModal([&](QWidget*) {
        clickButton(TipTestForm, "ButtonSelect");
        // Enter in the grid is the grid's choice only: one message, not a second by the button.
        QTest::keyClick(TipTestForm->DBGrid1, Qt::Key_Return);
        EXPECT_TRUE(TipTestForm->isVisible());
        EXPECT_FALSE(FormNameTest->isVisible());
        clickButton(TipTestForm, "ButtonCancel");
    });
    TipTestForm->ShowModal();
    EXPECT_EQ(FormMain->CurTipTest, 0);
    EXPECT_EQ(messages->texts(),
              (QStringList{"Invalid variant type conversion", "Invalid variant type conversion"}));
}

TEST_F(EmptyAppTest, EmptyTestListLeavesNothingToChoose) {
    Table* types = BD->Table_spr_test;
    types->append();
    types->fieldByName(QStringLiteral("SPRAV"))->setValue(Variant(1));
    BD->Table_spr_testKOD->setValue(Variant(5));
    BD->Table_spr_testTEXT->setValue(Variant(QStringLiteral("Проективные методики")));
    types->post();
    chooseType(5, [&] {
        EXPECT_EQ(FormNameTest->DBGrid1->model()->rowCount(), 0);
        clickButton(FormNameTest, "ButtonSelect");
        EXPECT_TRUE(FormNameTest->isVisible());
        QTest::keyClick(FormNameTest, Qt::Key_F4, Qt::AltModifier);
    });
    EXPECT_FALSE(TipTestForm->isVisible());
    EXPECT_EQ(FormMain->CurTipTest, 5);
    EXPECT_FALSE(BD->Table_vopros->filtered());
    EXPECT_FALSE(FormMain->MenuTest->isEnabled());
    EXPECT_EQ(messages->texts(), (QStringList{"Invalid variant type conversion"}));
}
