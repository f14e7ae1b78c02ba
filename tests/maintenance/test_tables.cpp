// Table maintenance: the "Табл" items, the generic table view and the two memo editors.
#include "../app/AppFixture.h"
#include "Damage.h"

#include "app/Main.h"
#include "data/DM.h"
#include "dbf/DbfFile.h"
#include "maintenance/Table.h"
#include "maintenance/Unit1.h"
#include "maintenance/Unit2.h"
#include "widgets/DBGrid.h"
#include "widgets/DBMemo.h"
#include "widgets/DBNavigator.h"
#include "widgets/DBText.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QTest>
#include <QToolButton>

namespace {

struct Item {
    QAction* action;
    DataSource* source;
    Table* filtered; // the table whose filter the item switches off, or none
    bool modal;
    QString filter = {}; // a filter set on that table before
};

QList<Item> items() {
    TFormMain* m = FormMain;
    return {
        {m->bdsprav1, BD->DS_spr_test, nullptr, false},
        {m->bdsprobr1, BD->DS_spr_obr, nullptr, true},
        {m->bdsprorg1, BD->DS_spr_org, nullptr, true},
        {m->bdsprresp1, BD->DS_spr_resp, nullptr, true},
        {m->Bdsprnp1, BD->DS_spr_np, nullptr, true},
        {m->bdtest1, BD->DS_test, BD->Table_test, false},
        {m->bdvopros1, BD->DS_vopros, BD->Table_vopros, false},
        {m->bdotvet1, BD->DS_otvet, BD->Table_otvet, false},
        {m->bd_org1, BD->DS_org, BD->Table_org, false},
        {m->bd_anket1, BD->DS_anket, BD->Table_anket, false},
        {m->bdrez1, BD->DS_rez, BD->Table_rez, true},
        {m->bd_rezult1, BD->DS_rezult, BD->Table_rezult, false},
        {m->bd_analiz1, BD->DS_analiz, BD->Table_analiz, false},
        {m->bdsumma1, BD->DS_summa, BD->Table_summa, true},
    };
}

QStringList titles(ui::DBGrid* g) {
    QStringList out;
    for (int c = 0; c < g->model()->columnCount(); ++c)
        out << g->model()->headerData(c, Qt::Horizontal).toString();
    return out;
}

} // namespace

TEST_F(AppTest, TablesMenuHasEveryItemInOrder) {
    QStringList seen;
    for (QAction* a : FormMain->N1Menu->actions())
        seen << (a->isSeparator() ? QStringLiteral("—") : a->text());
    EXPECT_EQ(seen, (QStringList{"Тест",
                                 "—",
                                 "bd_spr_test",
                                 "bd_spr_obr",
                                 "bd_spr_org",
                                 "bd_spr_resp",
                                 "Bd_spr_np",
                                 "—",
                                 "bd_test",
                                 "bd_vopros",
                                 "bd_otvet",
                                 "—",
                                 "bd_org",
                                 "bd_anket",
                                 "—",
                                 "bd_rez",
                                 "bd_rezult",
                                 "bd_analiz",
                                 "bd_summa",
                                 "—",
                                 "bd_test  -  Memo",
                                 "bd_analiz - Memo",
                                 "—",
                                 "Статистика",
                                 "Нормы…",
                                 "—",
                                 "Режим тестируемого",
                                 "Удалить все данные тестируемого…",
                                 "Сменить пароль…"}));
    // The designed items have no hints; the norms, added after them, have one.
    for (QAction* a : FormMain->N1Menu->actions())
        if (a->objectName() != QLatin1String("MenuNorms")) {
            EXPECT_TRUE(a->statusTip().isEmpty()) << a->text().toStdString();
        }
}

TEST_F(AppTest, EachTableItemShowsItsSourceInItsModeWithItsFilterOff) {
    for (const Item& it : items()) {
        SCOPED_TRACE(it.action->text().toStdString());
        if (it.filtered) it.filtered->filterBy(it.filter);
        bool wasModal = false;
        if (it.modal) {
            whenModal([&](QWidget* w) {
                wasModal = w == FormTable;
                FormTable->Close();
            });
        }
        it.action->trigger();
        EXPECT_EQ(FormTable->DBGrid1->dataSource(), it.source);
        EXPECT_EQ(FormTable->DBNavigator1->dataSource(), it.source);
        if (it.modal) {
            EXPECT_TRUE(wasModal);
        } else {
            EXPECT_TRUE(FormTable->isVisible());
            EXPECT_FALSE(FormTable->isModal());
            FormTable->Close();
        }
        if (it.filtered) {
            EXPECT_FALSE(it.filtered->filtered());
            EXPECT_EQ(it.filtered->filter(), it.filter); // the text stays for the next window
        }
    }
    // The dictionary items leave their kind's filter on.
    EXPECT_TRUE(BD->Table_spr_obr->filtered());
    EXPECT_TRUE(messages->entries.empty()) << messages->texts().join("; ").toStdString();
}

