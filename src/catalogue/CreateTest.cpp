#include "catalogue/CreateTest.h"

#include "data/DM.h"
#include "maintenance/Table.h"
#include "maintenance/Unit1.h"
#include "maintenance/Unit2.h"
#include "widgets/DBCombo.h"
#include "widgets/DBGrid.h"
#include "widgets/Fonts.h"
#include "widgets/Handler.h"
#include "widgets/Panel.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TFormCreateTest* FormCreateTest = nullptr;

namespace {

const QString kMemoHint = QStringLiteral("Щелкните два раза для редактирования Мемо поля");
const QString kTitleHint = QStringLiteral("Щелкните на заголовке для редактирования");

ui::Panel* strip(QWidget* parent, const char* name) {
    auto* p = new ui::Panel(parent, name);
    p->setFrameShape(QFrame::NoFrame);
    return p;
}

ui::DBGrid* grid(QWidget* parent, const char* name, DataSource* ds, const QList<ui::GridColumn>& columns,
                 const QString& hint) {
    auto* g = new ui::DBGrid(parent);
    g->setObjectName(QLatin1String(name));
    g->setIndicator(true);
    g->setConfirmDelete(true);
    g->setColumns(columns);
    g->setDataSource(ds);
    g->setToolTip(hint);
    g->setStatusTip(hint);
    return g;
}

QHBoxLayout* row(QWidget* panel) {
    auto* lay = new QHBoxLayout(panel);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(0);
    return lay;
}

} // namespace

TFormCreateTest::TFormCreateTest(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormCreateTest"));
    setWindowTitle(QStringLiteral("Создание теста"));
    setClientSize(640, 480);
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));

    Panel1 = strip(this, "Panel1");
    Panel2 = strip(this, "Panel2");
    Panel3 = strip(this, "Panel3");
    Panel5 = strip(this, "Panel5");
    buildGrids();

    EditTest = new QLineEdit(QStringLiteral("1"), Panel1);
    EditTest->setObjectName(QStringLiteral("EditTest"));
    ButtonTest = new QPushButton(QStringLiteral("Fltr_On"), Panel1);
    ButtonTest->setObjectName(QStringLiteral("ButtonTest"));
    Button1 = new QPushButton(QStringLiteral("Fltr_Off"), Panel1);
    Button1->setObjectName(QStringLiteral("Button1"));
    ButtonExport = new QPushButton(QStringLiteral("Экспорт теста…"), Panel1);
    ButtonExport->setObjectName(QStringLiteral("ButtonExport"));
    ButtonImport = new QPushButton(QStringLiteral("Импорт теста…"), Panel1);
    ButtonImport->setObjectName(QStringLiteral("ButtonImport"));
    auto* side = new QVBoxLayout;
    side->setContentsMargins(6, 6, 6, 6);
    side->setSpacing(6);
    for (QWidget* w : {static_cast<QWidget*>(EditTest), static_cast<QWidget*>(ButtonTest),
                       static_cast<QWidget*>(Button1)}) {
        w->setFixedWidth(75);
        side->addWidget(w);
    }
    side->addStretch(1);
    // Under the filter buttons, as wide as their texts need.
    side->addWidget(ButtonExport);
    side->addWidget(ButtonImport);
    QHBoxLayout* top = row(Panel1);
    top->addWidget(DBGrid1, 1);
    top->addLayout(side);

    row(Panel2)->addWidget(DBGrid2);
    QHBoxLayout* answers = row(Panel3);
    DBLookupListBox1->setFixedWidth(160);
    answers->addWidget(DBLookupListBox1);
    answers->addWidget(DBGrid3, 1);
    QHBoxLayout* bottom = row(Panel5);
    DBGrid4->setFixedWidth(240);
    bottom->addWidget(DBGrid4);
    bottom->addWidget(DBGrid5, 1);

    auto* lay = ui::column(this);
    lay->addWidget(Panel1, 3);
    lay->addWidget(Panel2, 3);
    lay->addWidget(Panel3, 3);
    lay->addWidget(Panel5, 4);

    ui::on(ButtonTest, &QPushButton::clicked, this, [this] { ButtonTestClick(); });
    ui::on(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    ui::on(ButtonExport, &QPushButton::clicked, this, [this] { ButtonExportClick(); });
    ui::on(ButtonImport, &QPushButton::clicked, this, [this] { ButtonImportClick(); });
    ui::on(DBGrid1, &ui::DBGrid::cellDoubleClicked, this, [this] { DBGrid1DblClick(); });
    ui::on(DBGrid5, &ui::DBGrid::cellDoubleClicked, this, [this] { DBGrid5DblClick(); });
    ui::on(DBGrid1, &ui::DBGrid::titleClicked, this, [this] { DBGrid1TitleClick(); });
    ui::on(DBGrid2, &ui::DBGrid::titleClicked, this, [this] { DBGrid2TitleClick(); });
    ui::on(DBGrid3, &ui::DBGrid::titleClicked, this, [this] { DBGrid3TitleClick(); });
    ui::on(DBGrid4, &ui::DBGrid::titleClicked, this, [this] { DBGrid4TitleClick(); });
    ui::on(DBGrid5, &ui::DBGrid::titleClicked, this, [this] { DBGrid5TitleClick(); });
}

