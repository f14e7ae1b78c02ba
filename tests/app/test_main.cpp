// Start-up, the main window, its menu and enabling chain, hints and help.
#include "AppFixture.h"

#include "app/About.h"
#include "app/Main.h"
#include "app/Startup.h"
#include "catalogue/CreateTest.h"
#include "catalogue/NameTest.h"
#include "catalogue/TipTest.h"
#include "data/DM.h"
#include "dbf/DbfFile.h"
#include "maintenance/Password.h"
#include "maintenance/Table.h"
#include "maintenance/Unit1.h"
#include "maintenance/Unit2.h"
#include "registry/NewOrg.h"
#include "registry/NewTestir.h"
#include "registry/Org.h"
#include "registry/Testir.h"
#include "scoring/AllVopr.h"
#include "scoring/Diagr.h"
#include "scoring/Diagr1.h"
#include "scoring/Rezult.h"
#include "stats/Stat.h"
#include "stats/X.h"
#include "testing/Test.h"
#include "widgets/DBText.h"
#include "widgets/Handler.h"
#include "widgets/Help.h"
#include "widgets/Hints.h"
#include "widgets/Messages.h"
#include "widgets/Panel.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

namespace {

QString statusText() {
    return FormMain->StatusBarMorv->currentMessage();
}

void enter(QWidget* w) {
    QEnterEvent e(QPointF(1, 1), w->mapTo(w->window(), QPointF(1, 1)), w->mapToGlobal(QPointF(1, 1)));
    QApplication::sendEvent(w, &e);
}
void leave(QWidget* w) {
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(w, &e);
}

// Opens nothing: no modal window appears within a short wait.
bool opensModal(const std::function<void()>& act, QString* caption = nullptr) {
    bool opened = false;
    QTimer probe;
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (!ui::Form::modalStack().isEmpty()) {
            opened = true;
            if (caption) *caption = ui::Form::modalStack().last()->windowTitle();
            ui::Form::modalStack().last()->Close();
        }
    });
    probe.start();
    act();
    QTest::qWait(30);
    return opened;
}

QLabel* captionLabel(QWidget* panel, const QString& text) {
    for (QLabel* l : panel->findChildren<QLabel*>())
        if (l->text() == text && !qobject_cast<ui::DBText*>(l)) return l;
    return nullptr;
}

} // namespace

TEST_F(AppTest, StartCreatesEveryWindowWithItsCaptionAndHelpContext) {
    struct W {
        ui::Form* form;
        const char* name;
        QString caption;
        int help;
        bool popup;
    };
    const QList<W> windows = {
        {FormMain, "FormMain", "Психологическое тестирование", 1, false},
        {TipTestForm, "TipTestForm", "Выбор типа теста", 5, true},
        {FormNameTest, "FormNameTest", "Список тестов", 4, true},
        {FormTable, "FormTable", "Проверка содержимого таблиц", 0, false},
        {FormTest, "FormTest", "Тестирование", 6, true},
        {AboutBox, "AboutBox", "О программе", 0, false},
        {FormOrg, "FormOrg", "Выбор учреждения", 2, true},
        {FormTestir, "FormTestir", "Выбор тестируемого", 3, false},
        {FormAllVopr, "FormAllVopr", "Проверка", 7, false},
        {FormRezult, "FormRezult", "Результат тестирования", 7, true},
        {FormDiagr, "FormDiagr", "Диаграмма", 7, false},
        {PasswordDlg, "PasswordDlg", "Введите пароль", 0, false},
        {FormNewOrg, "FormNewOrg", "Реквизиты учреждения", 2, false},
        {FormNewTestir, "FormNewTestir", "Анкетные данные", 3, false},
        {FormStat, "FormStat", "Статистика", 0, false},
        {FormX, "FormX", "Статистическая обработка (метод хи-квадрат)", 0, false},
        {Form_bdtest, "Form_bdtest", "Редактирование описания теста", 0, false},
        {Form_bdanaliz, "Form_bdanaliz", "Редактирование текста для анализа результатов", 0, false},
        {FormCreateTest, "FormCreateTest", "Создание теста", 0, false},
        {FormDiagr1, "FormDiagr1", "Диаграмма", 7, false},
    };
    for (const W& w : windows) {
        ASSERT_NE(w.form, nullptr) << w.name;
        EXPECT_EQ(w.form->objectName(), w.name);
        EXPECT_EQ(w.form->windowTitle(), w.caption) << w.name;
        EXPECT_EQ(ui::helpContext(w.form), w.help) << w.name;
        EXPECT_EQ(w.form->popupHelp(), w.popup) << w.name;
        EXPECT_FALSE(w.form->isVisible()) << w.name;
    }
    EXPECT_EQ(FormMain->objectName(), "FormMain");
    EXPECT_EQ(QApplication::applicationDisplayName(), "Психологическое тестирование");
    EXPECT_EQ(ui::help::helpFile(), "C:\\Morvanta\\Help\\Morvanta.hlp");
    // Every table is open on its first record, nothing of it shown yet.
    for (Table* t : BD->tablesInOrder())
        EXPECT_TRUE(t->active()) << t->objectName().toStdString();
    EXPECT_EQ(BD->Table_org->recNo(), 0);
    EXPECT_FALSE(FormMain->DBText_NAMEU->isVisible());
    EXPECT_FALSE(FormMain->DBText_NAMEU->text().isEmpty()); // bound, only hidden
}

