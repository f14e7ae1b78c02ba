// Building tests: the construction window over the five catalogue tables.
#include "../app/AppFixture.h"

#include "app/Main.h"
#include "catalogue/CreateTest.h"
#include "catalogue/NameTest.h"
#include "catalogue/TipTest.h"
#include "data/DM.h"
#include "maintenance/Table.h"
#include "maintenance/Unit1.h"
#include "maintenance/Unit2.h"
#include "widgets/DBCombo.h"
#include "widgets/DBGrid.h"
#include "widgets/DBMemo.h"
#include "widgets/DBNavigator.h"
#include "widgets/DBText.h"

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QTest>
#include <QToolTip>

namespace {

using db::Variant;

QString filterOf(Table* t) {
    return t->filtered() ? t->filter() : QString();
}

// Runs body inside the construction window opened from the tables menu, then closes it.
void inCreateTest(const std::function<void()>& body) {
    whenModal([&](QWidget* w) {
        ASSERT_EQ(w, FormCreateTest);
        QApplication::setActiveWindow(FormCreateTest);
        body();
        FormCreateTest->Close();
    });
    FormMain->N13Click();
}

void fltrOn(const QString& text) {
    FormCreateTest->EditTest->setText(text);
    clickButton(FormCreateTest, "ButtonTest");
}

QStringList column(ui::DBGrid* g, int col) {
    QStringList out;
    for (int r = 0; r < g->model()->rowCount(); ++r)
        out << g->model()->index(r, col).data().toString().trimmed();
    return out;
}

// Keys go where the user's would: into the open cell editor, else to the grid.
QWidget* target(ui::DBGrid* g) {
    QWidget* f = QApplication::focusWidget();
    return f && (f == g || g->isAncestorOf(f)) ? f : g;
}

void key(ui::DBGrid* g, Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::keyClick(target(g), k, mods);
    settle();
}

// One key at a time: the first opens the cell editor, the rest go into it.
void typeIn(ui::DBGrid* g, const QString& text) {
    for (QChar c : text)
        typeText(target(g), QString(c));
}

void clickCell(ui::DBGrid* g, int row, int col) {
    g->scrollTo(g->model()->index(row, col));
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, g->visualRect(g->model()->index(row, col)).center());
    settle();
}

// Starts a row with Insert and types the cells from the first column on; an empty text skips
// a cell. Down then posts it (and offers a new row, which Up drops untouched).
void typeRow(ui::DBGrid* g, const QStringList& cells) {
    g->setFocus();
    if (g->model()->rowCount() > 0) clickCell(g, 0, 0);
    key(g, Qt::Key_Insert);
    g->setCurrentIndex(g->model()->index(g->currentIndex().row(), 0));
    for (int i = 0; i < cells.size(); ++i) {
        if (i > 0) key(g, Qt::Key_Tab);
        typeIn(g, cells[i]);
    }
    key(g, Qt::Key_Down);
    if (g->dataSource()->dataSet()->state() == db::DataSetState::Insert) key(g, Qt::Key_Up);
}

void clickTitle(ui::DBGrid* g, int col) {
    QHeaderView* h = g->horizontalHeader();
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                      QPoint(h->sectionViewportPosition(col) + 5, h->height() / 2));
}

int rowsWith(const QString& file, const char* field, int value) {
    db::Table t;
    t.setTableName(file);
    t.open();
    const db::Field* f = t.fieldByName(QString::fromLatin1(field));
    int n = 0;
    for (int r = 0; r < t.rowCount(); ++r)
        if (!t.valueAt(r, f).isNull() && t.valueAt(r, f).toInt() == value) ++n;
    return n;
}

} // namespace

