#pragma once
#include "widgets/Form.h"

#include <QList>

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QStatusBar;
namespace ui {
class DBText;
class HintHandler;
class Panel;
} // namespace ui

// The main window: the current institution, testee and test, the main menu and the status bar
// where every window's hints appear.
class TFormMain : public ui::Form {
    Q_OBJECT
public:
    explicit TFormMain(QWidget* parent = nullptr);
    ~TFormMain() override;

    int CurTipTest = 0;     // code of the test type last chosen, 0 until one is
    bool OrgChosen = false; // the institution window has been active at least once
    int NewOrgState = 0;    // 0 none, 1 new institution being entered, 2 saved, waiting for a testee

    // Steps of the enabling chain, taken by the other windows; nothing is ever disabled again.
    void InstitutionWindowActivated(); // institution texts shown, "Тестируемый" enabled, OrgChosen
    void TesteeWindowActivated();      // testee texts shown, "Тест" enabled
    void TestChosen(); // "Тестирование" and "Результаты" enabled, test name shown
    void PasswordConfirmed(); // "Табл" shown
    // Binds the data texts to the data module's sources (after it exists).
    void BindData();
    void UnbindData();

    QMenuBar* MainMenu;
    QAction *MenuOrg, *MenuTestir, *N3, *MenuTest, *MenuRezult, *MenuHelp, *MenuHelpCall, *N2, *MenuAbout,
        *N4, *N5, *MenuExit, *N1;
    QMenu *MenuHelpMenu, *N1Menu;
    // "Отчёты": the menu opens once a testee is chosen; the run and group reports need a test too.
    QMenu* MenuReportsMenu;
    QAction *MenuReports, *MenuReportRun, *MenuReportTestee, *MenuReportGroup, *MenuReportGroupAnonymous;
    QAction* MenuExport;       // "Экспорт…": the research export window
    QAction* MenuItemAnalysis; // "Анализ заданий…": needs a test
    QAction* MenuGroup;        // "Группа": a class tested through the browser; needs a test
    // "Табл" items
    QAction *N13, *N14, *bdsprav1, *bdsprobr1, *bdsprorg1, *bdsprresp1, *Bdsprnp1, *N8, *bdtest1, *bdvopros1,
        *bdotvet1, *N9, *bd_org1, *bd_anket1, *N10, *bdrez1, *bd_rezult1, *bd_analiz1, *bdsumma1, *N6,
        *bdtestMemo1, *bdanalizMemo1, *N7, *N11;
    // Beyond the fixed items, below them: the testee's data erased, the office's own password.
    QAction *N16, *TesteeMode, *EraseTestee, *ChangePassword;

    ui::Panel *Panel_ORG, *Panel_TESTIR, *Panel1;
    ui::DBText *DBText_RESP, *DBText_NPUNKT, *DBText_TIPU, *DBText_NAMEU, *DBText_PODRU;
    ui::DBText *DBText_FAMTESTIR, *DBText_NAMETESTIR, *DBText_OTCHTESTIR, *DBText_POLTESTIR, *DBText_GRTESTIR,
        *DBText_OBRTESTIR;
    ui::DBText* DBText1;
    QStatusBar* StatusBarMorv;
    ui::HintHandler* Hints;

    QList<ui::DBText*> orgTexts() const;
    QList<ui::DBText*> testirTexts() const;

    void FormCreate();
    void MenuOrgClick();
    void MenuTestirClick();
    void N3Click();
    void MenuTestClick();
    void MenuRezultClick();
    void MenuReportRunClick();
    void MenuReportTesteeClick();
    void MenuReportGroupClick();
    void MenuReportGroupAnonymousClick();
    void MenuGroupClick();
    void MenuHelpCallClick();
    void MenuAboutClick();
    void N5Click();
    void MenuExitClick();
    void DBText_RESPDblClick();
    void Label16DblClick();
    void DBText1Click();
    // "Табл" items
    void N13Click();
    void bdsprav1Click();
    void bdsprobr1Click();
    void bdsprorg1Click();
    void bdsprresp1Click();
    void Bdsprnp1Click();
    void bdtest1Click();
    void bdvopros1Click();
    void bdotvet1Click();
    void bd_org1Click();
    void bd_anket1Click();
    void bdrez1Click();
    void bd_rezult1Click();
    void bd_analiz1Click();
    void bdsumma1Click();
    void bdtestMemo1Click();
    void bdanalizMemo1Click();
    void N11Click();
    void TesteeModeClick();
    void EraseTesteeClick();
    void ChangePasswordClick();

protected:
    void FormClose(ui::CloseAction& action) override;

private:
    void buildMenu();
    void buildPanels();
    // A menu item (in the menu bar when menu is null) and the handler it runs.
    QAction* item(QMenu* menu, const char* name, const QString& caption, const QString& hint,
                  void (TFormMain::*handler)());
    void fillTableMenu();
};

extern TFormMain* FormMain;
