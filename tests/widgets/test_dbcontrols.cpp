// The data-aware controls on the program's tables: what they show as the cursor moves, how typed
// text reaches the record and the file, refused values, and the lookup controls.
#include "Errors.h"
#include "TestDb.h"
#include "UiTest.h"
#include "data/DM.h"
#include "widgets/DBCombo.h"
#include "widgets/DBEdit.h"
#include "widgets/DBGrid.h"
#include "widgets/DBMemo.h"
#include "widgets/DBNavigator.h"
#include "widgets/DBText.h"
#include "widgets/Form.h"
#include "widgets/Handler.h"

#include <QApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>
#include <memory>

using db::DataSetState;
using db::Variant;

namespace {

class DBControlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto [kind, code, text] :
             std::initializer_list<std::tuple<int, int, const char*>>{{2, 1, "Среднее"},
                                                                      {2, 2, "Высшее"},
                                                                      {3, 2, "Больница"},
                                                                      {3, 1, "Школа"},
                                                                      {3, 5, "Интернат"},
                                                                      {4, 1, "Татарстан"},
                                                                      {5, 1, "Казань"}})
            db.add("bd_sprav.dbf", {kind, code, QString::fromUtf8(text)});
        db.add("bd_org.dbf",
               {1.0, 1, QStringLiteral("Школа №5"), QStringLiteral("Начальные классы"), 1.0, 1.0});
        db.add("bd_org.dbf", {2.0, 7, QStringLiteral("Гимназия"), QString(), 9.0, 1.0});
        db.add("bd_anket.dbf", {1.0, 1.0, QStringLiteral("Иванова"), QStringLiteral("Анна"), QString(),
                                QStringLiteral("Ж"), 1990, 2});
        db.add("bd_anket.dbf", {2.0, 1.0, QStringLiteral("Петров"), QStringLiteral("Иван"), QString(),
                                QStringLiteral("М"), 1985, 1});
        db.add("bd_test.DBF", {1, 1, QStringLiteral("Тест один"), 1, QStringLiteral("Старое описание")});
        db.add("bd_vopros.DBF", {1, 1, QStringLiteral("Вопрос 1"), 2, 2});
        db.add("bd_vopros.DBF", {1, 2, QStringLiteral("Вопрос 2"), 3, 1});
        db.add("bd_vopros.DBF", {1, 3, QStringLiteral("Вопрос 3"), 9, 1});
        for (auto [set, text, points] :
             std::initializer_list<std::tuple<int, const char*, int>>{{1, "да", 1},
                                                                      {1, "нет", 0},
                                                                      {2, "часто", 2},
                                                                      {2, "редко", 1},
                                                                      {2, "никогда", 0},
                                                                      {3, "A", 0}})
            db.add("bd_otvet.dbf", {set, QString::fromUtf8(text), points});
        BD = new TBD;
        window = std::make_unique<QWidget>();
        layout = new QVBoxLayout(window.get());
        other = add<QLineEdit>("other");
        window->resize(400, 400);
        window->show();
        QApplication::setActiveWindow(window.get());
        settle();
    }
    void TearDown() override {
        window.reset();
        delete BD;
        BD = nullptr;
    }
    template <typename T> T* add(const char* name) {
        auto* w = new T(window.get());
        w->setObjectName(QString::fromLatin1(name));
        layout->addWidget(w);
        return w;
    }
    // A row of a table file as another component sees it after it has been written.
    Variant stored(const char* file, int row, const char* field) {
        db::Table t;
        t.setDatabaseName(QStringLiteral("morv"));
        t.setTableName(QString::fromLatin1(file));
        t.open();
        t.moveBy(row);
        return t.fieldValue(QString::fromLatin1(field));
    }
    void leave(QWidget* w) {
        w->setFocus();
        settle();
        other->setFocus();
        settle();
    }

    TestDb db;
    MessageRecorder messages;
    std::unique_ptr<QWidget> window;
    QVBoxLayout* layout = nullptr;
    QLineEdit* other = nullptr;
};

} // namespace