TEST_F(AppTest, FltrOnNarrowsFourTablesAndFltrOffOnlyTheTestTable) {
    FormMain->TestChosen(); // the test name is on show
    BD->Table_test->filterBy(QStringLiteral("TIP=2"));
    BD->Table_otvet->filterBy(QStringLiteral("NOMOTV=6"));
    const int questions = rowsWith(db->path("bd_vopros.DBF"), "NTEST", 3);
    const int keys = rowsWith(db->path("bd_summa.dbf"), "NOMTESTA", 3);
    const int ranges = rowsWith(db->path("bd_analiz.dbf"), "NOMTESTA", 3);
    ASSERT_GT(questions * keys * ranges, 0);
    inCreateTest([&] {
        TFormCreateTest* f = FormCreateTest;
        EXPECT_EQ(f->EditTest->text(), QStringLiteral("1"));
        // Opening changes no filter.
        EXPECT_EQ(filterOf(BD->Table_test), QStringLiteral("TIP=2"));
        BD->Table_vopros->last();
        fltrOn(QStringLiteral("3"));
        EXPECT_EQ(column(f->DBGrid1, 1), QStringList{"3"}); // of another type than the one chosen
        EXPECT_EQ(column(f->DBGrid2, 0), QStringList(questions, QStringLiteral("3")));
        EXPECT_EQ(column(f->DBGrid4, 0), QStringList(keys, QStringLiteral("3")));
        EXPECT_EQ(column(f->DBGrid5, 0), QStringList(ranges, QStringLiteral("3")));
        for (Table* t : {BD->Table_test, BD->Table_vopros, BD->Table_summa, BD->Table_analiz})
            EXPECT_EQ(t->recNo(), 0) << t->objectName().toStdString();
        EXPECT_EQ(f->DBGrid2->currentIndex().row(), 0);
        EXPECT_EQ(FormMain->DBText1->text(), QStringLiteral("Организация учебного и рабочего времени"));
        EXPECT_EQ(filterOf(BD->Table_otvet), QStringLiteral("NOMOTV=6"));

        clickButton(f, "Button1");
        EXPECT_FALSE(BD->Table_test->filtered());
        EXPECT_EQ(BD->Table_test->recNo(), 0);
        EXPECT_EQ(column(f->DBGrid1, 1), (QStringList{"1", "2", "3"}));
        EXPECT_EQ(filterOf(BD->Table_vopros), QStringLiteral("NTEST=3"));
        EXPECT_EQ(filterOf(BD->Table_summa), QStringLiteral("NOMTESTA=3"));
        EXPECT_EQ(filterOf(BD->Table_analiz), QStringLiteral("NOMTESTA=3"));
    });
    // The filters outlive the window.
    EXPECT_EQ(filterOf(BD->Table_vopros), QStringLiteral("NTEST=3"));
    EXPECT_TRUE(messages->entries.empty()) << messages->texts().join("; ").toStdString();
}

TEST_F(AppTest, FltrOnWithTextTheFilterRefusesStopsAtTheTestTable) {
    inCreateTest([&] {
        for (const QString& bad :
             {QString(), QStringLiteral("abc"), QStringLiteral("3 or"), QStringLiteral("3)")}) {
            BD->Table_test->filterBy(QStringLiteral("TIP=2"));
            BD->Table_vopros->filterBy(QStringLiteral("NTEST=1"));
            BD->Table_summa->filterBy(QStringLiteral("NOMTESTA=1"));
            BD->Table_analiz->setFiltered(false);
            messages->clear();
            fltrOn(bad);
            ASSERT_EQ(messages->entries.size(), 1u) << bad.toStdString();
            EXPECT_FALSE(BD->Table_test->filtered()) << bad.toStdString();
            EXPECT_EQ(filterOf(BD->Table_vopros), QStringLiteral("NTEST=1"));
            EXPECT_EQ(filterOf(BD->Table_summa), QStringLiteral("NOMTESTA=1"));
            EXPECT_FALSE(BD->Table_analiz->filtered());
            EXPECT_EQ(FormCreateTest->DBGrid1->model()->rowCount(), 3);
        }
    });
}

