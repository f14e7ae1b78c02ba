#include "registry/Org.h"

#include "app/Main.h"
#include "data/DM.h"
#include "registry/NewOrg.h"
#include "registry/Strips.h"
#include "services/Numbering.h"
#include "widgets/DBGrid.h"
#include "widgets/DBNavigator.h"
#include "widgets/Fonts.h"
#include "widgets/Handler.h"
#include "widgets/Panel.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TFormOrg* FormOrg = nullptr;

// Two conditions no row meets at once, whatever its number.
const QString TFormOrg::kNoInstitution = QStringLiteral("NOMU=0 and NOMU<>0");

TFormOrg::TFormOrg(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormOrg"));
    setWindowTitle(QStringLiteral("Выбор учреждения"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint | Qt::WindowContextHelpButtonHint);
    setClientSize(640, 480);
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
    setHelpContext(2);
    setPopupHelp(true);

    auto* lay = ui::column(this);

    Panel1 = new ui::Panel(this, "Panel1");
    Label1 = registry::heading(Panel1, QStringLiteral("Выберите учреждение :"));
    lay->addWidget(Panel1);

    Panel2 = new ui::Panel(this, "Panel2");
    DBGrid1 =
        registry::listGrid(Panel2, BD->DS_org,
                           {{QStringLiteral("RSP"), QStringLiteral("Республика"), 103},
                            {QStringLiteral("NP"), QStringLiteral("Нас.пункт"), 114},
                            {QStringLiteral("TU"), QStringLiteral("Тип учреждения"), 122, true},
                            {QStringLiteral("NAMEU"), QStringLiteral("Название учреждения"), 165},
                            {QStringLiteral("PODRU"), QStringLiteral("Подразделение учреждения"), 204}});
    lay->addWidget(Panel2, 1);

    Panel3 = new ui::Panel(this, "Panel3");
    ButtonNew = registry::button(Panel3, "ButtonNew", QStringLiteral("Новое"),
                                 QStringLiteral("Ввести новое учреждение, которого нет в списке"));
    Button1 = registry::button(Panel3, "Button1", QStringLiteral("Редактировать"),
                               QStringLiteral("Редактировать имеющееся учреждение"));
    ButtonSelect = registry::button(Panel3, "ButtonSelect", QStringLiteral("Выбрать"),
                                    QStringLiteral("Выбрать выделенное учреждение"));
    DBNavigator = registry::navigator(Panel3, BD->DS_org);
    DBNavigator->setHints({QStringLiteral("Первое"), QStringLiteral("Предыдущее"),
                           QStringLiteral("Следующее"), QStringLiteral("Последнее")});
    registry::buttonRow(Panel3, {ButtonNew, Button1, ButtonSelect}, DBNavigator);
    lay->addWidget(Panel3);

    setDefaultButton(ButtonSelect);
    ui::on(ButtonNew, &QPushButton::clicked, this, [this] { ButtonNewClick(); });
    ui::on(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    ui::on(ButtonSelect, &QPushButton::clicked, this, [this] { ButtonSelectClick(); });
}

void TFormOrg::FormActivate() {
    // The main window's step first, so it holds even when finishing a pending institution fails.
    FormMain->InstitutionWindowActivated();
    // Finishes an institution left being entered and comes back on the first one.
    BD->Table_org->setFiltered(false);
}

QString TFormOrg::PinText() {
    // No institution, or one without a number: the list stays empty rather than showing
    // testees of some other institution.
    if (BD->Table_org->isEmpty() || BD->Table_orgNOM_ORG->isNull()) return kNoInstitution;
    return QStringLiteral("NOMU=") + QString::number(BD->Table_orgNOM_ORG->asInteger());
}

void TFormOrg::pinTestees() {
    BD->Table_anket->filterBy(PinText());
}

void TFormOrg::ButtonSelectClick() {
    pinTestees();
    Close();
}

void TFormOrg::FormClose(ui::CloseAction& action) {
    (void)action;
    pinTestees();
}

void TFormOrg::ButtonNewClick() {
    Table* org = BD->Table_org;
    org->refresh(); // institutions other workstations registered since the list was shown
    org->last();
    std::optional<int64_t> last;
    if (!org->isEmpty() && !BD->Table_orgNOM_ORG->isNull()) last = BD->Table_orgNOM_ORG->asInteger();
    const int64_t number = services::nextNumber(last, services::numbersInView(*org, BD->Table_orgNOM_ORG));
    org->append();
    BD->Table_orgNOM_ORG->setValue(db::Variant(number));
    BD->Table_orgRESP->setValue(db::Variant(1));
    BD->Table_orgNPUNKT->setValue(db::Variant(1));
    FormMain->NewOrgState = 1;
    FormNewOrg->ShowModal();
}

void TFormOrg::Button1Click() {
    FormNewOrg->ShowModal();
}