TEST_F(DBControlsTest, TextFollowsTheCursorAndShowsLookups) {
    auto* name = add<ui::DBText>("DBText_NAMEU");
    auto* resp = add<ui::DBText>("DBText_RESP");
    name->setDataSource(BD->DS_org);
    name->setDataField("NAMEU");
    resp->setDataSource(BD->DS_org);
    resp->setDataField("RSP");
    EXPECT_EQ(name->text(), QStringLiteral("Школа №5"));
    EXPECT_EQ(resp->text(), QStringLiteral("Татарстан"));

    BD->Table_org->next();
    EXPECT_EQ(name->text(), QStringLiteral("Гимназия"));
    EXPECT_EQ(resp->text(), QString()); // republic 9 has no dictionary row

    // A changed key changes the lookup text at once, before any post.
    BD->Table_org->edit();
    BD->Table_orgRESP->setValue(1);
    EXPECT_EQ(resp->text(), QStringLiteral("Татарстан"));
    BD->Table_org->cancel();
    EXPECT_EQ(resp->text(), QString());

    // Re-pointed to another source and field; empty and closed datasets show nothing.
    name->setDataSource(BD->DS_anket);
    name->setDataField("FAMTESTIR");
    EXPECT_EQ(name->text(), QString()); // institution 2 has no testees
    BD->Table_org->first();
    EXPECT_EQ(name->text(), QStringLiteral("Иванова"));
    BD->Table_anket->close();
    EXPECT_EQ(name->text(), QString());
    EXPECT_TRUE(messages.entries.empty());
}