TEST_F(AppTest, TitleClicksOpenTheTableWindowModalOnlyForTheKey) {
    inCreateTest([&] {
        TFormCreateTest* f = FormCreateTest;
        const QList<std::pair<ui::DBGrid*, DataSource*>> modeless = {{f->DBGrid1, BD->DS_test},
                                                                     {f->DBGrid2, BD->DS_vopros},
                                                                     {f->DBGrid3, BD->DS_otvet},
                                                                     {f->DBGrid5, BD->DS_analiz}};
        for (const auto& [g, ds] : modeless) {
            clickTitle(g, 1);
            EXPECT_TRUE(FormTable->isVisible());
            EXPECT_FALSE(FormTable->isModal());
            EXPECT_EQ(FormTable->DBGrid1->dataSource(), ds);
            EXPECT_EQ(FormTable->DBNavigator1->dataSource(), ds);
        }
        EXPECT_TRUE(messages->entries.empty()) << messages->texts().join("; ").toStdString();

        // Already open: the window switches to the key table and stays modeless.
        clickTitle(f->DBGrid4, 2);
        EXPECT_EQ(messages->texts(), QStringList{"Cannot make a visible window modal"});
        EXPECT_TRUE(FormTable->isVisible());
        EXPECT_FALSE(FormTable->isModal());
        EXPECT_EQ(FormTable->DBGrid1->dataSource(), BD->DS_summa);
        FormTable->Close();

        // Closed: the key table opens modally over this window.
        bool modal = false;
        whenModal([&](QWidget* w) {
            modal = w == FormTable && FormTable->DBGrid1->dataSource() == BD->DS_summa;
            FormTable->Close();
        });
        clickTitle(f->DBGrid4, 0);
        EXPECT_TRUE(modal);
        EXPECT_TRUE(f->isVisible());
    });
}

TEST_F(AppTest, AnswerListFollowsTheQuestionAndAClickGivesItAnotherSet) {
    inCreateTest([&] {
        TFormCreateTest* f = FormCreateTest;
        ui::DBLookupListBox* list = f->DBLookupListBox1;
        fltrOn(QStringLiteral("1")); // its questions use sets 1 and 2
        ASSERT_EQ(list->count(), BD->Table_otvet->recordCount());
        // Each question: the answer grid on the first option of its set, that option highlighted.
        for (int row : {0, 1, 2}) {
            clickCell(f->DBGrid2, row, 1);
            const int set = int(BD->Table_voprosNOTV->asInteger());
            EXPECT_EQ(BD->Table_otvetNOMOTV->asInteger(), set);
            EXPECT_EQ(f->DBGrid3->currentIndex().row(), BD->Table_otvet->recNo());
            const int first = BD->Table_otvet->recNo();
            if (first > 0) {
                BD->Table_otvet->prior();
                EXPECT_NE(BD->Table_otvetNOMOTV->asInteger(), set);
                BD->Table_otvet->next();
            }
            EXPECT_EQ(list->currentRow(), first);
        }

        // A click on an option of set 3 gives the question that set, saved when it is left.
        clickCell(f->DBGrid2, 0, 1);
        QList<QListWidgetItem*> agree = list->findItems(QStringLiteral("Согласен"), Qt::MatchExactly);
        ASSERT_FALSE(agree.isEmpty());
        list->scrollToItem(agree[0]);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(agree[0]).center());
        EXPECT_EQ(BD->Table_vopros->state(), db::DataSetState::Edit);
        EXPECT_EQ(BD->Table_voprosNOTV->asInteger(), 3);
        EXPECT_EQ(BD->Table_otvetNOMOTV->asInteger(), 3);
        clickCell(f->DBGrid2, 1, 1);
        EXPECT_EQ(BD->Table_vopros->state(), db::DataSetState::Browse);
        BD->Table_vopros->first();
        EXPECT_EQ(BD->Table_voprosNOTV->asInteger(), 3);

        // A set number no option has: the answer grid goes to the first answer row.
        clickCell(f->DBGrid2, 1, 3);
        typeIn(f->DBGrid2, QStringLiteral("99"));
        key(f->DBGrid2, Qt::Key_Tab);
        EXPECT_EQ(BD->Table_voprosNOTV->asInteger(), 99);
        EXPECT_EQ(BD->Table_otvet->recNo(), 0);
        EXPECT_EQ(list->currentRow(), -1);
    });
    EXPECT_TRUE(messages->entries.empty()) << messages->texts().join("; ").toStdString();
}

