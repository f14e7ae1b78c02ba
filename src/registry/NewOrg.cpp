#include "registry/NewOrg.h"

#include "app/Main.h"
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

TFormNewOrg* FormNewOrg = nullptr;

namespace {
constexpr int kFieldX = 212, kFieldW = 236;
} // namespace

TFormNewOrg::TFormNewOrg(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormNewOrg"));
    setWindowTitle(QStringLiteral("Реквизиты учреждения"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setClientSize(468, 322);
    setFixedSize(size());
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
    setHelpContext(2);

    const registry::DetailsBody body = registry::detailsBody(this, QSize(185, 145));
    ScrollBox1 = body.scroll;
    Image1 = body.picture;
    Panel1 = body.bottom;
    QWidget* page = body.content;

    // Each lookup shows the dictionary text and stores its code in the key field.
    auto bind = [](auto* control, const char* name, const char* field, int y) {
        return registry::bound(control, name, BD->DS_org, field, QRect(kFieldX, y, kFieldW, 24));
    };
    Label2 = registry::fieldCaption(page, "Label2", QStringLiteral("Республика :"), kFieldX, 8);
    DBLookupComboBox2 = bind(new ui::DBLookupComboBox(page), "DBLookupComboBox2", "RSP", 26);
    Label3 = registry::fieldCaption(page, "Label3", QStringLiteral("Населенный пункт :"), kFieldX, 56);
    DBLookupComboBox3 = bind(new ui::DBLookupComboBox(page), "DBLookupComboBox3", "NP", 74);
    Label4 = registry::fieldCaption(page, "Label4", QStringLiteral("Тип учреждения :"), kFieldX, 104);
    DBLookupComboBox1 = bind(new ui::DBLookupComboBox(page), "DBLookupComboBox1", "TU", 122);
    Label5 = registry::fieldCaption(page, "Label5", QStringLiteral("Название учреждения :"), kFieldX, 152);
    EditNAMEU = bind(new ui::DBEdit(page), "EditNAMEU", "NAMEU", 170);
    Label6 = registry::fieldCaption(page, "Label6", QStringLiteral("Подразделение :"), kFieldX, 200);
    EditPODRU = bind(new ui::DBEdit(page), "EditPODRU", "PODRU", 218);
    page->setMinimumSize(kFieldX + kFieldW + 8, 250);

    Button1 = registry::button(Panel1, "Button1", QStringLiteral("Ввести"),
                               QStringLiteral("Ввести исправленные реквизиты учреждения"));
    Button2 = registry::button(Panel1, "Button2", QStringLiteral("Отмена"),
                               QStringLiteral("Отменить ввод учреждения или его редактирование"));
    registry::buttonRow(Panel1, {Button1, Button2}, nullptr);
    registry::tabOrder(
        {DBLookupComboBox2, DBLookupComboBox3, DBLookupComboBox1, EditNAMEU, EditPODRU, Button1, Button2});

    ui::on(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    ui::on(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
}

void TFormNewOrg::FormActivate() {
    // A record already being entered stays as it is; an empty table starts a new one.
    BD->Table_org->edit();
}

void TFormNewOrg::Button1Click() {
    // A refused save stops here: the window stays open and the state keeps its value.
    BD->Table_org->post();
    FormMain->NewOrgState = FormMain->NewOrgState == 1 ? 2 : 0;
    Close();
}

void TFormNewOrg::Button2Click() {
    BD->Table_org->cancel();
    FormMain->NewOrgState = 0;
    Close();
}