TEST_F(DBControlsTest, TextReportsClicksAndDoubleClicks) {
    auto* text = add<ui::DBText>("DBText1");
    text->setDataSource(BD->DS_test);
    text->setDataField("NAME");
    settle();
    QSignalSpy clicks(text, &ui::DBText::clicked);
    QSignalSpy doubles(text, &ui::DBText::doubleClicked);
    QTest::mouseClick(text, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(doubles.count(), 0);
    // What a double-click delivers: press, release, double-click, release.
    QTest::mousePress(text, Qt::LeftButton);
    QTest::mouseRelease(text, Qt::LeftButton);
    QTest::mouseDClick(text, Qt::LeftButton);
    QTest::mouseRelease(text, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 2);
    EXPECT_EQ(doubles.count(), 1);
    QTest::mouseClick(text, Qt::RightButton);
    EXPECT_EQ(clicks.count(), 2);
}

TEST_F(DBControlsTest, EditLimitsTypingAndWritesOnLeaving) {
    auto* edit = add<ui::DBEdit>("EditNAMEU");
    edit->setDataSource(BD->DS_org);
    edit->setDataField("NAMEU");
    EXPECT_EQ(edit->text(), QStringLiteral("Школа №5"));
    EXPECT_EQ(edit->maxLength(), 50);
    EXPECT_FALSE(edit->isReadOnly());

    edit->setFocus();
    edit->selectAll();
    typeText(edit, QString(60, QChar(u'ж')));
    EXPECT_EQ(edit->text().size(), 50);
    EXPECT_EQ(BD->Table_org->state(), DataSetState::Edit);
    EXPECT_EQ(BD->Table_orgNAMEU->asString(), QStringLiteral("Школа №5")); // not yet written

    edit->selectAll();
    typeText(edit, QStringLiteral("Лицей №1"));
    leave(edit);
    EXPECT_EQ(BD->Table_orgNAMEU->asString(), QStringLiteral("Лицей №1"));
    BD->Table_org->post();
    EXPECT_EQ(stored("bd_org.dbf", 0, "NAMEU").toString(), QStringLiteral("Лицей №1"));

    // Moving shows the next record from its beginning; a read-only dataset gives a read-only box.
    BD->Table_org->next();
    EXPECT_EQ(edit->text(), QStringLiteral("Гимназия"));
    EXPECT_EQ(edit->cursorPosition(), 0);
    edit->setDataField("NOM_ORG");
    EXPECT_EQ(edit->text(), QStringLiteral("2"));
    EXPECT_EQ(edit->maxLength(), 32767);
    BD->Table_org->setReadOnly(true);
    edit->setDataSource(nullptr);
    edit->setDataSource(BD->DS_org);
    EXPECT_TRUE(edit->isReadOnly());
    EXPECT_TRUE(messages.entries.empty()) << messages.texts().join('\n').toStdString();
}

TEST_F(DBControlsTest, TypedTextIsWrittenByPostAndByMovesWithoutLeaving) {
    auto* fam = add<ui::DBEdit>("EditFAMTESTIR");
    fam->setDataSource(BD->DS_anket);
    fam->setDataField("FAMTESTIR");
    fam->setFocus();
    fam->selectAll();
    typeText(fam, QStringLiteral("Сидорова"));
    BD->Table_anket->post();
    EXPECT_FALSE(fam->modified());
    EXPECT_EQ(stored("bd_anket.dbf", 0, "FAMTESTIR").toString(), QStringLiteral("Сидорова"));

    fam->selectAll();
    typeText(fam, QStringLiteral("Орлова"));
    BD->Table_anket->next();
    EXPECT_EQ(fam->text(), QStringLiteral("Петров"));
    EXPECT_EQ(stored("bd_anket.dbf", 0, "FAMTESTIR").toString(), QStringLiteral("Орлова"));

    // Cancel drops typed text; a re-pointed or deleted control no longer writes.
    fam->selectAll();
    typeText(fam, QStringLiteral("Брошено"));
    BD->Table_anket->cancel();
    EXPECT_EQ(fam->text(), QStringLiteral("Петров"));
    fam->selectAll();
    typeText(fam, QStringLiteral("Забыто"));
    fam->setDataField("NAMETESTIR");
    EXPECT_EQ(fam->text(), QStringLiteral("Иван"));
    delete fam;
    BD->Table_anket->post();
    EXPECT_EQ(stored("bd_anket.dbf", 1, "FAMTESTIR").toString(), QStringLiteral("Петров"));
    EXPECT_EQ(stored("bd_anket.dbf", 1, "NAMETESTIR").toString(), QStringLiteral("Иван"));
}

TEST_F(DBControlsTest, RefusedNumberStaysTypedUntilEscRestoresIt) {
    auto* year = add<ui::DBEdit>("EditGRTESTIR");
    year->setDataSource(BD->DS_anket);
    year->setDataField("GRTESTIR");
    EXPECT_EQ(year->text(), QStringLiteral("1990"));
    year->setFocus();
    year->selectAll();
    typeText(year, QStringLiteral("abc"));
    QTest::keyClick(year, Qt::Key_Return);
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("'abc' is not a valid integer value")});
    EXPECT_EQ(BD->Table_anket->state(), DataSetState::Edit);
    EXPECT_EQ(year->text(), QStringLiteral("abc"));
    EXPECT_TRUE(year->modified());

    // Leaving reports it again; the post is stopped by the same refusal.
    messages.clear();
    leave(year);
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("'abc' is not a valid integer value")});
    EXPECT_THROW(BD->Table_anket->post(), db::ConversionError);
    EXPECT_EQ(BD->Table_anket->state(), DataSetState::Edit);
    EXPECT_EQ(year->text(), QStringLiteral("abc"));

    year->setFocus();
    QTest::keyClick(year, Qt::Key_Escape);
    EXPECT_EQ(year->text(), QStringLiteral("1990"));
    EXPECT_FALSE(year->modified());
    year->selectAll();
    typeText(year, QStringLiteral("1991"));
    QTest::keyClick(year, Qt::Key_Enter);
    BD->Table_anket->post();
    EXPECT_EQ(stored("bd_anket.dbf", 0, "GRTESTIR").toInt(), 1991);
}

// The classic way: a refused value keeps the focus, and the click that left it does nothing,
// so a save button is not pressed on top of the refusal and the message comes once.
TEST_F(DBControlsTest, ClickAwayFromARefusedValueIsStoppedAndTheFocusComesBack) {
    auto* year = add<ui::DBEdit>("EditGRTESTIR");
    year->setDataSource(BD->DS_anket);
    year->setDataField("GRTESTIR");
    auto* save = add<QPushButton>("save");
    int clicks = 0;
    QObject::connect(save, &QPushButton::clicked, [&] { ++clicks; });

    year->setFocus();
    settle();
    year->selectAll();
    typeText(year, QStringLiteral("19x5"));
    QTest::mouseClick(save, Qt::LeftButton);
    settle();
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("'19x5' is not a valid integer value")});
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(QApplication::focusWidget(), year);
    EXPECT_EQ(year->text(), QStringLiteral("19x5"));

    // Once the value is good the same click goes through, and the next one is not swallowed.
    messages.clear();
    year->selectAll();
    typeText(year, QStringLiteral("1995"));
    QTest::mouseClick(save, Qt::LeftButton);
    QTest::mouseClick(save, Qt::LeftButton);
    EXPECT_EQ(clicks, 2);
    EXPECT_TRUE(messages.entries.empty());
    EXPECT_EQ(BD->Table_anketGRTESTIR->asInteger(), 1995);
}