TEST_F(AppTest, ModalItemOverTheOpenViewRepointsItAndFails) {
    FormMain->bdtest1->trigger();
    ASSERT_TRUE(FormTable->isVisible());
    FormMain->bdsprobr1->trigger();
    EXPECT_EQ(messages->texts(), QStringList{"Cannot make a visible window modal"});
    EXPECT_TRUE(FormTable->isVisible());
    EXPECT_EQ(FormTable->DBGrid1->dataSource(), BD->DS_spr_obr);
    // A modeless item re-points the open view without a message.
    messages->clear();
    FormMain->bd_org1->trigger();
    EXPECT_EQ(FormTable->DBGrid1->dataSource(), BD->DS_org);
    EXPECT_TRUE(messages->entries.empty());
    FormTable->Close();
}

TEST_F(AppTest, TableViewShowsEveryFieldWithLabelsAndWidths) {
    FormMain->bd_org1->trigger();
    ui::DBGrid* g = FormTable->DBGrid1;
    QStringList expected;
    for (Field* f : BD->Table_org->fields())
        expected << f->displayLabel();
    EXPECT_EQ(titles(g), expected);
    EXPECT_TRUE(titles(g).contains(BD->Table_orgRSP->displayLabel()));
    // Wider display widths give wider columns.
    const int nameCol = int(BD->Table_org->fields().indexOf(BD->Table_orgNAMEU));
    const int numCol = int(BD->Table_org->fields().indexOf(BD->Table_orgNOM_ORG));
    EXPECT_GT(g->columnWidth(nameCol), g->columnWidth(numCol));
    FormTable->Close();
}

TEST_F(AppTest, OpeningBdTestMovesTheCurrentTestAndTheNameFollows) {
    FormMain->TestChosen();
    Table* t = BD->Table_test;
    t->first();
    const QString first = BD->Table_testNAME->asString();
    t->filterBy(QStringLiteral("NTEST>1"));
    t->last();
    ASSERT_NE(FormMain->DBText1->text(), first);
    FormMain->bdtest1->trigger();
    EXPECT_FALSE(t->filtered());
    EXPECT_EQ(t->recNo(), 0);
    EXPECT_EQ(FormMain->DBText1->text(), first);
    FormTable->Close();
}

TEST_F(AppTest, OpeningBdOrgMovesTheInstitutionAndItsTesteesFollow) {
    FormMain->InstitutionWindowActivated();
    FormMain->TesteeWindowActivated();
    BD->Table_org->last();
    BD->Table_org->filterBy(QStringLiteral("NOM_ORG>1"));
    FormMain->bd_org1->trigger();
    EXPECT_EQ(BD->Table_org->recNo(), 0);
    EXPECT_FALSE(BD->Table_org->filtered());
    const double org = BD->Table_orgNOM_ORG->asFloat();
    EXPECT_EQ(FormMain->DBText_NAMEU->text(), BD->Table_orgNAMEU->asString());
    for (BD->Table_anket->first(); !BD->Table_anket->eof(); BD->Table_anket->next())
        EXPECT_EQ(BD->Table_anketNOMU->asFloat(), org);
    EXPECT_EQ(FormMain->DBText_FAMTESTIR->text(),
              BD->Table_anket->isEmpty() ? QString() : BD->Table_anketFAMTESTIR->asString());
    FormTable->Close();
}

