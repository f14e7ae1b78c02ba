#include "catalogue/NameTest.h"

#include "app/Main.h"
#include "data/DM.h"
#include "dataset/Aliases.h"
#include "exchange/Catalogue.h"
#include "widgets/DBGrid.h"
#include "widgets/DBMemo.h"
#include "widgets/Fonts.h"
#include "widgets/Handler.h"
#include "widgets/Panel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TFormNameTest* FormNameTest = nullptr;

TFormNameTest::TFormNameTest(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormNameTest"));
    setWindowTitle(QStringLiteral("Список тестов"));
    setClientSize(632, 453);
    // A dialog border; the title bar carries no buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(size());
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
    setHelpContext(4);
    setPopupHelp(true);

    Panel1 = new ui::Panel(this, "Panel1", 57);
    ui::fill(Panel1, QColor(192, 220, 192));
    const QFont heading = ui::font(QStringLiteral("Times New Roman Cyr"), 33, ui::BoldItalic);
    Label1 = new QLabel(QStringLiteral("Тип теста : "), Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    ui::style(Label1, heading, Qt::red);
    LabelTipTesta = new QLabel(QStringLiteral("Название типа теста"), Panel1);
    LabelTipTesta->setObjectName(QStringLiteral("LabelTipTesta"));
    ui::style(LabelTipTesta, heading, Qt::red);
    auto* headLay = new QHBoxLayout(Panel1);
    headLay->setContentsMargins(10, 4, 10, 4);
    headLay->addWidget(Label1);
    headLay->addWidget(LabelTipTesta, 1);

    DBGrid1 = new ui::DBGrid(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setReadOnly(true);
    DBGrid1->setRowSelect(true);
    DBGrid1->setColumns({{QStringLiteral("NAME"), QString(), 614}});
    ui::style(DBGrid1, ui::font(QStringLiteral("Times New Roman Cyr"), 17), Qt::black);
    DBGrid1->setStatusTip(QStringLiteral("Выбор теста"));
    DBGrid1->setDataSource(BD->DS_test);

    DBMemo1 = new ui::DBMemo(this);
    DBMemo1->setObjectName(QStringLiteral("DBMemo1"));
    DBMemo1->setFixedHeight(170);
    DBMemo1->setReadOnly(true);
    DBMemo1->setStatusTip(QStringLiteral("Описание психологического теста"));
    DBMemo1->setDataSource(BD->DS_test);
    DBMemo1->setDataField(QStringLiteral("XARAKT"));

    LabelLicence = new QLabel(this);
    LabelLicence->setObjectName(QStringLiteral("LabelLicence"));
    LabelLicence->setWordWrap(true);
    LabelLicence->setContentsMargins(6, 2, 6, 2);
    LabelLicence->hide();

    Panel2 = new ui::Panel(this, "Panel2", 41);
    ButtonSelect = new QPushButton(QStringLiteral("Выбрать"), Panel2);
    ButtonSelect->setObjectName(QStringLiteral("ButtonSelect"));
    ButtonSelect->setGeometry((632 - 161) / 2, 8, 161, 25);
    ButtonSelect->setStatusTip(
        QStringLiteral("Нажмите для выбора теста по которому хотите протетситроваться"));
    setDefaultButton(ButtonSelect);

    auto* lay = ui::column(this);
    lay->addWidget(Panel1);
    lay->addWidget(DBGrid1, 1);
    lay->addWidget(DBMemo1);
    lay->addWidget(LabelLicence);
    lay->addWidget(Panel2);

    ui::on(ButtonSelect, &QPushButton::clicked, this, [this] { ButtonSelectClick(); });
    ui::on(BD->Table_test, &db::Dataset::scrolled, this, [this] { showLicence(); });
    ui::on(BD->Table_test, &db::Dataset::dataSetChanged, this, [this] { showLicence(); });
}

void TFormNameTest::showLicence() {
    std::optional<exchange::Licence> licence;
    // A row being typed may have no number yet.
    if (const db::Variant n = BD->Table_testNTEST->value();
        isVisible() && !BD->Table_test->isEmpty() && !n.isNull())
        licence = exchange::readLicence(db::Aliases::resolve(QStringLiteral("morv")), int(n.toInt()));
    LabelLicence->setVisible(bool(licence));
    if (licence)
        LabelLicence->setText(QStringLiteral("Автор: %1. Источник: %2. Условия использования: %3.")
                                  .arg(licence->author, licence->source, licence->terms));
}

void TFormNameTest::FormActivate() {
    // Leaves the list on its first test.
    BD->Table_test->filterBy(QStringLiteral("TIP=") + QString::number(FormMain->CurTipTest));
    showLicence();
}

void TFormNameTest::ButtonSelectClick() {
    // Read first: an empty list fails here and changes nothing.
    const int n = int(BD->Table_testNTEST->asInteger());
    // Leaves the questions on the first one.
    BD->Table_vopros->filterBy(QStringLiteral("NTEST=") + QString::number(n));
    FormMain->TestChosen();
    Close();
}