TEST_F(AppTest, MenuStartsWithOnlyInstitutionHelpAndExit) {
    TFormMain* m = FormMain;
    m->show();
    EXPECT_TRUE(m->MenuOrg->isEnabled());
    EXPECT_TRUE(m->MenuHelp->isEnabled());
    EXPECT_TRUE(m->MenuExit->isEnabled());
    EXPECT_FALSE(m->MenuTestir->isEnabled());
    EXPECT_FALSE(m->N3->isEnabled());
    EXPECT_FALSE(m->MenuTest->isEnabled());
    EXPECT_FALSE(m->MenuRezult->isEnabled());
    EXPECT_FALSE(m->N1->isVisible());
    for (ui::DBText* t : m->orgTexts() + m->testirTexts())
        EXPECT_FALSE(t->isVisible());
    EXPECT_FALSE(m->DBText1->isVisible());
    EXPECT_EQ(m->CurTipTest, 0);
    EXPECT_FALSE(m->OrgChosen);
    EXPECT_EQ(m->NewOrgState, 0);
    const QStringList top = {"Учреждение", "Тестируемый", "Тест",    "Тестирование", "Результаты",
                             "Отчёты",     "Группа",      "Справка", "Выход",        "Табл"};
    QStringList seen;
    for (QAction* a : m->MainMenu->actions())
        seen << a->text();
    EXPECT_EQ(seen, top);
    QStringList help;
    for (QAction* a : m->MenuHelpMenu->actions())
        help << (a->isSeparator() ? "—" : a->text());
    EXPECT_EQ(help, (QStringList{"Помощь", "—", "О программе", "—", "Для психолога"}));
}

TEST_F(AppTest, EveryTopMenuItemFitsTheMenuBarAtTheWindowsSize) {
    // The added «Отчёты» and «Группа» must not push «Табл» into the bar's overflow at 679 pixels.
    TFormMain* m = FormMain;
    m->N1->setVisible(true);
    m->show();
    settle();
    ASSERT_EQ(m->width(), 679);
    for (QAction* a : m->MainMenu->actions()) {
        const QRect r = m->MainMenu->actionGeometry(a);
        EXPECT_TRUE(!r.isEmpty() && r.right() < m->MainMenu->width())
            << a->text().toStdString() << r.left() << ".." << r.right() << " of " << m->MainMenu->width();
    }
}

