// Choosing and registering institutions: the institution window and the details window.
#include "RegistryTest.h"

#include "app/Main.h"
#include "data/DM.h"
#include "registry/NewOrg.h"
#include "registry/Org.h"
#include "services/Numbering.h"
#include "widgets/DBCombo.h"
#include "widgets/DBEdit.h"
#include "widgets/DBGrid.h"
#include "widgets/DBNavigator.h"
#include "widgets/DBText.h"

#include <QAction>
#include <QPushButton>
#include <QTest>

namespace {

QString dictText(Table* dict, int code) {
    return dict->lookup(QStringLiteral("KOD"), db::Variant(code), QStringLiteral("TEXT")).toString();
}

// "Новое" in the institution window, then step in the details window.
void newOrg(ui::Form* org, const std::function<void(ui::Form*)>& step) {
    onModal(step);
    clickButton(org, "ButtonNew");
}

int anketFilterCount() {
    return BD->Table_anket->recordCount();
}

} // namespace

TEST(Numbering, LastPlusOneUnlessTakenThenPastTheLargest) {
    using services::nextNumber;
    // The last stored number decides while the next one is free...
    EXPECT_EQ(nextNumber(3, {1, 2, 12, 3}), 4);
    EXPECT_EQ(nextNumber(3, {1, 2, 5, 3}), 4);
    // ...a taken one would give two people one number.
    EXPECT_EQ(nextNumber(3, {1, 2, 4, 3}), 5);
    EXPECT_EQ(nextNumber(1, {1, 2, 9, 1}), 10);
    // Nothing to go on: past the largest, or the first number.
    EXPECT_EQ(nextNumber(std::nullopt, {1, 7}), 8);
    EXPECT_EQ(nextNumber(std::nullopt, {}), 1);
}

TEST_F(AppTest, OrgWindowComesUpOnTheFirstInstitutionAndEveryWayOfClosingPins) {
    BD->Table_org->last();
    ASSERT_EQ(BD->Table_orgNOM_ORG->asInteger(), 3);
    inOrgWindow([](ui::Form* w) {
        auto* org = static_cast<TFormOrg*>(w);
        EXPECT_EQ(BD->Table_orgNOM_ORG->asInteger(), 1);
        EXPECT_EQ(org->DBGrid1->currentIndex().row(), 0);
        EXPECT_TRUE(FormMain->MenuTestir->isEnabled());
        EXPECT_TRUE(FormMain->OrgChosen);
        for (ui::DBText* t : FormMain->orgTexts())
            EXPECT_TRUE(t->isVisibleTo(FormMain)) << t->objectName().toStdString();
        w->close(); // the close box
    });
    EXPECT_FALSE(FormOrg->isVisible());
    EXPECT_EQ(BD->Table_anket->filter(), "NOMU=1");
    EXPECT_TRUE(BD->Table_anket->filtered());
    EXPECT_EQ(anketFilterCount(), 5);
    EXPECT_EQ(BD->Table_anketNOMTESTIR->asInteger(), 1);
    EXPECT_EQ(FormMain->DBText_FAMTESTIR->text(), "Соколова");
    // "Выбрать", the default button, pins the institution the list stands on.
    inOrgWindow([](ui::Form* w) {
        auto* org = static_cast<TFormOrg*>(w);
        org->DBNavigator->BtnClick(ui::nbNext);
        org->DBGrid1->setFocus();
        QTest::keyClick(org->DBGrid1, Qt::Key_Return);
    });
    EXPECT_FALSE(FormOrg->isVisible());
    EXPECT_EQ(BD->Table_anket->filter(), "NOMU=2");
    EXPECT_EQ(anketFilterCount(), 4);
    // Elsewhere the institution cursor empties the list until the window pins again.
    BD->Table_org->first();
    EXPECT_EQ(anketFilterCount(), 0);
    EXPECT_TRUE(messages->entries.empty()) << messages->texts().join("; ").toStdString();
}

TEST_F(AppTest, NewThenCancelAddsNothingAndOffersTheSameNumberAgain) {
    inOrgWindow([](ui::Form* org) {
        newOrg(org, [](ui::Form* w) {
            auto* d = static_cast<TFormNewOrg*>(w);
            EXPECT_EQ(BD->Table_orgNOM_ORG->asInteger(), 4);
            EXPECT_EQ(FormMain->NewOrgState, 1);
            // Code 1 of republic and settlement shows at once; the type starts empty.
            EXPECT_EQ(d->DBLookupComboBox2->currentText(), dictText(BD->Table_spr_resp, 1));
            EXPECT_EQ(d->DBLookupComboBox3->currentText(), dictText(BD->Table_spr_np, 1));
            EXPECT_EQ(d->DBLookupComboBox1->currentText(), "");
            EXPECT_EQ(d->EditNAMEU->text(), "");
            typeText(d->EditNAMEU, QStringLiteral("Гимназия"));
            clickButton(w, "Button2");
        });
        EXPECT_EQ(FormMain->NewOrgState, 0);
        EXPECT_EQ(BD->Table_org->recordCount(), 3);
        newOrg(org, [](ui::Form* w) {
            EXPECT_EQ(BD->Table_orgNOM_ORG->asInteger(), 4);
            clickButton(w, "Button2");
        });
        org->Close();
    });
    EXPECT_EQ(storedColumn(*db, "bd_org.dbf", "NOM_ORG"), (QStringList{"1", "2", "3"}));
}

