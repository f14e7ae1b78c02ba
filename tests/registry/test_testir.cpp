// Choosing, registering and editing testees: the testee window and the questionnaire window.
#include "RegistryTest.h"

#include "app/Main.h"
#include "data/DM.h"
#include "registry/NewTestir.h"
#include "registry/Testir.h"
#include "widgets/DBCombo.h"
#include "widgets/DBEdit.h"
#include "widgets/DBGrid.h"
#include "widgets/DBNavigator.h"
#include "widgets/DBText.h"

#include <QAction>

namespace {

// Chooses the institution with the given stored position in the institution window.
void chooseOrg(int row) {
    inOrgWindow([row](ui::Form* w) {
        BD->Table_org->moveBy(row);
        clickButton(w, "ButtonSelect");
    });
}

// Registers a new institution ("Новое", "Ввести") and chooses it.
void registerOrg(const QString& name) {
    inOrgWindow([name](ui::Form* org) {
        onModal([name](ui::Form* w) {
            typeText(static_cast<ui::Form*>(w)->findChild<ui::DBEdit*>("EditNAMEU"), name);
            clickButton(w, "Button1");
        });
        clickButton(org, "ButtonNew");
        BD->Table_org->last();
        clickButton(org, "ButtonSelect");
    });
}

// Testee numbers of the list, in list order.
QStringList listNumbers() {
    QStringList out;
    Table* t = BD->Table_anket;
    for (int r = 0; r < t->recordCount(); ++r) {
        const db::Variant v = t->valueAt(r, BD->Table_anketNOMTESTIR);
        out << (v.isNull() ? QStringLiteral("-") : QString::number(v.toInt()));
    }
    return out;
}

// "Новый" in the testee window: the number offered, then step in the questionnaire.
int64_t offeredNumber(ui::Form* testir, const std::function<void(ui::Form*)>& step) {
    int64_t number = -1;
    onModal([&](ui::Form* w) {
        number = BD->Table_anketNOMTESTIR->asInteger();
        step(w);
    });
    clickButton(testir, "ButtonNewTestir");
    return number;
}

void enter(ui::Form* w) {
    clickButton(w, "Button1");
}
void cancel(ui::Form* w) {
    clickButton(w, "Button2");
}

} // namespace

TEST_F(AppTest, TesteeWindowShowsTheChosenInstitutionsTesteesAndEnablesTheTestMenu) {
    chooseOrg(2);
    inTestirWindow([](ui::Form* w) {
        auto* t = static_cast<TFormTestir*>(w);
        EXPECT_TRUE(FormMain->N3->isEnabled());
        for (ui::DBText* text : FormMain->testirTexts())
            EXPECT_TRUE(text->isVisibleTo(FormMain)) << text->objectName().toStdString();
        EXPECT_EQ(t->DBGrid1->model()->index(0, 0).data().toString(), "Семёнов");
        // The close box keeps the highlighted testee, as "Выбрать" does.
        t->DBNavigator->BtnClick(ui::nbNext);
        t->DBNavigator->BtnClick(ui::nbNext);
        w->close();
    });
    EXPECT_FALSE(FormTestir->isVisible());
    EXPECT_EQ(BD->Table_anketNOMTESTIR->asInteger(), 3);
    EXPECT_EQ(FormMain->DBText_FAMTESTIR->text(), "Фёдоров");
    inTestirWindow([](ui::Form* w) {
        BD->Table_anket->last();
        clickButton(w, "ButtonSelect");
    });
    EXPECT_EQ(FormMain->DBText_FAMTESTIR->text(), "Волков");
    EXPECT_TRUE(messages->entries.empty()) << messages->texts().join("; ").toStdString();
}