TEST_F(DBControlsTest, MemoTextReachesTheMemoFile) {
    auto* memo = add<ui::DBMemo>("DBMemo1");
    memo->setDataSource(BD->DS_test);
    memo->setDataField("XARAKT");
    EXPECT_EQ(memo->toPlainText(), QStringLiteral("Старое описание"));
    EXPECT_FALSE(memo->isReadOnly());
    memo->setFocus();
    memo->selectAll();
    typeText(memo, QStringLiteral("Первая строка"));
    QTest::keyClick(memo, Qt::Key_Return); // a new line, not a write
    typeText(memo, QStringLiteral("вторая"));
    EXPECT_EQ(BD->Table_test->state(), DataSetState::Edit);
    EXPECT_EQ(BD->Table_testXARAKT->asString(), QStringLiteral("Старое описание"));
    BD->Table_test->post();
    EXPECT_EQ(stored("bd_test.DBF", 0, "XARAKT").toString(), QStringLiteral("Первая строка\nвторая"));

    // Esc brings back the stored text; the window's read-only setting holds against the data.
    typeText(memo, QStringLiteral("!"));
    QTest::keyClick(memo, Qt::Key_Escape);
    EXPECT_EQ(memo->toPlainText(), QStringLiteral("Первая строка\nвторая"));
    memo->setReadOnly(true);
    BD->Table_test->refresh();
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_TRUE(messages.entries.empty()) << messages.texts().join('\n').toStdString();
}

TEST_F(DBControlsTest, MemoKeepsDosLineBreaksOfTheStoredText) {
    BD->Table_test->edit();
    BD->Table_testXARAKT->setValue(QStringLiteral("один\r\nдва"));
    BD->Table_test->post();
    auto* memo = add<ui::DBMemo>("DBMemo1");
    memo->setDataSource(BD->DS_test);
    memo->setDataField("XARAKT");
    EXPECT_EQ(memo->document()->blockCount(), 2);
    memo->setFocus();
    memo->moveCursor(QTextCursor::End);
    typeText(memo, QStringLiteral("!"));
    BD->Table_test->post();
    EXPECT_EQ(stored("bd_test.DBF", 0, "XARAKT").toString(), QStringLiteral("один\r\nдва!"));
}

TEST_F(DBControlsTest, ComboBoxShowsAndWritesTheSex) {
    auto* pol = add<ui::DBComboBox>("DBComboBoxPol");
    pol->setItems({QStringLiteral("М"), QStringLiteral("Ж")});
    pol->setDataSource(BD->DS_anket);
    pol->setDataField("POLTESTIR");
    EXPECT_EQ(pol->currentText(), QStringLiteral("Ж"));
    BD->Table_anket->next();
    EXPECT_EQ(pol->currentText(), QStringLiteral("М"));

    pol->setFocus();
    QTest::keyClick(pol, Qt::Key_Down);
    EXPECT_EQ(BD->Table_anket->state(), DataSetState::Edit);
    EXPECT_EQ(BD->Table_anketPOLTESTIR->asString(), QStringLiteral("Ж"));
    BD->Table_anket->post();
    EXPECT_EQ(stored("bd_anket.dbf", 1, "POLTESTIR").toString(), QStringLiteral("Ж"));

    // A stored value outside the list is shown, not replaced by an item.
    BD->Table_anket->edit();
    BD->Table_anketPOLTESTIR->setValue(QStringLiteral("M")); // Latin
    EXPECT_EQ(pol->currentIndex(), -1);
    EXPECT_EQ(pol->placeholderText(), QStringLiteral("M"));
}