TEST_F(AppTest, EnablingChainGrowsAndNeverShrinks) {
    TFormMain* m = FormMain;
    m->show();
    // Before the institution window was ever open, the testee panel opens nothing.
    EXPECT_FALSE(opensModal([&] { emit m->Panel_TESTIR->doubleClicked(); }));
    // The test panel does nothing before the testee window was open.
    EXPECT_FALSE(opensModal([&] { emit m->Panel1->doubleClicked(); }));

    // The institution window, left at once, still takes its step.
    QString caption;
    EXPECT_TRUE(opensModal([&] { m->MenuOrg->trigger(); }, &caption));
    EXPECT_EQ(caption, "Выбор учреждения");
    EXPECT_TRUE(m->MenuTestir->isEnabled());
    EXPECT_TRUE(m->OrgChosen);
    for (ui::DBText* t : m->orgTexts())
        EXPECT_TRUE(t->isVisible());
    EXPECT_FALSE(m->N3->isEnabled());
    EXPECT_EQ(m->DBText_NAMEU->text(), BD->Table_orgNAMEU->asString());

    // Now the testee panel opens the testee window, though "Тестируемый" was never used.
    EXPECT_TRUE(opensModal([&] { emit m->Panel_TESTIR->doubleClicked(); }, &caption));
    EXPECT_EQ(caption, "Выбор тестируемого");
    EXPECT_TRUE(m->N3->isEnabled());
    for (ui::DBText* t : m->testirTexts())
        EXPECT_TRUE(t->isVisible());

    // The test panel opens the type window; the test name shows once it closes, chosen or not.
    EXPECT_FALSE(m->DBText1->isVisible());
    EXPECT_TRUE(opensModal([&] { emit m->Panel1->doubleClicked(); }, &caption));
    EXPECT_EQ(caption, "Выбор типа теста");
    EXPECT_TRUE(m->DBText1->isVisible());
    EXPECT_FALSE(m->MenuTest->isEnabled());
    m->TestChosen();
    EXPECT_TRUE(m->MenuTest->isEnabled());
    EXPECT_TRUE(m->MenuRezult->isEnabled());

    // Opening the windows again disables nothing.
    EXPECT_TRUE(opensModal([&] { m->MenuOrg->trigger(); }));
    EXPECT_TRUE(m->MenuTest->isEnabled() && m->N3->isEnabled() && m->MenuTestir->isEnabled());
}

TEST_F(AppTest, DoubleClickOnCaptionLabelOpensNothing) {
    TFormMain* m = FormMain;
    m->show();
    QLabel* caption = captionLabel(m->Panel_ORG, "Республика :");
    ASSERT_NE(caption, nullptr);
    EXPECT_FALSE(opensModal([&] { QTest::mouseDClick(caption, Qt::LeftButton); }));
    // On the panel itself, and on a data text, it opens the institution window.
    EXPECT_TRUE(opensModal([&] { QTest::mouseDClick(m->Panel_ORG, Qt::LeftButton, {}, QPoint(660, 170)); }));
    EXPECT_TRUE(opensModal([&] { QTest::mouseDClick(m->DBText_PODRU, Qt::LeftButton); }));
    // A single click on the test name opens the type window once "Тест" is usable.
    m->TesteeWindowActivated();
    m->TestChosen();
    EXPECT_TRUE(opensModal([&] { QTest::mouseClick(m->DBText1, Qt::LeftButton); }));
}

