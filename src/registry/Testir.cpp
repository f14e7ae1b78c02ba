#include "registry/Testir.h"

#include "app/Main.h"
#include "data/DM.h"
#include "registry/NewTestir.h"
#include "registry/Org.h"
#include "registry/Strips.h"
#include "services/Numbering.h"
#include "widgets/DBGrid.h"
#include "widgets/DBNavigator.h"
#include "widgets/Fonts.h"
#include "widgets/Handler.h"
#include "widgets/Panel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TFormTestir* FormTestir = nullptr;

TFormTestir::TFormTestir(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormTestir"));
    setWindowTitle(QStringLiteral("Выбор тестируемого"));
    setClientSize(640, 480);
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
    setHelpContext(3);

    auto* lay = ui::column(this);

    Panel1 = new ui::Panel(this, "Panel1");
    Label1 = registry::heading(Panel1, QStringLiteral("Выберите тестируемого :"));
    lay->addWidget(Panel1);

    Panel2 = new ui::Panel(this, "Panel2");
    DBGrid1 = registry::listGrid(Panel2, BD->DS_anket,
                                 {{QStringLiteral("FAMTESTIR"), QStringLiteral("Фамилия"), 115},
                                  {QStringLiteral("NAMETESTIR"), QStringLiteral("Имя"), 113},
                                  {QStringLiteral("OTCHTESTIR"), QStringLiteral("Отчество"), 100},
                                  {QStringLiteral("POLTESTIR"), QStringLiteral("Пол"), 0},
                                  {QStringLiteral("GRTESTIR"), QStringLiteral("Год рожд."), 78},
                                  {QStringLiteral("Obr"), QStringLiteral("Образование"), 0, true}});
    lay->addWidget(Panel2, 1);

    Panel3 = new ui::Panel(this, "Panel3");
    ButtonNewTestir = registry::button(Panel3, "ButtonNewTestir", QStringLiteral("Новый"),
                                       QStringLiteral("Создать нового тестируемого"));
    ButtonEdit =
        registry::button(Panel3, "ButtonEdit", QStringLiteral("Редактировать"),
                         QStringLiteral("Редактировать персональные данные выделенного тестируемого"));
    ButtonSelect = registry::button(Panel3, "ButtonSelect", QStringLiteral("Выбрать"),
                                    QStringLiteral("Выбрать выделенного тестируемого"));
    DBNavigator = registry::navigator(Panel3, BD->DS_anket);
    registry::buttonRow(Panel3, {ButtonNewTestir, ButtonEdit, ButtonSelect}, DBNavigator);
    lay->addWidget(Panel3);

    ui::on(ButtonNewTestir, &QPushButton::clicked, this, [this] { ButtonNewTestirClick(); });
    ui::on(ButtonEdit, &QPushButton::clicked, this, [this] { ButtonEditClick(); });
    ui::on(ButtonSelect, &QPushButton::clicked, this, [this] { ButtonSelectClick(); });
}

void TFormTestir::FormActivate() {
    FormMain->TesteeWindowActivated();
    // A newly registered institution gets its first testee here, once: a list that has anyone
    // in it is left alone, so no testee is ever renumbered. A list that is empty only because
    // the institution cursor stands off the pinned institution, or on one without a number,
    // gets nothing: the new row would not show, and every opening would add another.
    Table* anket = BD->Table_anket;
    // Testees other workstations registered since the list was last built, on the same testee;
    // a record left being entered is finished at the next move, not here.
    if (anket->active() && anket->state() == db::DataSetState::Browse) anket->refresh();
    if (FormMain->NewOrgState == 2 && anket->isEmpty() && anket->filtered() &&
        anket->filter() != TFormOrg::kNoInstitution && anket->filter() == TFormOrg::PinText()) {
        anket->append();
        BD->Table_anketNOMTESTIR->setValue(db::Variant(1));
        anket->post();
    }
}

void TFormTestir::ButtonNewTestirClick() {
    Table* anket = BD->Table_anket;
    anket->refresh(); // testees other workstations registered since the list was shown
    anket->last();
    // An empty list or an unnumbered last testee has no number to go on: the read fails.
    const int64_t last = BD->Table_anketNOMTESTIR->asInteger();
    const int64_t number =
        services::nextNumber(last, services::numbersInView(*anket, BD->Table_anketNOMTESTIR));
    anket->append();
    BD->Table_anketNOMTESTIR->setValue(db::Variant(number));
    FormNewTestir->ShowModal();
}

void TFormTestir::ButtonEditClick() {
    FormNewTestir->ShowModal();
}

void TFormTestir::ButtonSelectClick() {
    Close();
}