TEST_F(AppTest, NewInstitutionGetsItsFirstTesteeOnceAndNoNumberEverChanges) {
    registerOrg(QStringLiteral("Лицей"));
    ASSERT_EQ(FormMain->NewOrgState, 2);
    ASSERT_EQ(BD->Table_anket->filter(), "NOMU=4");
    inTestirWindow([](ui::Form* w) {
        EXPECT_EQ(listNumbers(), (QStringList{"1"}));
        EXPECT_EQ(BD->Table_anketNOMU->asInteger(), 4);
        EXPECT_EQ(BD->Table_anketFAMTESTIR->asString(), "");
        EXPECT_EQ(offeredNumber(w, enter), 2);
        w->Close();
    });
    EXPECT_EQ(FormMain->NewOrgState, 2); // the first testee leaves the state as it is
    for (int i = 0; i < 2; ++i)
        inTestirWindow([](ui::Form* w) {
            EXPECT_EQ(listNumbers(), (QStringList{"1", "2"}));
            w->Close();
        });
    // Another institution with testees: nothing added, nothing renumbered.
    chooseOrg(0);
    inTestirWindow([](ui::Form* w) {
        EXPECT_EQ(listNumbers(), (QStringList{"1", "2", "3", "4", "5"}));
        w->Close();
    });
    EXPECT_EQ(storedColumn(*db, "bd_anket.dbf", "NOMU").mid(14), (QStringList{"4", "4"}));
    EXPECT_EQ(storedColumn(*db, "bd_anket.dbf", "NOMTESTIR").mid(14), (QStringList{"1", "2"}));
    EXPECT_EQ(storedColumn(*db, "bd_anket.dbf", "NOMTESTIR").size(), 16);
    QString report;
    EXPECT_EQ(peerCheck(db->dir(), &report), 0) << report.toStdString();
}

TEST_F(EmptyAppTest, NewTesteeNumberAfterOneTwoFiveThreeAndAfterATakenNumber) {
    addOrg(1, QStringLiteral("Школа"));
    addOrg(2, QStringLiteral("Колледж"));
    for (int n : {1, 2, 5, 3})
        addTestee(1, n, QStringLiteral("Т%1").arg(n));
    addTestee(2, 9, QStringLiteral("Другая"));
    chooseOrg(0);
    inTestirWindow([](ui::Form* w) {
        ASSERT_EQ(listNumbers(), (QStringList{"1", "2", "5", "3"}));
        // "Отмена" leaves the list as it was and the same number is offered next time.
        EXPECT_EQ(offeredNumber(w, cancel), 4);
        EXPECT_EQ(listNumbers(), (QStringList{"1", "2", "5", "3"}));
        EXPECT_EQ(offeredNumber(w, enter), 4);
        // Now 4 is last and 5 is taken: past the largest of this institution, not of all.
        EXPECT_EQ(offeredNumber(w, enter), 6);
        w->Close();
    });
    EXPECT_EQ(storedColumn(*db, "bd_anket.dbf", "NOMTESTIR"),
              (QStringList{"1", "2", "5", "3", "9", "4", "6"}));
    EXPECT_EQ(storedColumn(*db, "bd_anket.dbf", "NOMU"), (QStringList{"1", "1", "1", "1", "2", "1", "1"}));
}

TEST_F(EmptyAppTest, EmptyListRefusesNewButEditStartsATesteeOfTheInstitution) {
    addOrg(7, QStringLiteral("Школа"));
    chooseOrg(0);
    inTestirWindow([this](ui::Form* w) {
        clickButton(w, "ButtonNewTestir");
        EXPECT_EQ(messages->texts(), (QStringList{"Invalid variant type conversion"}));
        EXPECT_EQ(BD->Table_anket->state(), db::DataSetState::Browse);
        EXPECT_TRUE(w->isVisible());
        onModal([](ui::Form* d) {
            EXPECT_EQ(BD->Table_anket->state(), db::DataSetState::Insert);
            typeText(static_cast<TFormNewTestir*>(d)->EditFAMTESTIR, QStringLiteral("Иванов"));
            enter(d);
        });
        clickButton(w, "ButtonEdit");
        EXPECT_EQ(listNumbers(), (QStringList{"-"}));
        w->Close();
    });
    EXPECT_EQ(storedColumn(*db, "bd_anket.dbf", "NOMU"), (QStringList{"7"}));
    EXPECT_EQ(storedColumn(*db, "bd_anket.dbf", "FAMTESTIR"), (QStringList{"Иванов"}));
}