TEST_F(AppTest, HintsOfEveryWindowReachTheMainStatusBar) {
    TFormMain* m = FormMain;
    m->show();
    // A caption label shows its panel's hint; a data text its own.
    enter(captionLabel(m->Panel_TESTIR, "Фамилия :"));
    EXPECT_EQ(statusText(), "Щелкните дважды левой кнопкой мыши для выбора тестирования");
    enter(m->Panel1);
    EXPECT_EQ(statusText(), "Название текущего психологического теста");
    // A control without a hint in a window without one shows nothing.
    enter(PasswordDlg->Password);
    EXPECT_EQ(statusText(), "");
    // A menu item highlighted, in the menu bar and in a submenu.
    const QPointF over = m->MainMenu->actionGeometry(m->MenuOrg).center();
    QMouseEvent move(QEvent::MouseMove, over, m->MainMenu->mapToGlobal(over), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(m->MainMenu, &move);
    EXPECT_EQ(statusText(), "Установка учреждения");
    m->MainMenu->setActiveAction(m->MenuHelp);
    m->MenuHelpMenu->setActiveAction(m->MenuAbout);
    EXPECT_EQ(statusText(), "Выдача информации о программе");
    m->MenuHelpMenu->hide();
    m->MainMenu->setActiveAction(nullptr);

    // A control of a modal dialog: the navigator of the table view shown modally.
    m->PasswordConfirmed();
    QString seen;
    whenModal([&](QWidget* dlg) {
        QWidget* first = dlg->findChild<QWidget*>("nbFirst");
        ASSERT_NE(first, nullptr);
        enter(first);
        seen = statusText();
        leave(first);
        static_cast<ui::Form*>(dlg)->Close();
    });
    m->bdsprobr1->trigger();
    EXPECT_EQ(seen, "Первый");
}

TEST_F(AppTest, PasswordShowsTablesOnlyForTheExactText) {
    TFormMain* m = FormMain;
    auto tryPassword = [&](const QString& text, bool ok) {
        whenModal([&](QWidget*) {
            PasswordDlg->Password->clear();
            typeText(PasswordDlg->Password, text);
            QTest::keyClick(PasswordDlg->Password, ok ? Qt::Key_Return : Qt::Key_Escape);
        });
        return PasswordDlg->ShowModal();
    };
    for (const QString& wrong :
         QStringList{"kestrila", "KESTRILA", " Kestrila", "Kestrila ", "Kestril", "Kestrilaa", ""}) {
        EXPECT_EQ(tryPassword(wrong, true), ui::mrOk);
        EXPECT_FALSE(m->N1->isVisible()) << wrong.toStdString();
    }
    EXPECT_TRUE(messages->entries.empty());
    // Esc closes without a check.
    EXPECT_EQ(tryPassword("Kestrila", false), ui::mrCancel);
    EXPECT_FALSE(m->N1->isVisible());
    EXPECT_EQ(tryPassword("Kestrila", true), ui::mrOk);
    EXPECT_TRUE(m->N1->isVisible());
    // The typed text stays for next time; a later wrong one hides nothing.
    whenModal([&](QWidget*) {
        EXPECT_EQ(PasswordDlg->Password->text(), "Kestrila");
        clickButton(PasswordDlg, "CancelBtn");
    });
    m->N5->trigger();
    EXPECT_EQ(tryPassword("nope", true), ui::mrOk);
    EXPECT_TRUE(m->N1->isVisible());
    EXPECT_EQ(PasswordDlg->Password->echoMode(), QLineEdit::Password);
}

TEST_F(AppTest, ExitAndCloseBoxEndTheSameWay) {
    for (int way = 0; way < 2; ++way) {
        FormMain->show();
        QSignalSpy closed(FormMain, &ui::Form::closed);
        if (way == 0)
            FormMain->MenuExit->trigger();
        else
            FormMain->close();
        EXPECT_EQ(closed.count(), 1);
        EXPECT_FALSE(FormMain->isVisible());
    }
}

TEST_F(AppTest, HelpByContextAndContents) {
    TFormMain* m = FormMain;
    m->show();
    m->activateWindow();
    // The main window opens its topic in the viewer's window.
    QTest::keyClick(m, Qt::Key_F1);
    ASSERT_NE(ui::help::viewerWindow(), nullptr);
    EXPECT_TRUE(ui::help::viewerWindow()->isVisible());
    ui::help::closeAll();
    m->MenuHelpCall->trigger();
    EXPECT_TRUE(ui::help::viewerWindow()->isVisible());
    ui::help::closeAll();
    // The institution window shows its topic as a pop-up at the focused control's corner.
    QPoint at;
    whenModal([&](QWidget* w) {
        QTest::keyClick(w, Qt::Key_F1);
        at = w->mapToGlobal(QPoint(0, 0));
        static_cast<ui::Form*>(w)->Close();
    });
    FormOrg->ShowModal();
    ASSERT_NE(ui::help::popupWindow(), nullptr);
    EXPECT_TRUE(ui::help::popupWindow()->isVisible());
    EXPECT_EQ(ui::help::popupWindow()->pos(), at);
    ui::help::closeAll();
    // A window without a context does nothing on F1.
    PasswordDlg->show();
    QTest::keyClick(PasswordDlg, Qt::Key_F1);
    EXPECT_FALSE(ui::help::popupWindow()->isVisible());
    EXPECT_FALSE(ui::help::viewerWindow()->isVisible());
    PasswordDlg->hide();
    EXPECT_TRUE(messages->entries.empty()) << messages->texts().join("; ").toStdString();
}

TEST_F(EmptyAppTest, EmptyDatabaseStartsAndShowsNothing) {
    FormMain->show();
    FormMain->InstitutionWindowActivated();
    EXPECT_EQ(FormMain->DBText_NAMEU->text(), "");
    EXPECT_TRUE(messages->entries.empty());
}

namespace {

// A sample database whose first record of table points its memo field past the end of the memo file.
void memoPastTheEnd(const TestDb& db, const char* table, const char* field) {
    QString out;
    ASSERT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL),
                         {QStringLiteral("sample"), db.dir(), QStringLiteral("--force")}, &out),
              0)
        << out.toStdString();
    auto f = dbf::DbfFile::open(db.path(QString::fromLatin1(table)).toStdString());
    const int c = f->fieldIndex(field);
    std::string rec(f->record(0), f->recordLength());
    rec.replace(1 + f->fields()[size_t(c)].offset, 10, "   9999999");
    f->writeRecord(0, rec);
}