TEST_F(DBControlsTest, LookupComboListsTheDictionaryAndWritesKeys) {
    auto* tip = add<ui::DBLookupComboBox>("DBLookupComboBox1");
    tip->setDataSource(BD->DS_org);
    tip->setDataField("TIPU");
    tip->setListSource(BD->DS_spr_org);
    tip->setKeyField("KOD");
    tip->setListField("TEXT");
    auto* tu = add<ui::DBText>("DBText_TIPU");
    tu->setDataSource(BD->DS_org);
    tu->setDataField("TU");
    ASSERT_EQ(tip->count(), 3);
    EXPECT_EQ(tip->itemText(0), QStringLiteral("Больница")); // view order, not code order
    EXPECT_EQ(tip->itemText(2), QStringLiteral("Интернат"));
    EXPECT_EQ(tip->currentText(), QStringLiteral("Школа"));

    BD->Table_org->next(); // type 7: no dictionary row
    EXPECT_EQ(tip->currentIndex(), -1);
    BD->Table_org->first();

    tip->setFocus();
    QTest::keyClick(tip, Qt::Key_Down);
    EXPECT_EQ(BD->Table_org->state(), DataSetState::Edit);
    EXPECT_EQ(BD->Table_orgTIPU->asInteger(), 5);
    EXPECT_EQ(tu->text(), QStringLiteral("Интернат"));
    BD->Table_org->post();
    EXPECT_EQ(stored("bd_org.dbf", 0, "TIPU").toInt(), 5);

    // A row posted to the dictionary view shows up in the list.
    BD->Table_spr_org->append();
    BD->Table_spr_org->setFields({3, 8, QStringLiteral("Колледж")});
    BD->Table_spr_org->post();
    ASSERT_EQ(tip->count(), 4);
    EXPECT_EQ(tip->itemText(3), QStringLiteral("Колледж"));
    EXPECT_EQ(tip->currentText(), QStringLiteral("Интернат"));

    // Bound by the lookup field alone, it takes the lookup's dictionary.
    auto* resp = add<ui::DBLookupComboBox>("DBLookupComboBox2");
    resp->setDataSource(BD->DS_org);
    resp->setDataField("RSP");
    ASSERT_EQ(resp->count(), 1);
    EXPECT_EQ(resp->currentText(), QStringLiteral("Татарстан"));
    EXPECT_TRUE(messages.entries.empty()) << messages.texts().join('\n').toStdString();
}

TEST_F(DBControlsTest, LookupListFollowsTheQuestionAndStoresTheClickedSet) {
    auto* list = add<ui::DBLookupListBox>("DBLookupListBox1");
    list->setDataSource(BD->DS_vopros);
    list->setDataField("NOTV");
    list->setListSource(BD->DS_otvet);
    list->setKeyField("NOMOTV");
    list->setListField("OTVET");
    settle();
    ASSERT_EQ(list->count(), 6);
    EXPECT_EQ(list->item(2)->text(), QStringLiteral("часто"));
    EXPECT_EQ(list->currentRow(), 2); // first option of set 2

    BD->Table_vopros->next(); // set 3
    EXPECT_EQ(list->currentRow(), 5);
    EXPECT_EQ(BD->Table_otvetNOMOTV->asInteger(), 3);
    EXPECT_EQ(BD->Table_otvet->recNo(), 5);
    BD->Table_vopros->next(); // set 9: no option has it
    EXPECT_TRUE(list->selectedItems().isEmpty());
    EXPECT_EQ(BD->Table_otvet->recNo(), 0);

    std::vector<Variant> keys;
    QObject::connect(list, &ui::DBLookupListBox::itemClickedKey,
                     [&](const Variant& k) { keys.push_back(k); });
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
    EXPECT_EQ(BD->Table_vopros->state(), DataSetState::Edit);
    EXPECT_EQ(BD->Table_voprosNOTV->asInteger(), 1);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].toInt(), 1);
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_EQ(BD->Table_otvet->recNo(), 0);

    BD->Table_vopros->prior(); // leaving the question saves the set
    EXPECT_EQ(stored("bd_vopros.DBF", 2, "NOTV").toInt(), 1);
    EXPECT_EQ(list->currentRow(), 5);
    EXPECT_TRUE(messages.entries.empty()) << messages.texts().join('\n').toStdString();
}