TEST_F(AppTest, QuestionnaireStoresSexEducationAndRefusesABadYear) {
    chooseOrg(1);
    inTestirWindow([this](ui::Form* w) {
        onModal([this](ui::Form* form) {
            auto* d = static_cast<TFormNewTestir*>(form);
            EXPECT_EQ(d->EditFAMTESTIR->text(), "Ахметов");
            ASSERT_EQ(d->DBComboBoxPol->count(), 2);
            EXPECT_EQ(d->DBComboBoxPol->itemText(0), "М");
            EXPECT_EQ(d->DBComboBoxPol->itemText(1), "Ж");
            EXPECT_EQ(d->DBLookupComboBox1->count(), BD->Table_spr_obr->recordCount());
            d->DBComboBoxPol->activated(1);
            d->DBLookupComboBox1->activated(0);
            d->EditFAMTESTIR->selectAll();
            typeText(d->EditFAMTESTIR, QStringLiteral("Ахметовааааааааааааааа"));
            EXPECT_EQ(d->EditFAMTESTIR->text().size(), 15);
            // A year that is no whole number, then one out of range: said, kept typed, still editing.
            for (const QString& year : {QStringLiteral("19x5"), QStringLiteral("99999")}) {
                messages->clear();
                d->EditGRTESTIR->selectAll();
                typeText(d->EditGRTESTIR, year);
                enter(form);
                EXPECT_EQ(messages->texts().size(), 1) << messages->texts().join("; ").toStdString();
                EXPECT_TRUE(messages->texts().value(0).contains(year))
                    << year.toStdString() << ": " << messages->texts().value(0).toStdString();
                EXPECT_TRUE(form->isVisible());
                EXPECT_EQ(BD->Table_anket->state(), db::DataSetState::Edit);
                EXPECT_EQ(d->EditGRTESTIR->text(), year);
            }
            d->EditGRTESTIR->selectAll();
            typeText(d->EditGRTESTIR, QStringLiteral("2005"));
            enter(form);
            EXPECT_FALSE(form->isVisible());
        });
        clickButton(w, "ButtonEdit");
        w->Close();
    });
    const int firstEducation = BD->Table_spr_obr->valueAt(0, BD->SmallintField2).toInt();
    EXPECT_EQ(storedColumn(*db, "bd_anket.dbf", "FAMTESTIR").value(5), "Ахметоваааааааа");
    EXPECT_EQ(storedColumn(*db, "bd_anket.dbf", "POLTESTIR").value(5), "Ж");
    EXPECT_EQ(storedColumn(*db, "bd_anket.dbf", "GRTESTIR").value(5), "2005");
    EXPECT_EQ(storedColumn(*db, "bd_anket.dbf", "OBRTESTIR").value(5), QString::number(firstEducation));
    QString report;
    EXPECT_EQ(peerCheck(db->dir(), &report), 0) << report.toStdString();
}

TEST_F(AppTest, QuestionnaireCancelAndCloseBox) {
    chooseOrg(1);
    inTestirWindow([](ui::Form* w) {
        // "Отмена" brings the stored values back.
        onModal([](ui::Form* d) {
            typeText(static_cast<TFormNewTestir*>(d)->EditNAMETESTIR, QStringLiteral("ххх"));
            cancel(d);
        });
        clickButton(w, "ButtonEdit");
        EXPECT_EQ(BD->Table_anketNAMETESTIR->asString(), "Руслан");
        // The close box leaves a new testee being entered; the next pinning finishes it.
        EXPECT_EQ(offeredNumber(w,
                                [](ui::Form* d) {
                                    typeText(static_cast<TFormNewTestir*>(d)->EditFAMTESTIR,
                                             QStringLiteral("Новиков"));
                                    d->close();
                                }),
                  5);
        EXPECT_EQ(BD->Table_anket->state(), db::DataSetState::Insert);
        w->Close();
    });
    chooseOrg(1);
    EXPECT_EQ(storedColumn(*db, "bd_anket.dbf", "FAMTESTIR").last(), "Новиков");
    EXPECT_EQ(storedColumn(*db, "bd_anket.dbf", "NOMTESTIR").last(), "5");
    EXPECT_EQ(storedColumn(*db, "bd_anket.dbf", "NAMETESTIR").value(5), "Руслан");
}

TEST_F(AppTest, QuestionnaireRefusesALetterTheTablesCannotHoldInRussianAndKeepsTheInput) {
    chooseOrg(1);
    const QByteArray stored = bytesOf(db->path(QStringLiteral("bd_anket.dbf")));
    inTestirWindow([this](ui::Form* w) {
        onModal([this](ui::Form* form) {
            auto* d = static_cast<TFormNewTestir*>(form);
            d->EditFAMTESTIR->selectAll();
            typeText(d->EditFAMTESTIR, QStringLiteral("Łukasz"));
            enter(form);
            ASSERT_EQ(messages->texts().size(), 1) << messages->texts().join("; ").toStdString();
            EXPECT_TRUE(messages->texts()[0].contains(QStringLiteral("В поле «Фамилия» есть символ «Ł»")))
                << messages->texts()[0].toStdString();
            EXPECT_TRUE(form->isVisible());
            EXPECT_EQ(d->EditFAMTESTIR->text(), QStringLiteral("Łukasz"));
            cancel(form);
        });
        clickButton(w, "ButtonEdit");
        w->Close();
    });
    EXPECT_EQ(bytesOf(db->path(QStringLiteral("bd_anket.dbf"))), stored);
}
