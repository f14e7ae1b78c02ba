// Every window in a realistic state, written to build/screenshots/<instance>.png for people to look at.
#include "AppFixture.h"

#include "app/About.h"
#include "app/FirstStart.h"
#include "app/Fist.h"
#include "app/Main.h"
#include "app/Picture.h"
#include "app/ServerLogin.h"
#include "catalogue/CreateTest.h"
#include "catalogue/NameTest.h"
#include "catalogue/TipTest.h"
#include "data/DM.h"
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
#include "widgets/DBChart.h"
#include "widgets/StringGrid.h"

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QRadioButton>
#include <QTest>

namespace {

QString shotDir() {
    const QString dir = QStringLiteral(MORV_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    return dir;
}

QImage shoot(QWidget* w, const QString& name) {
    const bool wasVisible = w->isVisible();
    if (!wasVisible) w->show();
    QTest::qWait(20);
    QImage img = w->grab().toImage();
    EXPECT_TRUE(img.save(shotDir() + QLatin1Char('/') + name + QStringLiteral(".png"))) << name.toStdString();
    if (!wasVisible) w->hide();
    return img;
}

} // namespace

TEST_F(AppTest, ScreenshotsOfEveryWindow) {
    // As after a testing run: everything chosen, the tables menu open to the psychologist.
    FormMain->InstitutionWindowActivated();
    FormMain->TesteeWindowActivated();
    FormMain->TestChosen();
    FormMain->PasswordConfirmed();
    FormMain->show();

    const QImage main = shoot(FormMain, QStringLiteral("FormMain"));
    EXPECT_EQ(main.size(), QSize(679, 518));

    {
        TFistForm splash;
        EXPECT_EQ(shoot(&splash, QStringLiteral("FistForm")).size(), QSize(527, 224));
    }
    EXPECT_EQ(shoot(AboutBox, QStringLiteral("AboutBox")).size(), QSize(388, 211));
    EXPECT_EQ(shoot(PasswordDlg, QStringLiteral("PasswordDlg")).size(), QSize(287, 114));

    FormTable->setDataSource(BD->DS_org);
    EXPECT_EQ(shoot(FormTable, QStringLiteral("FormTable")).size(), QSize(577, 412));
    EXPECT_EQ(shoot(Form_bdtest, QStringLiteral("Form_bdtest")).size(), QSize(544, 375));
    EXPECT_EQ(shoot(Form_bdanaliz, QStringLiteral("Form_bdanaliz")).size(), QSize(544, 375));

    // The catalogue as after choosing test 1 of its type, and narrowed to it for construction.
    FormMain->CurTipTest = 2;
    BD->Table_spr_test->locate(QStringLiteral("KOD"), {db::Variant(2)});
    FormNameTest->LabelTipTesta->setText(BD->Table_spr_testTEXT->asString());
    FormCreateTest->ButtonTestClick();

    const QList<ui::Form*> others = {TipTestForm, FormNameTest,  FormOrg,       FormTestir,
                                     FormNewOrg,  FormNewTestir, FormCreateTest};
    for (ui::Form* f : others) {
        const QImage img = shoot(f, f->objectName());
        EXPECT_FALSE(img.isNull()) << f->objectName().toStdString();
    }

    // A stored complete run of a one-criterion test: the dialog after its check, and the result.
    ASSERT_TRUE(chooseRun(1, 1, 1));
    FormAllVopr->show();
    FormAllVopr->Button3Click();
    EXPECT_EQ(shoot(FormAllVopr, QStringLiteral("FormAllVopr")).size(), QSize(394, 225));
    FormAllVopr->hide();
    FormRezult->Show(); // its activation chooses the level of the stored score
    EXPECT_EQ(shoot(FormRezult, QStringLiteral("FormRezult")).size(), QSize(691, 246));
    FormRezult->hide();

    EXPECT_EQ(TipTestForm->size(), QSize(667, 269));
    EXPECT_EQ(FormNameTest->size(), QSize(632, 453));
    EXPECT_EQ(FormCreateTest->size(), QSize(640, 480));

    // The testing window on the first question of a stored run, its choice selected.
    ASSERT_TRUE(chooseRun(1, 1, 1));
    FormTest->Show();
    EXPECT_EQ(shoot(FormTest, QStringLiteral("FormTest")).size(), QSize(578, 412));
    FormTest->hide();

    // The tables menu as the psychologist sees it.
    FormMain->N1Menu->popup(FormMain->mapToGlobal(QPoint(300, 20)));
    QTest::qWait(20);
    shoot(FormMain->N1Menu, QStringLiteral("FormMain_N1"));
    FormMain->N1Menu->hide();
    FormMain->hide();
}

TEST_F(AppTest, ScreenshotsOfTheStatisticsWindows) {
    // The default queries on the sample database with every result computed.
    FormStat->Show();
    for (const char* b : {"ButtonSred", "ButtonSO", "ButtonDisp", "ButtonSto", "Button1", "Button2",
                          "Button3", "Button4", "Button5"})
        clickButton(FormStat, b);
    EXPECT_TRUE(messages->texts().isEmpty()) << messages->texts().join('|').toStdString();
    EXPECT_EQ(shoot(FormStat, QStringLiteral("FormStat")).size(), QSize(592, 507));
    FormStat->hide();

    // The example after one count was retyped, and its chi-square.
    FormX->Show();
    FormX->StringGrid1->setFocus();
    FormX->StringGrid1->setCurrentCell(1, 1);
    QTest::qWait(20);
    if (QLineEdit* e = FormX->StringGrid1->editor()) {
        e->selectAll();
        typeText(e, QStringLiteral("13"));
    }
    clickButton(FormX, "Button2");
    EXPECT_EQ(FormX->EditX->text(), QStringLiteral("8.8889"));
    EXPECT_EQ(shoot(FormX, QStringLiteral("FormX")).size(), QSize(655, 407));
    FormX->hide();
}

TEST_F(AppTest, ScreenshotsOfTheCharts) {
    // The stored scores of a run of the three-criterion test, as after scoring it.
    ASSERT_TRUE(chooseRun(1, 1, 2));
    FormDiagr->Show();
    EXPECT_EQ(shoot(FormDiagr, QStringLiteral("FormDiagr")).size(), QSize(663, 415));
    FormDiagr->hide();
    FormDiagr1->Show();
    EXPECT_EQ(shoot(FormDiagr1, QStringLiteral("FormDiagr1")).size(), QSize(663, 415));
    FormDiagr1->hide();
    EXPECT_EQ(FormDiagr->DBChart1->points().size(), 3);
    EXPECT_EQ(FormDiagr1->DBChart1->points().size(), 3);
    EXPECT_TRUE(messages->texts().isEmpty());
}

TEST_F(AppTest, ScreenshotsOfTheFirstStartWindowAndTheIcon) {
    TFormFirstStart w;
    EXPECT_EQ(shoot(&w, QStringLiteral("FormFirstStart")).size(), QSize(460, 284));
    w.RadioServer->setChecked(true);
    w.EditUrl->setText(QStringLiteral("postgresql://ivanova@server.example/morv?sslmode=verify-full"));
    EXPECT_EQ(shoot(&w, QStringLiteral("FormFirstStartServer")).size(), QSize(460, 284));
    TFormServerPassword p(QStringLiteral("postgresql://ivanova@server.example/morv?sslmode=verify-full"),
                          QStringLiteral("refused"));
    p.EditPassword->setText(QStringLiteral("secret"));
    EXPECT_EQ(shoot(&p, QStringLiteral("FormServerPassword")).size(), QSize(420, 176));
    EXPECT_TRUE(ProgramIcon().pixmap(128, 128).save(shotDir() + QStringLiteral("/ProgramIcon.png")));
}