// Records the messages as a message box shows them: its own event loop runs until it is closed.
struct BoxRecorder {
    QStringList texts;
    ui::MessageHandler previous = ui::SetMessageHandler([this](ui::MessageKind, const QString& text) {
        texts << text;
        QApplication::processEvents();
        return true;
    });
    ~BoxRecorder() { ui::SetMessageHandler(std::move(previous)); }
};

struct Forms {
    Forms() { CreateApplicationForms(); }
    ~Forms() { DestroyApplicationForms(); }
};

} // namespace

TEST(AppStart, AMemoBlockPastTheEndIsReportedOnceAndEveryTitleIsItsCaption) {
    TestDb db;
    // The first test's description points past the end of the memo file.
    memoPastTheEnd(db, "bd_test.DBF", "XARAKT");
    BoxRecorder messages;
    InitApplication();
    Forms forms;
    QApplication::processEvents();
    ASSERT_EQ(messages.texts.size(), 1) << messages.texts.join('|').toStdString();
    EXPECT_TRUE(messages.texts[0].contains("bd_test.DBT"));
    // The window system adds a display name to every title: there must be none to add.
    const QString name = QApplication::applicationName();
    QApplication::setApplicationName(QStringLiteral("probe"));
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QStringLiteral("probe"));
    QApplication::setApplicationName(name);
}

TEST(AppStart, ALevelTextPastTheEndOfItsMemoFileIsOneMessageAtStartAndOneOnPosting) {
    TestDb db;
    memoPastTheEnd(db, "bd_analiz.dbf", "TEXT");
    BoxRecorder messages;
    InitApplication();
    Forms forms;
    QApplication::processEvents();
    ASSERT_EQ(messages.texts.size(), 1) << messages.texts.join('|').toStdString();
    EXPECT_TRUE(messages.texts[0].contains("bd_analiz.dbt", Qt::CaseInsensitive))
        << messages.texts[0].toStdString();

    // A new text for that record, posted from the memo editor: one message at most, and the
    // record either takes the new text or keeps what it had.
    messages.texts.clear();
    Form_bdanaliz->show();
    QApplication::processEvents();
    BD->Table_analiz->first();
    ui::run(Form_bdanaliz, [] {
        BD->Table_analiz->edit();
        BD->Table_analizTEXT->setValue(QStringLiteral("Новый текст"));
        BD->Table_analiz->post();
    });
    QApplication::processEvents();
    EXPECT_LE(messages.texts.size(), 1) << messages.texts.join('|').toStdString();
    Form_bdanaliz->hide();
}
