// «Экспорт теста…» and «Импорт теста…» of the construction window: a test out to a file and back
// in as a new test after the psychologist's yes, the grids then on the new test.
#include "../app/AppFixture.h"

#include "Dialogs.h"
#include "app/Main.h"
#include "catalogue/CreateTest.h"
#include "catalogue/NameTest.h"
#include "catalogue/TipTest.h"
#include "data/DM.h"
#include "exchange/Catalogue.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>

namespace {

void chooseFile(const QString& path) {
    whenDialog<QFileDialog>([path](QFileDialog* files) {
        auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_TRUE(name);
        name->setText(path);
        static_cast<QDialog*>(files)->accept();
    });
}

TEST_F(AppTest, ExportAndImportATestFromTheConstructionWindow) {
    const QString path = db->path(QStringLiteral("group.json"));
    whenModal([&](QWidget* w) {
        ASSERT_EQ(w, FormCreateTest);
        QApplication::setActiveWindow(FormCreateTest);
        FormCreateTest->EditTest->setText(QStringLiteral("2"));
        chooseFile(path);
        clickButton(FormCreateTest, "ButtonExport");
        ASSERT_TRUE(QFileInfo::exists(path)) << messages->texts().join('\n').toStdString();
        EXPECT_TRUE(messages->texts().join('\n').contains(QStringLiteral("сохранён в файл")));

        messages->clear();
        messages->answer = true; // yes: the same name as a new test
        chooseFile(path);
        clickButton(FormCreateTest, "ButtonImport");
        const QString said = messages->texts().join('\n');
        EXPECT_TRUE(said.contains(QStringLiteral("уже есть тест «Поведение в рабочей группе» (№ 2)")))
            << said.toStdString();
        EXPECT_TRUE(said.contains(QStringLiteral("добавлен под номером 4"))) << said.toStdString();
        EXPECT_TRUE(said.contains(QStringLiteral("Набор ответов 3 записан под номером 7")))
            << said.toStdString();
        EXPECT_EQ(FormCreateTest->EditTest->text(), QStringLiteral("4"));
        EXPECT_EQ(BD->Table_vopros->recordCount(), 12);
        EXPECT_EQ(BD->Table_test->fieldValue(QStringLiteral("NAME")).toString(),
                  QStringLiteral("Поведение в рабочей группе"));

        // No: nothing more is written.
        messages->clear();
        messages->answer = false;
        chooseFile(path);
        clickButton(FormCreateTest, "ButtonImport");
        BD->Table_test->setFiltered(false);
        EXPECT_EQ(BD->Table_test->recordCount(), 4);
        FormCreateTest->Close();
    });
    FormMain->N13Click();
}

// A REDCap dictionary brought in from the same button: what it cannot carry is shown before
// anything is written; no leaves the tables as they were, yes adds the test.
TEST_F(AppTest, ImportFromAnotherToolShowsTheReportFirst) {
    const QString path = db->path(QStringLiteral("sleep.csv"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("Variable / Field Name,Form Name,Field Type,Field Label,\"Choices, Calculations, OR Slider "
                "Labels\"\n"
                "q1,Сон,radio,Я плохо сплю,\"0, Никогда | 1, Иногда | 2, Часто\"\n"
                "note,Сон,notes,Комментарий,\n");
    }
    const QStringList tables{QStringLiteral("bd_test.DBF"), QStringLiteral("bd_vopros.DBF"),
                             QStringLiteral("bd_otvet.dbf")};
    auto stored = [&] {
        QByteArray all;
        for (const QString& t : tables)
            all += bytesOf(db->path(t));
        return all;
    };
    const QByteArray before = stored();
    whenModal([&](QWidget* w) {
        ASSERT_EQ(w, FormCreateTest);
        QApplication::setActiveWindow(FormCreateTest);
        messages->answer = false;
        chooseFile(path);
        clickButton(FormCreateTest, "ButtonImport");
        const QString asked = messages->texts().join('\n');
        EXPECT_TRUE(asked.contains(QStringLiteral("будет добавлен тест «Сон»: вопросов — 1")))
            << asked.toStdString();
        EXPECT_TRUE(asked.contains(QStringLiteral("• note: ответ свободным текстом — не импортировано")))
            << asked.toStdString();
        EXPECT_FALSE(asked.contains(QStringLiteral("добавлен под номером")));
        EXPECT_EQ(stored(), before);

        messages->clear();
        messages->answer = true;
        chooseFile(path);
        clickButton(FormCreateTest, "ButtonImport");
        EXPECT_TRUE(
            messages->texts().join('\n').contains(QStringLiteral("Тест «Сон» добавлен под номером 4")))
            << messages->texts().join('\n').toStdString();
        FormCreateTest->Close();
    });
    FormMain->N13Click();
    const exchange::TestFile t = exchange::readTest(db->dir(), 4);
    ASSERT_EQ(t.questions.size(), 1u);
    EXPECT_EQ(t.questions[0].text, QStringLiteral("Я плохо сплю"));
    ASSERT_EQ(t.answerSets.size(), 1u);
    EXPECT_EQ(t.answerSets[0].options.back().points, 2);
}

// The test list shows who made the chosen test, where it was published and its terms, and
// nothing for a test without a licence.
TEST_F(AppTest, TheTestListShowsTheChosenTestsLicence) {
    exchange::TestFile t = exchange::readTest(db->dir(), 3);
    t.name = QStringLiteral("Организация времени, второе издание");
    t.licence = exchange::Licence{QStringLiteral("Е. В. Смирнова"), QStringLiteral("Сборник методик, 2021"),
                                  QStringLiteral("свободно с указанием автора"), false};
    ASSERT_EQ(exchange::importTest(db->dir(), t, false).number, 4);
    QString withLicence;
    bool shownForTest3 = true;
    whenModal([&](QWidget* w) {
        ASSERT_EQ(w, TipTestForm);
        ASSERT_TRUE(BD->Table_spr_test->locate(QStringLiteral("KOD"), {db::Variant(4)}));
        whenModal([&](QWidget* list) {
            ASSERT_EQ(list, FormNameTest);
            ASSERT_TRUE(BD->Table_test->locate(QStringLiteral("NTEST"), {db::Variant(4)}));
            if (FormNameTest->LabelLicence->isVisibleTo(FormNameTest))
                withLicence = FormNameTest->LabelLicence->text();
            ASSERT_TRUE(BD->Table_test->locate(QStringLiteral("NTEST"), {db::Variant(3)}));
            shownForTest3 = FormNameTest->LabelLicence->isVisibleTo(FormNameTest);
            FormNameTest->Close();
        });
        clickButton(TipTestForm, "ButtonSelect");
    });
    TipTestForm->ShowModal();
    EXPECT_EQ(withLicence, QStringLiteral("Автор: Е. В. Смирнова. Источник: Сборник методик, 2021. Условия "
                                          "использования: свободно с указанием автора."));
    EXPECT_FALSE(shownForTest3);
    EXPECT_TRUE(messages->entries.empty()) << messages->texts().join("; ").toStdString();
}

} // namespace
