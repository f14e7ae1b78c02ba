// The export window on the sample database: it offers the current test and institution, writes
// the chosen file with a full progress bar, and says why when there is nothing to write.
#include "ReadBack.h"
#include "app/AppFixture.h"
#include "app/Main.h"
#include "export/window/Export.h"
#include "widgets/ProgressBar.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

namespace {

class ExportWindow : public AppTest {
protected:
    QTemporaryDir out;
    QAction* item = nullptr;
    void SetUp() override {
        AppTest::SetUp();
        item = FormMain->MenuExport;
    }
    // Opens the window from its menu item and runs step in it.
    void inWindow(const std::function<void(TFormExport*)>& step) {
        whenModal([&](QWidget* w) {
            ASSERT_EQ(w, FormExport);
            step(FormExport);
            FormExport->Close();
        });
        item->trigger();
    }
};

TEST_F(ExportWindow, WritesTheCurrentInstitutionsAnswersOfTheCurrentTest) {
    ASSERT_TRUE(chooseRun(1, 1, 2));
    FormMain->InstitutionWindowActivated();
    EXPECT_EQ(item->text(), "Экспорт…");
    EXPECT_EQ(item->objectName(), "MenuExport");
    EXPECT_TRUE(FormMain->MenuReportsMenu->actions().contains(item)) << "an item of the menu \"Отчёты\"";
    const QString file = out.filePath("ответы.xlsx");
    inWindow([&](TFormExport* f) {
        EXPECT_EQ(f->windowTitle(), "Экспорт результатов");
        EXPECT_EQ(f->ComboTest->currentData().toInt(), 2);
        EXPECT_TRUE(f->RadioOrg->isEnabled());
        EXPECT_TRUE(f->RadioOrg->isChecked());
        EXPECT_TRUE(f->RadioOrg->text().contains("№ 1"));
        f->RadioPlaces->setChecked(true);
        f->ComboFormat->setCurrentIndex(1);
        f->EditFile->setText(out.filePath("ответы"));
        clickButton(f, "ButtonExport");
        EXPECT_EQ(f->PB->position(), 100);
        EXPECT_EQ(f->EditFile->text(), file) << "the format's extension is added";
        EXPECT_TRUE(f->LabelDone->text().startsWith("Записано строк: 1,"))
            << f->LabelDone->text().toStdString();
        // For people to look at, beside the other windows' pictures.
        QDir().mkpath(QStringLiteral(MORV_SCREENSHOT_DIR));
        f->grab().save(QStringLiteral(MORV_SCREENSHOT_DIR "/FormExport.png"));
    });
    EXPECT_TRUE(messages->texts().isEmpty()) << messages->texts().join(" | ").toStdString();
    const QJsonObject x = readBack(file);
    ASSERT_EQ(x["rows"].toArray().size(), 1);
    EXPECT_EQ(x["rows"].toArray()[0].toArray()[0].toInt(), 1);
    EXPECT_TRUE(x["columns"].toArray()[11].toString().startsWith("Вопрос 1:"));
}

TEST_F(ExportWindow, WithoutAChosenInstitutionEveryInstitutionIsTaken) {
    const QString file = out.filePath("все.sav");
    inWindow([&](TFormExport* f) {
        EXPECT_FALSE(f->RadioOrg->isEnabled());
        EXPECT_TRUE(f->RadioAll->isChecked());
        f->ComboTest->setCurrentIndex(f->ComboTest->findData(1));
        f->ComboFormat->setCurrentIndex(0);
        f->EditFile->setText(file);
        clickButton(f, "ButtonExport");
    });
    const QJsonObject sav = readBack(file);
    EXPECT_EQ(sav["info"]["Cases"].toString(), "4");
}

TEST_F(ExportWindow, NothingToWriteIsToldAndAnEarlierFileStaysUnlessReplaced) {
    ASSERT_TRUE(chooseRun(1, 1, 1));
    FormMain->InstitutionWindowActivated();
    const QString file = out.filePath("данные.csv");
    QFile earlier(file);
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    earlier.write("earlier");
    earlier.close();
    inWindow([&](TFormExport* f) {
        f->ComboTest->setCurrentIndex(f->ComboTest->findData(3)); // nobody of institution 1 took test 3
        f->ComboFormat->setCurrentIndex(2);
        f->EditFile->setText(file);
        clickButton(f, "ButtonExport");
        EXPECT_EQ(
            messages->texts(),
            QStringList(
                {QStringLiteral("Файл %1 уже есть. Заменить его?").arg(file),
                 "В учреждении № 1 тест № 3 «Организация учебного и рабочего времени» никто не проходил."}))
            << messages->texts().join(" | ").toStdString();
        EXPECT_TRUE(f->ButtonExport->isEnabled());
        EXPECT_TRUE(f->LabelDone->text().isEmpty());

        // Declining to replace the file writes nothing.
        messages->clear();
        messages->answer = false;
        f->ComboTest->setCurrentIndex(f->ComboTest->findData(1));
        clickButton(f, "ButtonExport");
        EXPECT_EQ(messages->texts().size(), 1);
        // The extension follows the format.
        f->ComboFormat->setCurrentIndex(0);
        EXPECT_EQ(f->EditFile->text(), out.filePath("данные.sav"));
    });
    ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
    EXPECT_EQ(earlier.readAll(), "earlier");
}

} // namespace
