// The slips of a running group session, from the window's «Карточки…» to a PDF read back with
// poppler's pdftotext.
#include "Dialogs.h"
#include "app/AppFixture.h"
#include "app/Main.h"
#include "group/GroupSession.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPrintPreviewDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

TEST_F(AppTest, GroupSlipsShowEveryNameAndCodeInThePdf) {
    if (runCommand(QStringLiteral("pdftotext"), {QStringLiteral("-v")}) != 0)
        GTEST_SKIP() << "poppler-utils (pdftotext) is not installed: scripts/deps.sh";
    ASSERT_TRUE(chooseRun(1, 1, 3));
    FormMain->TestChosen();
    FormMain->MenuGroup->trigger();
    TFormGroupSession* w = FormGroupSession;
    w->ButtonAll->click();
    w->CheckGroupCode->setChecked(true);
    w->ComboAddress->setCurrentIndex(w->ComboAddress->findText(QStringLiteral("127.0.0.1")));
    w->SpinPort->setValue(0);
    w->ButtonStart->click();
    ASSERT_EQ(w->GridStatus->rowCount(), 5) << messages->texts().join('\n').toStdString();

    const QString pdf = db->path(QStringLiteral("slips.pdf"));
    bool previewed = false;
    whenDialog<QPrintPreviewDialog>([&](QPrintPreviewDialog* preview) {
        previewed = true;
        auto* save = preview->findChild<QAction*>(QStringLiteral("ActionSavePdf"));
        ASSERT_TRUE(save);
        whenDialog<QFileDialog>([&](QFileDialog* files) {
            auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_TRUE(name);
            name->setText(pdf);
            static_cast<QDialog*>(files)->accept();
        });
        save->trigger();
        preview->reject();
    });
    w->ButtonSlips->click();
    ASSERT_TRUE(previewed);
    ASSERT_TRUE(QFileInfo::exists(pdf)) << messages->texts().join('\n').toStdString();
    QString text;
    ASSERT_EQ(runCommand(QStringLiteral("pdftotext"),
                         {QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdf, QStringLiteral("-")}, &text),
              0);
    // Lines broken differently by the layout still hold every word.
    const QString flat = text.simplified();
    for (int row = 0; row < w->GridStatus->rowCount(); ++row) {
        EXPECT_TRUE(flat.contains(w->GridStatus->item(row, 0)->text())) << row;
        EXPECT_TRUE(flat.contains(w->GridStatus->item(row, 1)->text())) << row;
    }
    EXPECT_TRUE(flat.contains(w->session().groupCode));
    EXPECT_TRUE(flat.contains(w->address().chopped(1))) << "the address, as typed";
}