TEST_F(AppTest, NewThenEnterStoresTheInstitutionAndWaitsForItsFirstTestee) {
    inOrgWindow([](ui::Form* org) {
        newOrg(org, [](ui::Form* w) {
            auto* d = static_cast<TFormNewOrg*>(w);
            d->DBLookupComboBox1->activated(1); // the second institution type
            typeText(d->EditNAMEU, QStringLiteral("Лицей № 5"));
            typeText(d->EditPODRU, QStringLiteral("Начальные классы"));
            clickButton(w, "Button1");
        });
        EXPECT_FALSE(FormNewOrg->isVisible());
        EXPECT_EQ(FormMain->NewOrgState, 2);
        // Back on the first institution: "Выбрать" now would choose that one.
        EXPECT_EQ(BD->Table_orgNOM_ORG->asInteger(), 1);
        EXPECT_EQ(BD->Table_org->recordCount(), 4);
        org->Close();
    });
    EXPECT_EQ(storedColumn(*db, "bd_org.dbf", "NOM_ORG"), (QStringList{"1", "2", "3", "4"}));
    EXPECT_EQ(storedColumn(*db, "bd_org.dbf", "NAMEU").last(), "Лицей № 5");
    EXPECT_EQ(storedColumn(*db, "bd_org.dbf", "PODRU").last(), "Начальные классы");
    EXPECT_EQ(storedColumn(*db, "bd_org.dbf", "RESP").last(), "1");
    EXPECT_EQ(storedColumn(*db, "bd_org.dbf", "NPUNKT").last(), "1");
    const int secondType = BD->Table_spr_org->valueAt(1, BD->SmallintField4).toInt();
    EXPECT_EQ(storedColumn(*db, "bd_org.dbf", "TIPU").last(), QString::number(secondType));
    EXPECT_EQ(BD->Table_anket->filter(), "NOMU=1");
    QString report;
    EXPECT_EQ(peerCheck(db->dir(), &report), 0) << report.toStdString();
    EXPECT_TRUE(messages->entries.empty()) << messages->texts().join("; ").toStdString();
}

TEST_F(AppTest, RegistrationStateThroughCloseBoxEditAndCancel) {
    inOrgWindow([](ui::Form* org) {
        // The close box runs neither button: the new record is saved when the list comes back.
        newOrg(org, [](ui::Form* w) {
            typeText(static_cast<TFormNewOrg*>(w)->EditNAMEU, QStringLiteral("Детский сад"));
            w->close();
        });
        EXPECT_EQ(FormMain->NewOrgState, 1);
        EXPECT_EQ(BD->Table_org->state(), db::DataSetState::Browse);
        EXPECT_EQ(BD->Table_org->recordCount(), 4);
        // "Ввести" after "Редактировать" completes the pending registration.
        onModal([](ui::Form* w) { clickButton(w, "Button1"); });
        clickButton(org, "Button1");
        EXPECT_EQ(FormMain->NewOrgState, 2);
        // Any further "Ввести" means no registration is pending any more.
        onModal([](ui::Form* w) { clickButton(w, "Button1"); });
        clickButton(org, "Button1");
        EXPECT_EQ(FormMain->NewOrgState, 0);
        // "Редактировать" then "Отмена" keeps the stored values.
        FormMain->NewOrgState = 2;
        onModal([](ui::Form* w) {
            auto* d = static_cast<TFormNewOrg*>(w);
            EXPECT_EQ(d->EditNAMEU->text(), "Средняя общеобразовательная школа № 27");
            d->EditNAMEU->selectAll();
            typeText(d->EditNAMEU, QStringLiteral("Другая"));
            d->DBLookupComboBox2->activated(1);
            clickButton(w, "Button2");
        });
        clickButton(org, "Button1");
        EXPECT_EQ(FormMain->NewOrgState, 0);
        org->Close();
    });
    EXPECT_EQ(storedColumn(*db, "bd_org.dbf", "NAMEU"),
              (QStringList{"Средняя общеобразовательная школа № 27", "Технологический колледж",
                           "Завод электроприборов", "Детский сад"}));
    EXPECT_EQ(storedColumn(*db, "bd_org.dbf", "RESP").first(), "1");
    EXPECT_EQ(storedColumn(*db, "bd_org.dbf", "NOM_ORG").last(), "4");
    QString report;
    EXPECT_EQ(peerCheck(db->dir(), &report), 0) << report.toStdString();
}