TEST_F(DBControlsTest, EnterAndEscReachTheWindowsButtonsOnlyWhenTheEditIsDone) {
    ui::Form form;
    auto* lay = new QVBoxLayout(&form);
    auto* year = new ui::DBEdit(&form);
    auto* ok = new QPushButton(QStringLiteral("Ввести"), &form);
    auto* cancel = new QPushButton(QStringLiteral("Отмена"), &form);
    for (QWidget* w : {static_cast<QWidget*>(year), static_cast<QWidget*>(ok), static_cast<QWidget*>(cancel)})
        lay->addWidget(w);
    year->setDataSource(BD->DS_anket);
    year->setDataField("GRTESTIR");
    form.setDefaultButton(ok);
    form.setCancelButton(cancel);
    int oks = 0, cancels = 0;
    ui::on(ok, &QPushButton::clicked, &form, [&] {
        ++oks;
        BD->Table_anket->post();
    });
    QObject::connect(cancel, &QPushButton::clicked, [&] { ++cancels; });
    form.Show();
    settle();

    year->setFocus();
    year->selectAll();
    typeText(year, QStringLiteral("abc"));
    QTest::keyClick(year, Qt::Key_Return); // refused: reported once, the default button stays
    EXPECT_EQ(messages.entries.size(), 1u);
    EXPECT_EQ(oks, 0);
    QTest::keyClick(year, Qt::Key_Escape); // restores the field, does not cancel the window
    EXPECT_EQ(year->text(), QStringLiteral("1990"));
    EXPECT_EQ(cancels, 0);
    QTest::keyClick(year, Qt::Key_Escape);
    EXPECT_EQ(cancels, 1);

    year->selectAll();
    typeText(year, QStringLiteral("2000"));
    QTest::keyClick(year, Qt::Key_Return);
    EXPECT_EQ(oks, 1);
    EXPECT_EQ(stored("bd_anket.dbf", 0, "GRTESTIR").toInt(), 2000);
    EXPECT_EQ(messages.entries.size(), 1u);
}

TEST_F(DBControlsTest, ADeletedDatasetLeavesItsControlsEmptyAndANewOneIsShown) {
    auto open = [&](const char* file, const QString& filter) {
        auto* t = new db::Table;
        t->setTableName(db.path(QString::fromLatin1(file)));
        t->open();
        if (!filter.isEmpty()) t->filterBy(filter);
        return t;
    };
    db::DataSource orgs, kinds;
    db::Table* org = open("bd_org.dbf", {});
    db::Table* kind = open("bd_sprav.dbf", QStringLiteral("SPRAV=3"));
    orgs.setDataSet(org);
    kinds.setDataSet(kind);
    auto* name = add<ui::DBEdit>("EditNAMEU");
    name->setDataSource(&orgs);
    name->setDataField("NAMEU");
    auto* tip = add<ui::DBLookupComboBox>("DBLookupComboBox1");
    tip->setDataSource(&orgs);
    tip->setDataField("TIPU");
    tip->setListSource(&kinds);
    tip->setKeyField("KOD");
    tip->setListField("TEXT");
    auto* grid = add<ui::DBGrid>("DBGrid1");
    grid->setDataSource(&orgs);
    auto* nav = add<ui::DBNavigator>("DBNavigator");
    nav->setDataSource(&orgs);
    ASSERT_EQ(tip->count(), 3);
    EXPECT_EQ(name->text(), QStringLiteral("Школа №5"));
    EXPECT_EQ(grid->model()->rowCount(), 2);

    delete kind;
    EXPECT_EQ(tip->count(), 0);
    delete org;
    EXPECT_EQ(name->text(), QString());
    EXPECT_EQ(name->field(), nullptr);
    EXPECT_EQ(grid->model()->rowCount(), 0);
    settle(); // the grid and navigator repaint without their dataset

    // Whatever address the new datasets get, they are taken for new ones.
    kind = open("bd_sprav.dbf", QStringLiteral("SPRAV=2"));
    org = open("bd_org.dbf", {});
    kinds.setDataSet(kind);
    orgs.setDataSet(org);
    EXPECT_EQ(tip->count(), 2);
    EXPECT_EQ(name->text(), QStringLiteral("Школа №5"));
    EXPECT_EQ(grid->model()->rowCount(), 2);
    delete org;
    delete kind;
    EXPECT_TRUE(messages.entries.empty()) << messages.texts().join('\n').toStdString();
}