TEST_F(AppTest, RowsSavedWithoutTheirTestNumberDropOutOfTheFilteredGrids) {
    inCreateTest([&] {
        TFormCreateTest* f = FormCreateTest;
        fltrOn(QStringLiteral("2"));
        const int questions = f->DBGrid2->model()->rowCount();
        const int keys = f->DBGrid4->model()->rowCount();
        // Typed from the second column on: no test number.
        typeRow(f->DBGrid2, {QString(), QStringLiteral("40"), QStringLiteral("Вопрос без теста")});
        typeRow(f->DBGrid4, {QString(), QStringLiteral("1"), QStringLiteral("40")});
        EXPECT_EQ(f->DBGrid2->model()->rowCount(), questions);
        EXPECT_EQ(f->DBGrid4->model()->rowCount(), keys);
        EXPECT_EQ(column(f->DBGrid2, 0), QStringList(questions, QStringLiteral("2")));
        // Stored all the same.
        EXPECT_EQ(rowsWith(db->path("bd_vopros.DBF"), "NVOPR", 40), 1);
        EXPECT_EQ(rowsWith(db->path("bd_summa.dbf"), "SUMVOPR", 40), 1);
    });
}

TEST_F(AppTest, ATestBuiltInTheWindowCanBeChosen) {
    FormMain->CurTipTest = 3;
    inCreateTest([&] {
        TFormCreateTest* f = FormCreateTest;
        fltrOn(QStringLiteral("7"));
        EXPECT_EQ(f->DBGrid1->model()->rowCount(), 0);
        // The type comes from the type chosen last; the rest is typed.
        typeRow(f->DBGrid1,
                {QString(), QStringLiteral("7"), QStringLiteral("Самооценка"), QStringLiteral("1")});
        ASSERT_EQ(f->DBGrid1->model()->rowCount(), 1);
        EXPECT_EQ(BD->Table_testTIP->asInteger(), 3);
        typeRow(f->DBGrid3, {QStringLiteral("9"), QStringLiteral("Верно"), QStringLiteral("1")});
        typeRow(f->DBGrid3, {QStringLiteral("9"), QStringLiteral("Неверно"), QStringLiteral("0")});
        for (const char* n : {"1", "2"}) {
            const QString q = QString::fromLatin1(n);
            typeRow(f->DBGrid2, {QStringLiteral("7"), q, QStringLiteral("Утверждение ") + q,
                                 QStringLiteral("9"), QStringLiteral("2")});
            typeRow(f->DBGrid4, {QStringLiteral("7"), QStringLiteral("1"), q});
        }
        typeRow(f->DBGrid5, {QStringLiteral("7"), QStringLiteral("1"), QStringLiteral("Низкая"),
                             QStringLiteral("0"), QStringLiteral("1")});
        typeRow(f->DBGrid5, {QStringLiteral("7"), QStringLiteral("1"), QStringLiteral("Высокая"),
                             QStringLiteral("2"), QStringLiteral("2")});
        EXPECT_EQ(column(f->DBGrid2, 2), (QStringList{"Утверждение 1", "Утверждение 2"}));
        EXPECT_EQ(column(f->DBGrid4, 2), (QStringList{"1", "2"}));
        EXPECT_EQ(column(f->DBGrid5, 2), (QStringList{"Низкая", "Высокая"}));
        // The answer grid follows the question to the new set.
        clickCell(f->DBGrid2, 1, 1);
        EXPECT_EQ(BD->Table_otvetOTVET->asString().trimmed(), QStringLiteral("Верно"));

        // The texts, through the memo editors.
        auto writeMemo = [](ui::DBGrid* g, int col, TMemoEditor* editor, const QString& text) {
            QTest::mouseDClick(g->viewport(), Qt::LeftButton, {},
                               g->visualRect(g->model()->index(0, col)).center());
            ASSERT_TRUE(editor->isVisible());
            editor->DBMemo1->setFocus();
            typeText(editor->DBMemo1, text);
            editor->DBNavigator1->BtnClick(ui::nbPost);
            editor->Close();
        };
        writeMemo(f->DBGrid1, 4, Form_bdtest, QStringLiteral("Короткая шкала самооценки."));
        clickCell(f->DBGrid5, 0, 1);
        writeMemo(f->DBGrid5, 5, Form_bdanaliz, QStringLiteral("Самооценка занижена."));
    });
    EXPECT_TRUE(messages->entries.empty()) << messages->texts().join("; ").toStdString();

    // Chosen through the catalogue windows.
    QStringList listed;
    QString about;
    whenModal([&](QWidget*) {
        ASSERT_TRUE(BD->Table_spr_test->locate(QStringLiteral("KOD"), {Variant(3)}));
        whenModal([&](QWidget*) {
            listed = column(FormNameTest->DBGrid1, 0);
            ASSERT_TRUE(BD->Table_test->locate(QStringLiteral("NTEST"), {Variant(7)}));
            about = FormNameTest->DBMemo1->toPlainText();
            clickButton(FormNameTest, "ButtonSelect");
        });
        clickButton(TipTestForm, "ButtonSelect");
    });
    TipTestForm->ShowModal();
    EXPECT_EQ(listed, (QStringList{"Поведение в рабочей группе", "Самооценка"}));
    EXPECT_EQ(about, QStringLiteral("Короткая шкала самооценки."));
    EXPECT_EQ(filterOf(BD->Table_vopros), QStringLiteral("NTEST=7"));
    EXPECT_EQ(BD->Table_vopros->recordCount(), 2);
    EXPECT_EQ(BD->Table_voprosKOL->asInteger(), 2);
    BD->Table_analiz->first();
    EXPECT_EQ(BD->Table_analizTEXT->asString(), QStringLiteral("Самооценка занижена."));
    EXPECT_EQ(BD->Table_otvet->lookup(QStringLiteral("NOMOTV"), Variant(9), QStringLiteral("BOTVET")).toInt(),
              1);
    QString report;
    EXPECT_EQ(peerCheck(db->dir(), &report), 0) << report.toStdString();
}

TEST_F(AppTest, ConstructionGridsShowTheirHintsAsTips) {
    inCreateTest([&] {
        TFormCreateTest* f = FormCreateTest;
        const QString memo = QStringLiteral("Щелкните два раза для редактирования Мемо поля");
        const QString title = QStringLiteral("Щелкните на заголовке для редактирования");
        const QList<std::pair<ui::DBGrid*, QString>> grids = {{f->DBGrid1, memo},
                                                              {f->DBGrid2, title},
                                                              {f->DBGrid3, title},
                                                              {f->DBGrid4, title},
                                                              {f->DBGrid5, memo}};
        for (const auto& [g, hint] : grids) {
            // Over a cell, where the mouse rests.
            const QPoint at = g->visualRect(g->model()->index(0, 1)).center();
            QHelpEvent tip(QEvent::ToolTip, at, g->viewport()->mapToGlobal(at));
            QApplication::sendEvent(g->viewport(), &tip);
            EXPECT_EQ(QToolTip::text(), hint) << g->objectName().toStdString();
            QToolTip::hideText();
        }
    });
}
