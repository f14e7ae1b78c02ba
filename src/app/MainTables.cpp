// The "Табл" submenu of the main window: table maintenance behind the psychologist's password.
#include "app/Main.h"

#include "catalogue/CreateTest.h"
#include "data/DM.h"
#include "maintenance/Table.h"
#include "maintenance/Unit1.h"
#include "maintenance/Unit2.h"
#include "psychometrics/window/Norms.h"
#include "stats/Stat.h"

#include <QAction>
#include <QMenu>

namespace {
enum class Mode { Modeless, Modal };

// Switches the table's filter off first (which ends its edit and moves to its first record),
// then shows the data source in the generic table view.
void showTable(DataSource* ds, Table* filterOff, Mode mode) {
    if (filterOff) filterOff->setFiltered(false);
    if (mode == Mode::Modal)
        FormTable->ShowModalOn(ds);
    else
        FormTable->ShowOn(ds);
}
} // namespace

void TFormMain::fillTableMenu() {
    QMenu* m = N1Menu;
    auto sep = [&](const char* name) {
        QAction* a = m->addSeparator();
        a->setObjectName(QLatin1String(name));
        return a;
    };
    N13 = item(m, "N13", QStringLiteral("Тест"), {}, &TFormMain::N13Click);
    N14 = sep("N14");
    bdsprav1 = item(m, "bdsprav1", QStringLiteral("bd_spr_test"), {}, &TFormMain::bdsprav1Click);
    bdsprobr1 = item(m, "bdsprobr1", QStringLiteral("bd_spr_obr"), {}, &TFormMain::bdsprobr1Click);
    bdsprorg1 = item(m, "bdsprorg1", QStringLiteral("bd_spr_org"), {}, &TFormMain::bdsprorg1Click);
    bdsprresp1 = item(m, "bdsprresp1", QStringLiteral("bd_spr_resp"), {}, &TFormMain::bdsprresp1Click);
    Bdsprnp1 = item(m, "Bdsprnp1", QStringLiteral("Bd_spr_np"), {}, &TFormMain::Bdsprnp1Click);
    N8 = sep("N8");
    bdtest1 = item(m, "bdtest1", QStringLiteral("bd_test"), {}, &TFormMain::bdtest1Click);
    bdvopros1 = item(m, "bdvopros1", QStringLiteral("bd_vopros"), {}, &TFormMain::bdvopros1Click);
    bdotvet1 = item(m, "bdotvet1", QStringLiteral("bd_otvet"), {}, &TFormMain::bdotvet1Click);
    N9 = sep("N9");
    bd_org1 = item(m, "bd_org1", QStringLiteral("bd_org"), {}, &TFormMain::bd_org1Click);
    bd_anket1 = item(m, "bd_anket1", QStringLiteral("bd_anket"), {}, &TFormMain::bd_anket1Click);
    N10 = sep("N10");
    bdrez1 = item(m, "bdrez1", QStringLiteral("bd_rez"), {}, &TFormMain::bdrez1Click);
    bd_rezult1 = item(m, "bd_rezult1", QStringLiteral("bd_rezult"), {}, &TFormMain::bd_rezult1Click);
    bd_analiz1 = item(m, "bd_analiz1", QStringLiteral("bd_analiz"), {}, &TFormMain::bd_analiz1Click);
    bdsumma1 = item(m, "bdsumma1", QStringLiteral("bd_summa"), {}, &TFormMain::bdsumma1Click);
    N6 = sep("N6");
    bdtestMemo1 =
        item(m, "bdtestMemo1", QStringLiteral("bd_test  -  Memo"), {}, &TFormMain::bdtestMemo1Click);
    bdanalizMemo1 =
        item(m, "bdanalizMemo1", QStringLiteral("bd_analiz - Memo"), {}, &TFormMain::bdanalizMemo1Click);
    N7 = sep("N7");
    N11 = item(m, "N11", QStringLiteral("Статистика"), {}, &TFormMain::N11Click);
    AddNormsItem(m);
    N16 = sep("N16");
    TesteeMode = item(m, "TesteeMode", QStringLiteral("Режим тестируемого"), {}, &TFormMain::TesteeModeClick);
    EraseTestee = item(m, "EraseTestee", QStringLiteral("Удалить все данные тестируемого…"), {},
                       &TFormMain::EraseTesteeClick);
    ChangePassword =
        item(m, "ChangePassword", QStringLiteral("Сменить пароль…"), {}, &TFormMain::ChangePasswordClick);
}

void TFormMain::N13Click() {
    FormCreateTest->ShowModal();
}
void TFormMain::bdsprav1Click() {
    showTable(BD->DS_spr_test, nullptr, Mode::Modeless);
}
void TFormMain::bdsprobr1Click() {
    showTable(BD->DS_spr_obr, nullptr, Mode::Modal);
}
void TFormMain::bdsprorg1Click() {
    showTable(BD->DS_spr_org, nullptr, Mode::Modal);
}
void TFormMain::bdsprresp1Click() {
    showTable(BD->DS_spr_resp, nullptr, Mode::Modal);
}
void TFormMain::Bdsprnp1Click() {
    showTable(BD->DS_spr_np, nullptr, Mode::Modal);
}
void TFormMain::bdtest1Click() {
    showTable(BD->DS_test, BD->Table_test, Mode::Modeless);
}
void TFormMain::bdvopros1Click() {
    showTable(BD->DS_vopros, BD->Table_vopros, Mode::Modeless);
}
void TFormMain::bdotvet1Click() {
    showTable(BD->DS_otvet, BD->Table_otvet, Mode::Modeless);
}
void TFormMain::bd_org1Click() {
    showTable(BD->DS_org, BD->Table_org, Mode::Modeless);
}
void TFormMain::bd_anket1Click() {
    showTable(BD->DS_anket, BD->Table_anket, Mode::Modeless);
}
void TFormMain::bdrez1Click() {
    showTable(BD->DS_rez, BD->Table_rez, Mode::Modal);
}
void TFormMain::bd_rezult1Click() {
    showTable(BD->DS_rezult, BD->Table_rezult, Mode::Modeless);
}
void TFormMain::bd_analiz1Click() {
    showTable(BD->DS_analiz, BD->Table_analiz, Mode::Modeless);
}
void TFormMain::bdsumma1Click() {
    showTable(BD->DS_summa, BD->Table_summa, Mode::Modal);
}
void TFormMain::bdtestMemo1Click() {
    Form_bdtest->Show();
}
void TFormMain::bdanalizMemo1Click() {
    Form_bdanaliz->Show();
}
void TFormMain::N11Click() {
    FormStat->ShowModal();
}