TEST_F(AppTest, OpeningBdAnketKeepsTheMasterLink) {
    BD->Table_org->first();
    BD->Table_org->next();
    const double org = BD->Table_orgNOM_ORG->asFloat();
    BD->Table_anket->filterBy(QStringLiteral("NOMTESTIR=2"));
    FormMain->bd_anket1->trigger();
    EXPECT_FALSE(BD->Table_anket->filtered());
    EXPECT_EQ(BD->Table_anket->recNo(), 0);
    ASSERT_GT(BD->Table_anket->recordCount(), 1);
    EXPECT_EQ(FormTable->DBGrid1->model()->rowCount(), BD->Table_anket->recordCount());
    for (BD->Table_anket->first(); !BD->Table_anket->eof(); BD->Table_anket->next())
        EXPECT_EQ(BD->Table_anketNOMU->asFloat(), org);
    FormTable->Close();
}

TEST_F(AppTest, OpeningBdVoprosSwitchesTheQuestionFilterOff) {
    BD->Table_vopros->filterBy(QStringLiteral("NTEST=1"));
    const int ofTest = BD->Table_vopros->recordCount();
    FormMain->bdvopros1->trigger();
    EXPECT_GT(BD->Table_vopros->recordCount(), ofTest);
    FormTable->Close();
}

TEST_F(AppTest, RecordAppendedThroughDictionaryWithoutKindDropsOut) {
    Table* t = BD->Table_spr_obr;
    const int before = t->recordCount();
    whenModal([&](QWidget*) {
        ui::DBNavigator* nav = FormTable->DBNavigator1;
        nav->BtnClick(ui::nbInsert);
        BD->Table_spr_obr->fieldByName("KOD")->setValue(db::Variant(int64_t(77)));
        BD->Table_spr_obr->fieldByName("TEXT")->setValue(db::Variant(QStringLiteral("Без вида")));
        nav->BtnClick(ui::nbPost);
        EXPECT_EQ(t->state(), db::DataSetState::Browse);
        FormTable->Close();
    });
    FormMain->bdsprobr1->trigger();
    EXPECT_EQ(t->recordCount(), before);
    // It is stored, though: the whole dictionary table has it.
    db::Table raw;
    raw.setTableName(db->path("bd_sprav.dbf"));
    raw.open();
    EXPECT_TRUE(raw.locate("TEXT", {db::Variant(QStringLiteral("Без вида"))}));
    EXPECT_TRUE(messages->entries.empty()) << messages->texts().join("; ").toStdString();
}

TEST_F(AppTest, TestAppendedThroughBdTestGetsTheCurrentType) {
    FormMain->CurTipTest = 3;
    FormMain->bdtest1->trigger();
    FormTable->DBNavigator1->BtnClick(ui::nbInsert);
    BD->Table_testNTEST->setValue(db::Variant(int64_t(90)));
    BD->Table_testNAME->setValue(db::Variant(QStringLiteral("Новый тест")));
    FormTable->DBNavigator1->BtnClick(ui::nbPost);
    ASSERT_TRUE(BD->Table_test->locate("NTEST", {db::Variant(int64_t(90))}));
    EXPECT_EQ(BD->Table_testTIP->asInteger(), 3);
    FormTable->Close();
}

TEST_F(AppTest, GridErrorsKeepTheRecordInEditAndTheProgramRunning) {
    FormMain->bd_org1->trigger();
    ui::DBGrid* g = FormTable->DBGrid1;
    const int col = int(BD->Table_org->fields().indexOf(BD->Table_orgNOM_ORG));
    const QModelIndex idx = g->model()->index(0, col);
    EXPECT_FALSE(g->model()->setData(idx, QStringLiteral("abc")));
    EXPECT_FALSE(messages->entries.empty());
    EXPECT_EQ(BD->Table_org->state(), db::DataSetState::Edit);
    BD->Table_org->cancel();
    FormTable->Close();
}

