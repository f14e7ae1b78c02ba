#include "app/Main.h"
#include "export/window/Export.h"
#include "psychometrics/window/Analysis.h"

#include "Errors.h"
#include "app/About.h"
#include "catalogue/TipTest.h"
#include "data/DM.h"
#include "group/GroupSession.h"
#include "maintenance/Password.h"
#include "registry/Org.h"
#include "registry/Testir.h"
#include "scoring/AllVopr.h"
#include "scoring/Printing.h"
#include "scoring/Run.h"
#include "testing/Test.h"
#include "widgets/DBText.h"
#include "widgets/Fonts.h"
#include "widgets/Handler.h"
#include "widgets/Help.h"
#include "widgets/Hints.h"
#include "widgets/Panel.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProxyStyle>
#include <QStatusBar>
#include <QVBoxLayout>

TFormMain* FormMain = nullptr;

namespace {
const QColor kPanel(240, 202, 166);
const QColor kTestPanel(192, 220, 192);
const QColor kNavy(0, 0, 128);
const QColor kGreen(0, 128, 0);

QLabel* heading(QWidget* panel, const QString& text) {
    auto* l = new QLabel(text, panel);
    ui::style(l, ui::font(QStringLiteral("Arial"), 23, ui::BoldItalic), Qt::red);
    l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    l->setGeometry(0, 4, panel->width(), 30);
    return l;
}
} // namespace

TFormMain::TFormMain(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormMain"));
    setWindowTitle(QStringLiteral("Психологическое тестирование"));
    setClientSize(679, 518);
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
    setHelpContext(1);
    buildPanels();
    buildMenu();
    FormCreate();
}

TFormMain::~TFormMain() = default;

void TFormMain::buildPanels() {
    auto* lay = ui::column(this);

    const QFont caption = ui::font(QStringLiteral("Times New Roman"), 20, ui::Italic);
    const QFont data = ui::font(QStringLiteral("Times New Roman Cyr"), 18, ui::Italic);
    auto makePanel = [&](const char* name, int height, const QColor& color, const QString& hint) {
        auto* p = new ui::Panel(this, name, height);
        p->resize(679, height);
        ui::fill(p, color);
        p->setStatusTip(hint);
        lay->addWidget(p);
        return p;
    };
    // A caption label and, to its right, the data text of a field, one line each.
    struct Line {
        QString caption;
        const char* name;
        const char* field;
        ui::DBText*& text;
    };
    auto rows = [&](ui::Panel* p, const QList<Line>& lines, int step) {
        int y = 38;
        for (const Line& line : lines) {
            auto* l = new QLabel(line.caption, p);
            ui::style(l, caption, kNavy);
            l->setGeometry(12, y, 270, step);
            auto* t = new ui::DBText(p);
            t->setObjectName(QLatin1String(line.name));
            t->setDataField(QLatin1String(line.field));
            ui::style(t, data, kGreen);
            t->setGeometry(290, y + 2, 380, step - 2);
            t->setStatusTip(p->statusTip());
            line.text = t;
            y += step;
        }
    };

    Panel_ORG = makePanel("Panel_ORG", 183, kPanel,
                          QStringLiteral("Щелкните дважды левой кнопки мыши для выбора учреждения"));
    heading(Panel_ORG, QStringLiteral("Реквизиты учреждения"));
    rows(Panel_ORG,
         {{QStringLiteral("Республика :"), "DBText_RESP", "RSP", DBText_RESP},
          {QStringLiteral("Населенный пункт :"), "DBText_NPUNKT", "NP", DBText_NPUNKT},
          {QStringLiteral("Тип учреждения :"), "DBText_TIPU", "TU", DBText_TIPU},
          {QStringLiteral("Название учреждения :"), "DBText_NAMEU", "NAMEU", DBText_NAMEU},
          {QStringLiteral("Подразделение учреждения :"), "DBText_PODRU", "PODRU", DBText_PODRU}},
         28);

    Panel_TESTIR = makePanel("Panel_TESTIR", 200, kPanel,
                             QStringLiteral("Щелкните дважды левой кнопкой мыши для выбора тестирования"));
    heading(Panel_TESTIR, QStringLiteral("Анкетные данные тестируемого"));
    rows(Panel_TESTIR,
         {{QStringLiteral("Фамилия :"), "DBText_FAMTESTIR", "FAMTESTIR", DBText_FAMTESTIR},
          {QStringLiteral("Имя :"), "DBText_NAMETESTIR", "NAMETESTIR", DBText_NAMETESTIR},
          {QStringLiteral("Отчество :"), "DBText_OTCHTESTIR", "OTCHTESTIR", DBText_OTCHTESTIR},
          {QStringLiteral("Пол:"), "DBText_POLTESTIR", "POLTESTIR", DBText_POLTESTIR},
          {QStringLiteral("Год рождения:"), "DBText_GRTESTIR", "GRTESTIR", DBText_GRTESTIR},
          {QStringLiteral("Образование :"), "DBText_OBRTESTIR", "Obr", DBText_OBRTESTIR}},
         26);

    Panel1 = makePanel("Panel1", 0, kTestPanel, QStringLiteral("Название текущего психологического теста"));
    lay->setStretchFactor(Panel1, 1);
    DBText1 = new ui::DBText(Panel1);
    DBText1->setObjectName(QStringLiteral("DBText1"));
    DBText1->setDataField(QStringLiteral("NAME"));
    ui::style(DBText1, ui::font(QStringLiteral("Times New Roman Cyr"), 27, ui::BoldItalic), Qt::red);
    DBText1->setAlignment(Qt::AlignCenter);
    DBText1->setWordWrap(true);
    DBText1->setStatusTip(Panel1->statusTip());
    auto* testLay = new QVBoxLayout(Panel1);
    testLay->addWidget(DBText1);

    StatusBarMorv = new QStatusBar(this);
    StatusBarMorv->setObjectName(QStringLiteral("StatusBarMorv"));
    StatusBarMorv->setFixedHeight(19);
    StatusBarMorv->setSizeGripEnabled(false);
    StatusBarMorv->setStatusTip(QStringLiteral(
        "Строка подсказки, в ней отображаются подсказки для элементов над которыми находится курсор"));
    lay->addWidget(StatusBarMorv);

    for (ui::DBText* t : orgTexts())
        ui::on(t, &ui::DBText::doubleClicked, this, [this] { DBText_RESPDblClick(); });
    ui::on(Panel_ORG, &ui::Panel::doubleClicked, this, [this] { DBText_RESPDblClick(); });
    for (ui::DBText* t : testirTexts())
        ui::on(t, &ui::DBText::doubleClicked, this, [this] { Label16DblClick(); });
    ui::on(Panel_TESTIR, &ui::Panel::doubleClicked, this, [this] { Label16DblClick(); });
    ui::on(Panel1, &ui::Panel::doubleClicked, this, [this] { DBText1Click(); });
    ui::on(DBText1, &ui::DBText::clicked, this, [this] { DBText1Click(); });
}

