#include "registry/NewTestir.h"

#include "data/DM.h"
#include "registry/Strips.h"
#include "widgets/DBCombo.h"
#include "widgets/DBEdit.h"
#include "widgets/Fonts.h"
#include "widgets/Handler.h"
#include "widgets/Panel.h"

#include <QLabel>
#include <QPushButton>
#include <QScrollArea>

TFormNewTestir* FormNewTestir = nullptr;

namespace {
constexpr int kFieldX = 152, kFieldW = 226;
} // namespace

TFormNewTestir::TFormNewTestir(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormNewTestir"));
    setWindowTitle(QStringLiteral("Анкетные данные"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setClientSize(407, 335);
    setFixedSize(size());
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
    setHelpContext(3);

    const registry::DetailsBody body = registry::detailsBody(this, QSize(129, 129));
    ScrollBox1 = body.scroll;
    Image1 = body.picture;
    Panel1 = body.bottom;
    QWidget* page = body.content;

    auto bind = [](auto* control, const char* name, const char* field, int y, int width) {
        return registry::bound(control, name, BD->DS_anket, field, QRect(kFieldX, y, width, 24));
    };
    Label3 = registry::fieldCaption(page, "Label3", QStringLiteral("Фамилия :"), kFieldX, 6);
    EditFAMTESTIR = bind(new ui::DBEdit(page), "EditFAMTESTIR", "FAMTESTIR", 23, kFieldW);
    Label4 = registry::fieldCaption(page, "Label4", QStringLiteral("Имя :"), kFieldX, 50);
    EditNAMETESTIR = bind(new ui::DBEdit(page), "EditNAMETESTIR", "NAMETESTIR", 67, kFieldW);
    Label5 = registry::fieldCaption(page, "Label5", QStringLiteral("Отчество :"), kFieldX, 94);
    EditOTCHTESTIR = bind(new ui::DBEdit(page), "EditOTCHTESTIR", "OTCHTESTIR", 111, kFieldW);
    Label6 = registry::fieldCaption(page, "Label6", QStringLiteral("Пол :"), kFieldX, 138);
    DBComboBoxPol = bind(new ui::DBComboBox(page), "DBComboBoxPol", "POLTESTIR", 155, 56);
    DBComboBoxPol->setItems({QStringLiteral("М"), QStringLiteral("Ж")});
    Label7 = registry::fieldCaption(page, "Label7", QStringLiteral("Год рожд.:"), kFieldX, 182);
    EditGRTESTIR = bind(new ui::DBEdit(page), "EditGRTESTIR", "GRTESTIR", 199, 72);
    Label8 = registry::fieldCaption(page, "Label8", QStringLiteral("Образование :"), kFieldX, 226);
    DBLookupComboBox1 = bind(new ui::DBLookupComboBox(page), "DBLookupComboBox1", "Obr", 243, kFieldW);
    page->setMinimumSize(kFieldX + kFieldW + 8, 274);

    Button1 = registry::button(Panel1, "Button1", QStringLiteral("Ввести"),
                               QStringLiteral("Ввести измененные анкетные данные"));
    Button2 = registry::button(Panel1, "Button2", QStringLiteral("Отмена"),
                               QStringLiteral("Отменить введенные изменения"));
    registry::buttonRow(Panel1, {Button1, Button2}, nullptr);
    registry::tabOrder({EditFAMTESTIR, EditNAMETESTIR, EditOTCHTESTIR, DBComboBoxPol, EditGRTESTIR,
                        DBLookupComboBox1, Button1, Button2});

    ui::on(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    ui::on(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
}

void TFormNewTestir::FormActivate() {
    // A testee already being entered stays as it is; an empty list starts a new one.
    BD->Table_anket->edit();
}

void TFormNewTestir::Button1Click() {
    // A refused value (a year that is no whole number) stops here with the record still in edit.
    BD->Table_anket->post();
    Close();
}

void TFormNewTestir::Button2Click() {
    BD->Table_anket->cancel();
    Close();
}
