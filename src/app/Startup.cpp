#include "app/Startup.h"

#include "Errors.h"
#include "app/About.h"
#include "app/Main.h"
#include "catalogue/CreateTest.h"
#include "catalogue/NameTest.h"
#include "catalogue/TipTest.h"
#include "data/DM.h"
#include "data/Erasure.h"
#include "dataset/Aliases.h"
#include "export/window/Export.h"
#include "group/GroupSession.h"
#include "maintenance/Password.h"
#include "maintenance/Table.h"
#include "maintenance/Unit1.h"
#include "maintenance/Unit2.h"
#include "psychometrics/window/Analysis.h"
#include "psychometrics/window/Norms.h"
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
#include "widgets/Fonts.h"
#include "widgets/Help.h"
#include "widgets/QueryProgress.h"

#include <QApplication>

void InitApplication() {
    QApplication::setApplicationName(QStringLiteral("Психологическое тестирование"));
    // No display name: the window system would append it to every window's caption.
    ui::installQueryProgress();
    ui::help::setHelpFile(QString::fromLatin1(kHelpFile));
    ui::registerFontSubstitutions();
}

void CreateApplicationForms() {
    FormMain = new TFormMain;
    // An erasure a crash stopped is finished, or undone, before any table is opened. Should
    // it fail now, the tables are still whole and the next start tries again.
    try {
        schema::finishErasure(db::Aliases::resolve(QStringLiteral("morv")));
    } catch (const db::EngineError&) {
    }
    BD = new TBD;
    FormMain->BindData();
    TipTestForm = new TTipTestForm;
    FormNameTest = new TFormNameTest;
    FormTable = new TFormTable;
    FormTest = new TFormTest;
    AboutBox = new TAboutBox;
    FormOrg = new TFormOrg;
    FormTestir = new TFormTestir;
    FormAllVopr = new TFormAllVopr;
    FormRezult = new TFormRezult;
    FormDiagr = new TFormDiagr;
    PasswordDlg = new TPasswordDlg;
    FormNewOrg = new TFormNewOrg;
    FormNewTestir = new TFormNewTestir;
    FormStat = new TFormStat;
    FormX = new TFormX;
    Form_bdtest = new TForm_bdtest;
    Form_bdanaliz = new TForm_bdanaliz;
    FormCreateTest = new TFormCreateTest;
    FormDiagr1 = new TFormDiagr1;
    FormExport = new TFormExport;
    FormItemAnalysis = new TFormItemAnalysis;
    FormNorms = new TFormNorms;
    FormGroupSession = new TFormGroupSession;
}

namespace {
template <typename T> void destroy(T*& instance) {
    delete instance;
    instance = nullptr;
}
} // namespace

void DestroyApplicationForms() {
    ui::help::closeAll();
    destroy(FormGroupSession); // stops its server before the tables close
    destroy(FormNorms);
    destroy(FormItemAnalysis);
    destroy(FormExport);
    destroy(FormDiagr1);
    destroy(FormCreateTest);
    destroy(Form_bdanaliz);
    destroy(Form_bdtest);
    destroy(FormX);
    destroy(FormStat);
    destroy(FormNewTestir);
    destroy(FormNewOrg);
    destroy(PasswordDlg);
    destroy(FormDiagr);
    destroy(FormRezult);
    destroy(FormAllVopr);
    destroy(FormTestir);
    destroy(FormOrg);
    destroy(AboutBox);
    destroy(FormTest);
    destroy(FormTable);
    destroy(FormNameTest);
    destroy(TipTestForm);
    // The main window's texts let go of the data module before it goes.
    if (FormMain) FormMain->UnbindData();
    destroy(BD);
    destroy(FormMain);
}