TEST_F(EmptyAppTest, DeletingFromAnEmptyTableSaysSo) {
    FormMain->bd_org1->trigger();
    FormTable->DBNavigator1->BtnClick(ui::nbDelete);
    QTest::keyClick(FormTable->DBGrid1, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_TRUE(FormTable->isVisible());
    // No question about a record that is not there; a clear message instead, or nothing to do.
    for (const auto& e : messages->entries)
        EXPECT_NE(e.kind, ui::MessageKind::Confirmation) << e.text.toStdString();
    std::cerr << messages->texts().join(" | ").toStdString() << "\n";
    FormTable->Close();
}

TEST_F(AppTest, MemoEditorsFollowTheCurrentViewAndWriteTheText) {
    BD->Table_test->filterBy(QStringLiteral("TIP=1"));
    FormMain->bdtestMemo1->trigger();
    EXPECT_TRUE(Form_bdtest->isVisible());
    EXPECT_FALSE(Form_bdtest->isModal());
    EXPECT_TRUE(BD->Table_test->filtered()); // the editor touches no filter
    EXPECT_EQ(Form_bdtest->DBGrid1->model()->rowCount(), BD->Table_test->recordCount());
    EXPECT_EQ(Form_bdtest->DBMemo1->toPlainText(), BD->Table_testXARAKT->asString());
    EXPECT_EQ(Form_bdtest->DBGrid1->height(), 153);

    FormMain->bdanalizMemo1->trigger();
    EXPECT_TRUE(Form_bdanaliz->isVisible());
    EXPECT_EQ(Form_bdanaliz->DBGrid1->height(), 145);
    Form_bdanaliz->DBMemo1->setFocus();
    Form_bdanaliz->DBMemo1->selectAll();
    typeText(Form_bdanaliz->DBMemo1, QStringLiteral("Высокий уровень тревожности."));
    Form_bdanaliz->DBNavigator1->BtnClick(ui::nbPost);
    const QString kept = BD->Table_analizTEXT->asString();
    EXPECT_TRUE(kept.contains(QStringLiteral("Высокий уровень тревожности."))) << kept.toStdString();
    EXPECT_TRUE(messages->entries.empty()) << messages->texts().join("; ").toStdString();
    Form_bdtest->Close();
    Form_bdanaliz->Close();
}

TEST_F(AppTest, ChangesPendingInTheTableViewAreSavedWhenTheProgramEnds) {
    FormMain->show();
    FormMain->bd_org1->trigger();
    BD->Table_org->edit();
    BD->Table_orgPODRU->setValue(db::Variant(QStringLiteral("Кабинет психолога")));
    // A value that cannot be stored keeps the program open and the record in edit.
    BD->Table_org->fieldByName("NOM_ORG")->setValue(db::Variant(1e30));
    FormMain->MenuExit->trigger();
    EXPECT_TRUE(FormMain->isVisible());
    EXPECT_EQ(messages->entries.size(), 1u);
    EXPECT_EQ(BD->Table_org->state(), db::DataSetState::Edit);
    // Corrected, the program ends with the change stored.
    BD->Table_org->fieldByName("NOM_ORG")->setValue(db::Variant(1.0));
    FormMain->MenuExit->trigger();
    EXPECT_FALSE(FormMain->isVisible());
    db::Table raw;
    raw.setTableName(db->path("bd_org.dbf"));
    raw.open();
    EXPECT_EQ(raw.fieldByName("PODRU")->asString(), QStringLiteral("Кабинет психолога"));
}

TEST_F(AppTest, AnEditOfAMemoWhoseBlockLiesPastTheEndStoresTheTextInANewBlock) {
    const QString file = db->path(QStringLiteral("bd_analiz.dbf"));
    const qint64 at = fieldOffset(file, 0, "TEXT");
    ASSERT_GT(at, 0);
    patchFile(file, at, QByteArray("     99999"));
    BD->Table_analiz->close();
    BD->Table_analiz->open();
    BD->Table_analiz->first();
    FormMain->bdanalizMemo1->trigger();
    ASSERT_TRUE(Form_bdanaliz->isVisible());
    Form_bdanaliz->DBMemo1->setFocus();
    Form_bdanaliz->DBMemo1->selectAll();
    typeText(Form_bdanaliz->DBMemo1, QStringLiteral("Текст заново."));
    Form_bdanaliz->DBNavigator1->BtnClick(ui::nbPost);
    settle();
    EXPECT_LE(messages->texts().size(), 1) << messages->texts().join("; ").toStdString();
    for (const QString& m : messages->texts())
        EXPECT_TRUE(m.contains(QStringLiteral("повреждён"))) << m.toStdString();
    EXPECT_EQ(BD->Table_analiz->state(), db::DataSetState::Browse);
    Form_bdanaliz->Close();
    // Read afresh: a new block holds the text, and an outside reader reads the table.
    EXPECT_NE(bytesOf(file).mid(at, 10), QByteArray("     99999"));
    const auto f = dbf::DbfFile::open(file.toStdString());
    EXPECT_EQ(f->readMemo(0, f->fieldIndex("TEXT")), QStringLiteral("Текст заново."));
    QString report;
    EXPECT_EQ(peerCheck(db->dir(), &report), 0) << report.toStdString();
}