void TFormCreateTest::buildGrids() {
    DBGrid1 = grid(Panel1, "DBGrid1", BD->DS_test,
                   {{QStringLiteral("TIP"), QStringLiteral("Тип теста"), 0},
                    {QStringLiteral("NTEST"), QStringLiteral("№ теста"), 0},
                    {QStringLiteral("NAME"), QStringLiteral("Название теста"), 0},
                    {QStringLiteral("KOLKRIT"), QStringLiteral("Кол-во критериев"), 0},
                    {QStringLiteral("XARAKT"), QStringLiteral("Характеристика"), 0}},
                   kMemoHint);
    DBGrid2 = grid(Panel2, "DBGrid2", BD->DS_vopros,
                   {{QStringLiteral("NTEST"), QStringLiteral("№ теста"), 0},
                    {QStringLiteral("NVOPR"), QStringLiteral("№ вопр."), 0},
                    {QStringLiteral("TEXTV"), QStringLiteral("Текст вопроса"), 0},
                    {QStringLiteral("NOTV"), QStringLiteral("№ ответа"), 0},
                    {QStringLiteral("KOL"), QStringLiteral("Колонок"), 0}},
                   kTitleHint);
    DBGrid3 = grid(Panel3, "DBGrid3", BD->DS_otvet,
                   {{QStringLiteral("NOMOTV"), QStringLiteral("№ ответа"), 0},
                    {QStringLiteral("OTVET"), QStringLiteral("Ответ"), 0},
                    {QStringLiteral("BOTVET"), QStringLiteral("BOTVET"), 0}},
                   kTitleHint);
    DBGrid4 = grid(Panel5, "DBGrid4", BD->DS_summa,
                   {{QStringLiteral("NOMTESTA"), QStringLiteral("№ теста"), 0},
                    {QStringLiteral("KRIT"), QStringLiteral("Критерий"), 0},
                    {QStringLiteral("SUMVOPR"), QStringLiteral("Сум.вопр."), 0}},
                   kTitleHint);
    DBGrid5 = grid(Panel5, "DBGrid5", BD->DS_analiz,
                   {{QStringLiteral("NOMTESTA"), QStringLiteral("№ теста"), 0},
                    {QStringLiteral("KRIT"), QStringLiteral("Критерий"), 0},
                    {QStringLiteral("UROV"), QStringLiteral("Уровень"), 0},
                    {QStringLiteral("MIN"), QStringLiteral("Минимум"), 0},
                    {QStringLiteral("MAX"), QStringLiteral("Махимум"), 0},
                    {QStringLiteral("TEXT"), QStringLiteral("Текст"), 0}},
                   kMemoHint);

    // Follows the current question's answer set, and a click gives the question another set.
    DBLookupListBox1 = new ui::DBLookupListBox(Panel3);
    DBLookupListBox1->setObjectName(QStringLiteral("DBLookupListBox1"));
    DBLookupListBox1->setDataSource(BD->DS_vopros);
    DBLookupListBox1->setDataField(QStringLiteral("NOTV"));
    DBLookupListBox1->setListSource(BD->DS_otvet);
    DBLookupListBox1->setKeyField(QStringLiteral("NOMOTV"));
    DBLookupListBox1->setListField(QStringLiteral("OTVET"));
}

void TFormCreateTest::ButtonTestClick() {
    // The box's text goes in as typed: the filter parser is the one to refuse it, and a refusal
    // stops here with the tables narrowed so far.
    const QString n = EditTest->text();
    BD->Table_test->filterBy(QStringLiteral("NTEST=") + n);
    BD->Table_vopros->filterBy(QStringLiteral("NTEST=") + n);
    BD->Table_summa->filterBy(QStringLiteral("NOMTESTA=") + n);
    BD->Table_analiz->filterBy(QStringLiteral("NOMTESTA=") + n);
}

void TFormCreateTest::Button1Click() {
    BD->Table_test->setFiltered(false);
}

void TFormCreateTest::DBGrid1DblClick() {
    Form_bdtest->Show();
}

void TFormCreateTest::DBGrid5DblClick() {
    Form_bdanaliz->Show();
}

void TFormCreateTest::DBGrid1TitleClick() {
    FormTable->ShowOn(BD->DS_test);
}

void TFormCreateTest::DBGrid2TitleClick() {
    FormTable->ShowOn(BD->DS_vopros);
}

void TFormCreateTest::DBGrid3TitleClick() {
    FormTable->ShowOn(BD->DS_otvet);
}

void TFormCreateTest::DBGrid4TitleClick() {
    // Refused when the table window is already open; it then shows the key table, modeless.
    FormTable->ShowModalOn(BD->DS_summa);
}

void TFormCreateTest::DBGrid5TitleClick() {
    FormTable->ShowOn(BD->DS_analiz);
}