QAction* TFormMain::item(QMenu* menu, const char* name, const QString& caption, const QString& hint,
                         void (TFormMain::*handler)()) {
    auto* a = new QAction(caption, this);
    a->setObjectName(QLatin1String(name));
    a->setStatusTip(hint);
    if (menu)
        menu->addAction(a);
    else
        MainMenu->addAction(a);
    ui::on(a, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    return a;
}

namespace {

// Ten top items at the window's 679 pixels: less padding per item (four or five pixels a side
// remain) keeps «Табл», the last, in view instead of behind the bar's overflow button.
class CompactMenuBarStyle : public QProxyStyle {
public:
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override {
        QSize r = QProxyStyle::sizeFromContents(type, option, size, widget);
        if (type == CT_MenuBarItem) r.rwidth() -= 9;
        return r;
    }
};

} // namespace

void TFormMain::buildMenu() {
    MainMenu = new QMenuBar(this);
    MainMenu->setObjectName(QStringLiteral("MainMenu"));
    MainMenu->setNativeMenuBar(false);
    auto* compact = new CompactMenuBarStyle;
    compact->setParent(MainMenu);
    MainMenu->setStyle(compact);
    layout()->setMenuBar(MainMenu);

    MenuOrg = item(nullptr, "MenuOrg", QStringLiteral("Учреждение"), QStringLiteral("Установка учреждения"),
                   &TFormMain::MenuOrgClick);
    MenuTestir = item(nullptr, "MenuTestir", QStringLiteral("Тестируемый"),
                      QStringLiteral("Установка тестируемого"), &TFormMain::MenuTestirClick);
    N3 = item(nullptr, "N3", QStringLiteral("Тест"), QStringLiteral("Выбор теста"), &TFormMain::N3Click);
    MenuTest = item(nullptr, "MenuTest", QStringLiteral("Тестирование"),
                    QStringLiteral("Проведение непосредственно психологического тестирования"),
                    &TFormMain::MenuTestClick);
    MenuRezult = item(nullptr, "MenuRezult", QStringLiteral("Результаты"),
                      QStringLiteral("Вывод результатов тестирования"), &TFormMain::MenuRezultClick);

    MenuReportsMenu = new QMenu(QStringLiteral("Отчёты"), this);
    MenuReportsMenu->setObjectName(QStringLiteral("MenuReportsMenu"));
    MenuReports = MenuReportsMenu->menuAction();
    MenuReports->setObjectName(QStringLiteral("MenuReports"));
    MenuReports->setStatusTip(QStringLiteral("Печать и сохранение в PDF отчётов о результатах"));
    MainMenu->addAction(MenuReports);
    MenuReportRun = item(MenuReportsMenu, "MenuReportRun", QStringLiteral("Результат тестирования…"),
                         QStringLiteral("Отчёт о прохождении выбранного теста выбранным тестируемым"),
                         &TFormMain::MenuReportRunClick);
    MenuReportTestee = item(MenuReportsMenu, "MenuReportTestee", QStringLiteral("История тестируемого…"),
                            QStringLiteral("Все тесты, пройденные выбранным тестируемым"),
                            &TFormMain::MenuReportTesteeClick);
    MenuReportGroup = item(MenuReportsMenu, "MenuReportGroup", QStringLiteral("Группа…"),
                           QStringLiteral("Результаты выбранного теста по всем тестируемым учреждения"),
                           &TFormMain::MenuReportGroupClick);
    MenuItemAnalysis = AddItemAnalysisItem(MenuReportsMenu);
    MenuReportGroupAnonymous =
        item(MenuReportsMenu, "MenuReportGroupAnonymous", QStringLiteral("Группа без персональных данных…"),
             QStringLiteral("Групповой отчёт, где вместо имён — коды «учреждение-тестируемый»"),
             &TFormMain::MenuReportGroupAnonymousClick);
    MenuReportsMenu->addSeparator()->setObjectName(QStringLiteral("N15"));
    MenuExport = AddExportItem(MenuReportsMenu);
    MenuGroup = item(nullptr, "MenuGroup", QStringLiteral("Группа"),
                     QStringLiteral("Групповое тестирование через браузер"), &TFormMain::MenuGroupClick);

    MenuHelpMenu = new QMenu(QStringLiteral("Справка"), this);
    MenuHelpMenu->setObjectName(QStringLiteral("MenuHelpMenu"));
    MenuHelp = MenuHelpMenu->menuAction();
    MenuHelp->setObjectName(QStringLiteral("MenuHelp"));
    MenuHelp->setStatusTip(QStringLiteral("Выдача справочных сведений о программе"));
    MainMenu->addAction(MenuHelp);
    MenuHelpCall =
        item(MenuHelpMenu, "MenuHelpCall", QStringLiteral("Помощь"),
             QStringLiteral("Выдача справки по работе с программой"), &TFormMain::MenuHelpCallClick);
    N2 = MenuHelpMenu->addSeparator();
    N2->setObjectName(QStringLiteral("N2"));
    MenuAbout = item(MenuHelpMenu, "MenuAbout", QStringLiteral("О программе"),
                     QStringLiteral("Выдача информации о программе"), &TFormMain::MenuAboutClick);
    N4 = MenuHelpMenu->addSeparator();
    N4->setObjectName(QStringLiteral("N4"));
    N5 = item(MenuHelpMenu, "N5", QStringLiteral("Для психолога"), {}, &TFormMain::N5Click);

    MenuExit =
        item(nullptr, "MenuExit", QStringLiteral("Выход"),
             QStringLiteral("Выйти из программы психологического тестирования"), &TFormMain::MenuExitClick);

    N1Menu = new QMenu(QStringLiteral("Табл"), this);
    N1Menu->setObjectName(QStringLiteral("N1Menu"));
    N1 = N1Menu->menuAction();
    N1->setObjectName(QStringLiteral("N1"));
    N1->setStatusTip(
        QStringLiteral("Работа с таблицами базы данных программы психологического тестирования"));
    MainMenu->addAction(N1);
    fillTableMenu();
}

QList<ui::DBText*> TFormMain::orgTexts() const {
    return {DBText_RESP, DBText_NPUNKT, DBText_TIPU, DBText_NAMEU, DBText_PODRU};
}

QList<ui::DBText*> TFormMain::testirTexts() const {
    return {DBText_FAMTESTIR, DBText_NAMETESTIR, DBText_OTCHTESTIR,
            DBText_POLTESTIR, DBText_GRTESTIR,   DBText_OBRTESTIR};
}

void TFormMain::FormCreate() {
    Hints = new ui::HintHandler(StatusBarMorv, this);
    for (ui::DBText* t : orgTexts() + testirTexts())
        t->setVisible(false);
    DBText1->setVisible(false);
    N1->setVisible(false);
    MenuTestir->setEnabled(false);
    N3->setEnabled(false);
    MenuTest->setEnabled(false);
    MenuRezult->setEnabled(false);
    MenuReports->setEnabled(false);
    MenuReportRun->setEnabled(false);
    MenuReportGroup->setEnabled(false);
    MenuReportGroupAnonymous->setEnabled(false);
    MenuGroup->setEnabled(false);
    NewOrgState = 0;
}

void TFormMain::BindData() {
    // The fields are set with the texts; the data module exists only now.
    for (ui::DBText* t : orgTexts())
        t->setDataSource(BD->DS_org);
    for (ui::DBText* t : testirTexts())
        t->setDataSource(BD->DS_anket);
    DBText1->setDataSource(BD->DS_test);
}

void TFormMain::UnbindData() {
    for (ui::DBText* t : orgTexts() + testirTexts() + QList<ui::DBText*>{DBText1})
        t->setDataSource(nullptr);
}

void TFormMain::InstitutionWindowActivated() {
    for (ui::DBText* t : orgTexts())
        t->setVisible(true);
    MenuTestir->setEnabled(true);
    OrgChosen = true;
}

void TFormMain::TesteeWindowActivated() {
    for (ui::DBText* t : testirTexts())
        t->setVisible(true);
    N3->setEnabled(true);
    MenuReports->setEnabled(true);
}

void TFormMain::TestChosen() {
    MenuTest->setEnabled(true);
    MenuRezult->setEnabled(true);
    MenuReportRun->setEnabled(true);
    MenuReportGroup->setEnabled(true);
    MenuItemAnalysis->setEnabled(true);
    MenuReportGroupAnonymous->setEnabled(true);
    MenuGroup->setEnabled(true);
    DBText1->setVisible(true);
}

void TFormMain::PasswordConfirmed() {
    N1->setVisible(true);
}

void TFormMain::FormClose(ui::CloseAction& action) {
    // Changes still pending in a table view or memo editor are saved before the tables close.
    // One that cannot be saved is reported (by the caller) and the program stays open.
    // A group session with testees still answering asks first; kept open, nothing closes.
    if (FormGroupSession && !FormGroupSession->MayClose()) {
        action = ui::CloseAction::None;
        return;
    }
    if (!BD) return;
    for (Table* t : BD->tablesInOrder())
        t->checkBrowseMode();
}

void TFormMain::MenuOrgClick() {
    FormOrg->ShowModal();
}
void TFormMain::MenuTestirClick() {
    FormTestir->ShowModal();
}
void TFormMain::N3Click() {
    TipTestForm->ShowModal();
}
void TFormMain::MenuTestClick() {
    FormTest->ShowModal();
}
void TFormMain::MenuRezultClick() {
    FormAllVopr->ShowModal();
}
void TFormMain::MenuReportRunClick() {
    scoring::printRunReport(this);
}
void TFormMain::MenuReportTesteeClick() {
    scoring::printTesteeReport(this);
}
void TFormMain::MenuReportGroupClick() {
    scoring::printGroupReport(this);
}
void TFormMain::MenuReportGroupAnonymousClick() {
    scoring::printGroupReport(this, true);
}
void TFormMain::MenuGroupClick() {
    if (!FormGroupSession) return;
    for (Table* t : {BD->Table_org, BD->Table_test})
        if (t->isEmpty()) throw db::DatabaseError(QStringLiteral("Учреждение или тест не выбраны."));
    FormGroupSession->OpenFor(scoring::number(BD->Table_orgNOM_ORG), scoring::number(BD->Table_testNTEST));
}
void TFormMain::MenuHelpCallClick() {
    ui::help::showContents();
}
void TFormMain::MenuAboutClick() {
    AboutBox->ShowModal();
}
void TFormMain::N5Click() {
    PasswordDlg->ShowModal();
}
void TFormMain::MenuExitClick() {
    Close();
}

void TFormMain::DBText_RESPDblClick() {
    FormOrg->ShowModal();
}

void TFormMain::Label16DblClick() {
    if (OrgChosen) FormTestir->ShowModal();
}

void TFormMain::DBText1Click() {
    if (!N3->isEnabled()) return;
    TipTestForm->ShowModal();
    DBText1->setVisible(true);
}