TEST_F(AppTest, RefusedSaveKeepsTheDetailsWindowOpenAndTheStateUnchanged) {
    inOrgWindow([this](ui::Form* org) {
        newOrg(org, [this](ui::Form* w) {
            auto* d = static_cast<TFormNewOrg*>(w);
            typeText(d->EditNAMEU, QStringLiteral("Школа ✓"));
            clickButton(w, "Button1");
            EXPECT_EQ(messages->texts().size(), 1);
            EXPECT_TRUE(
                messages->texts().value(0).contains(QStringLiteral("В поле «Название учреждения» есть "
                                                                   "символ «✓»")))
                << messages->texts().join("; ").toStdString();
            EXPECT_TRUE(w->isVisible());
            EXPECT_EQ(BD->Table_org->state(), db::DataSetState::Insert);
            EXPECT_EQ(d->EditNAMEU->text(), "Школа ✓");
            EXPECT_EQ(FormMain->NewOrgState, 1);
            clickButton(w, "Button2");
        });
        org->Close();
    });
    EXPECT_EQ(storedColumn(*db, "bd_org.dbf", "NOM_ORG").size(), 3);
}

TEST_F(EmptyAppTest, NumberingFollowsTheLastStoredInstitutionUnlessItsNumberIsTaken) {
    for (int n : {1, 2, 12, 3})
        addOrg(n, QStringLiteral("У%1").arg(n));
    auto newNumber = [] {
        int64_t number = -1;
        inOrgWindow([&](ui::Form* org) {
            newOrg(org, [&](ui::Form* w) {
                number = BD->Table_orgNOM_ORG->asInteger();
                clickButton(w, "Button1");
            });
            org->Close();
        });
        return number;
    };
    EXPECT_EQ(newNumber(), 4);
    // Stored last now: 4; with 5 taken further up, the next is past the largest.
    addOrg(5, QStringLiteral("У5"));
    // An old duplicate stored last, as another tool may have left it: the program itself no
    // longer stores a number that is taken.
    db->add(QStringLiteral("bd_org.dbf"), {4, db::Variant(), QStringLiteral("У4bis")});
    BD->Table_org->refresh();
    EXPECT_EQ(newNumber(), 13);
    EXPECT_EQ(storedColumn(*db, "bd_org.dbf", "NOM_ORG"),
              (QStringList{"1", "2", "12", "3", "4", "5", "4", "13"}));
}

TEST_F(EmptyAppTest, NoInstitutionOrNoNumberStillClosesAndPinsAnEmptyList) {
    // Nothing at all: closing pins an empty list, without a word.
    inOrgWindow([](ui::Form* w) { w->close(); });
    EXPECT_FALSE(FormOrg->isVisible());
    EXPECT_EQ(BD->Table_anket->filter(), TFormOrg::kNoInstitution);
    EXPECT_EQ(BD->Table_anket->recordCount(), 0);
    // "Новое" gives the first number.
    inOrgWindow([](ui::Form* org) {
        newOrg(org, [](ui::Form* w) {
            EXPECT_EQ(BD->Table_orgNOM_ORG->asInteger(), 1);
            clickButton(w, "Button1");
        });
        clickButton(org, "ButtonSelect");
    });
    EXPECT_EQ(BD->Table_anket->filter(), "NOMU=1");
    // An institution without a number stored first and last: neither testees of another
    // institution nor an error when it is chosen; "Новое" goes past the largest number.
    addTestee(0, 1, QStringLiteral("Чужой"));
    addOrg(db::Variant(), QStringLiteral("Без номера"));
    inOrgWindow([](ui::Form* org) {
        newOrg(org, [](ui::Form* w) {
            EXPECT_EQ(BD->Table_orgNOM_ORG->asInteger(), 2);
            clickButton(w, "Button2");
        });
        BD->Table_org->last();
        clickButton(org, "ButtonSelect");
    });
    EXPECT_FALSE(FormOrg->isVisible());
    EXPECT_EQ(BD->Table_anket->filter(), TFormOrg::kNoInstitution);
    EXPECT_EQ(BD->Table_anket->recordCount(), 0);
    // A registration still waiting adds no testee there: it would never show, and each
    // opening would add one more.
    FormMain->NewOrgState = 2;
    inTestirWindow([](ui::Form* w) { w->Close(); });
    BD->Table_org->first(); // the same off the pinned institution
    inTestirWindow([](ui::Form* w) { w->Close(); });
    EXPECT_EQ(storedColumn(*db, "bd_anket.dbf", "NOMU"), (QStringList{"0"}));
    EXPECT_TRUE(messages->entries.empty()) << messages->texts().join("; ").toStdString();
}

TEST_F(EmptyAppTest, ANewNumberCountsInstitutionsAnotherWorkstationStoredAfterTheListWasShown) {
    addOrg(1, QStringLiteral("У1"));
    inOrgWindow([&](ui::Form* org) {
        // Stored elsewhere while the list is on screen, as another workstation would.
        db->add(QStringLiteral("bd_org.dbf"), {7, db::Variant(), QStringLiteral("У7")});
        newOrg(org, [&](ui::Form* w) {
            EXPECT_EQ(BD->Table_orgNOM_ORG->asInteger(), 8);
            clickButton(w, "Button1");
        });
        org->Close();
    });
    EXPECT_EQ(storedColumn(*db, "bd_org.dbf", "NOM_ORG"), (QStringList{"1", "7", "8"}));
}
