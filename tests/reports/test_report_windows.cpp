// The reports from the windows: the menu "Отчёты", "Печать…" in the result and chart windows,
// the preview and its saving as PDF.
#include "Dialogs.h"
#include "app/AppFixture.h"
#include "app/Main.h"
#include "data/DM.h"
#include "scoring/Diagr.h"
#include "scoring/Rezult.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPrintPreviewDialog>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>

namespace {

class ReportWindows : public AppTest {
protected:
    // Runs act, which must open the preview, and returns its caption after closing it; with
    // savePath, saves the report there through "Сохранить в PDF…" first.
    QString preview(const std::function<void()>& act, const QString& savePath = {}) {
        QString caption;
        whenDialog<QPrintPreviewDialog>([&](QPrintPreviewDialog* w) {
            EXPECT_EQ(w->objectName(), "ReportPreview");
            caption = w->windowTitle();
            if (!savePath.isEmpty()) {
                auto* save = w->findChild<QAction*>(QStringLiteral("ActionSavePdf"));
                EXPECT_TRUE(save);
                EXPECT_TRUE(w->findChild<QAction*>(QStringLiteral("ActionPrint")));
                // In view at the preview's own size, not behind the tool bar's overflow arrow.
                for (const char* name : {"ActionSavePdf", "ActionPrint"}) {
                    auto* bar = w->findChild<QToolBar*>();
                    auto* action = w->findChild<QAction*>(QLatin1String(name));
                    QWidget* button = bar && action ? bar->widgetForAction(action) : nullptr;
                    EXPECT_TRUE(button) << name;
                    if (!button) continue;
                    EXPECT_TRUE(button->isVisible()) << name << " is behind the overflow arrow";
                    EXPECT_TRUE(bar->rect().contains(button->geometry())) << name;
                }
                if (save) {
                    whenDialog<QFileDialog>([&](QFileDialog* files) {
                        // Typed, as a user would, without the suffix: the program adds it. (selectFile
                        // leaves the suggested name when the name field has focus.)
                        auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                        ASSERT_TRUE(name);
                        name->setText(QString(savePath).chopped(4));
                        static_cast<QDialog*>(files)->accept();
                    });
                    save->trigger();
                }
            }
            w->reject();
        });
        act();
        return caption;
    }
};

TEST_F(ReportWindows, TheMenuOpensWithTheTesteeAndItsRunReportsWithTheTest) {
    TFormMain* m = FormMain;
    EXPECT_FALSE(m->MenuReports->isEnabled());
    m->TesteeWindowActivated();
    EXPECT_TRUE(m->MenuReports->isEnabled());
    EXPECT_TRUE(m->MenuReportTestee->isEnabled());
    EXPECT_FALSE(m->MenuReportRun->isEnabled());
    EXPECT_FALSE(m->MenuReportGroup->isEnabled());
    m->TestChosen();
    EXPECT_TRUE(m->MenuReportRun->isEnabled());
    EXPECT_TRUE(m->MenuReportGroup->isEnabled());

    ASSERT_TRUE(chooseRun(1, 1, 2));
    const QString pdf = db->path(QStringLiteral("run.pdf"));
    EXPECT_EQ(preview([&] { m->MenuReportRun->trigger(); }, pdf),
              "Результаты тестирования — Соколова Анна Дмитриевна");
    ASSERT_TRUE(QFileInfo::exists(pdf));
    QString text;
    if (runCommand(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")}, &text) == 0) {
        EXPECT_TRUE(text.contains(QStringLiteral("Поведение в рабочей группе")));
    }
    EXPECT_EQ(preview([&] { m->MenuReportTestee->trigger(); }),
              "История тестирования — Соколова Анна Дмитриевна");
    EXPECT_EQ(preview([&] { m->MenuReportGroup->trigger(); }),
              "Результаты группы — Поведение в рабочей группе");
    EXPECT_TRUE(messages->texts().isEmpty()) << messages->texts().join('\n').toStdString();

    // Nobody of institution 1 has been scored on test 3: one message, no preview.
    ASSERT_TRUE(chooseRun(1, 1, 3));
    m->MenuReportGroup->trigger();
    ASSERT_EQ(messages->texts().size(), 1);
    EXPECT_TRUE(messages->texts()[0].startsWith(
        QStringLiteral("В учреждении «Средняя общеобразовательная школа № 27")));
    messages->clear();
    m->MenuReportRun->trigger();
    EXPECT_EQ(messages->texts(), QStringList{QStringLiteral(
                                     "Соколова Анна Дмитриевна не проходил(а) тест «Организация учебного и "
                                     "рабочего времени»: отчёт не составлен.")});
}

TEST_F(ReportWindows, PrintButtonsOfTheResultAndChartWindows) {
    ASSERT_TRUE(chooseRun(1, 1, 1));
    QString caption;
    whenModal([&](QWidget*) {
        caption = preview([] { FormRezult->ButtonPrint->click(); });
        FormRezult->Close();
    });
    FormRezult->ShowModal();
    EXPECT_EQ(caption, "Результаты тестирования — Соколова Анна Дмитриевна");

    ASSERT_TRUE(chooseRun(3, 2, 3));
    caption.clear();
    whenModal([&](QWidget*) {
        caption = preview([] { FormDiagr->ButtonPrint->click(); });
        FormDiagr->Close();
    });
    FormDiagr->ShowModal();
    EXPECT_EQ(caption, "Результаты тестирования — Кузнецова Ольга Владимировна");
    EXPECT_TRUE(messages->texts().isEmpty()) << messages->texts().join('\n').toStdString();
}

} // namespace
