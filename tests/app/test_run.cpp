// One testing run through the real windows, from choosing the institution to the result.
#include "AppFixture.h"

#include "app/Main.h"
#include "catalogue/NameTest.h"
#include "catalogue/TipTest.h"
#include "data/DM.h"
#include "registry/NewTestir.h"
#include "registry/Org.h"
#include "registry/Testir.h"
#include "scoring/AllVopr.h"
#include "scoring/Rezult.h"
#include "testing/Test.h"
#include "widgets/DBEdit.h"
#include "widgets/DBGrid.h"
#include "widgets/DBMemo.h"
#include "widgets/DBText.h"
#include "widgets/RadioGroup.h"

#include <QAction>
#include <QDate>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

namespace {

// The sample anxiety scale (test 1, type 2): the answer set of each question, and the points of
// the options of both sets in the order they are shown.
const int kSetOf[10] = {1, 2, 1, 1, 2, 1, 1, 2, 1, 2};
int points(int set, int option) {
    return set == 1 ? option : 3 - option;
}

// The numbers, values and dates of stored rows, as comparable lists.
struct Stored {
    QList<int> numbers, values;
    QList<QDate> dates;
};
Stored stored(const QList<RunRow>& rows) {
    Stored out;
    for (const RunRow& r : rows) {
        out.numbers << r.number;
        out.values << r.value;
        out.dates << r.date;
    }
    return out;
}

} // namespace

TEST_F(AppTest, OneTestingRunFromInstitutionToResult) {
    const QDate today = QDate::currentDate();

    // 1. The second institution of the register, chosen in its list.
    whenModal([](QWidget* w) {
        ASSERT_EQ(w, FormOrg);
        QTest::keyClick(FormOrg->DBGrid1, Qt::Key_Down);
        clickButton(FormOrg, "ButtonSelect");
    });
    FormMain->MenuOrg->trigger();
    ASSERT_EQ(BD->Table_orgNOM_ORG->asInteger(), 2);

    // 2. A new testee registered there, and chosen.
    whenModal([](QWidget* w) {
        ASSERT_EQ(w, FormTestir);
        whenModal([](QWidget* details) {
            ASSERT_EQ(details, FormNewTestir);
            typeText(FormNewTestir->EditFAMTESTIR, QStringLiteral("Орлова"));
            typeText(FormNewTestir->EditNAMETESTIR, QStringLiteral("Вера"));
            typeText(FormNewTestir->EditGRTESTIR, QStringLiteral("2007"));
            clickButton(FormNewTestir, "Button1");
        });
        clickButton(FormTestir, "ButtonNewTestir");
        clickButton(FormTestir, "ButtonSelect");
    });
    ASSERT_TRUE(FormMain->MenuTestir->isEnabled());
    FormMain->MenuTestir->trigger();
    const int testee = int(BD->Table_anketNOMTESTIR->asInteger());
    EXPECT_EQ(testee, 5); // after the institution's testees 1 to 4
    EXPECT_EQ(BD->Table_anketFAMTESTIR->asString().trimmed(), QStringLiteral("Орлова"));

    // 3. The type "2" and its anxiety scale.
    whenModal([](QWidget* w) {
        ASSERT_EQ(w, TipTestForm);
        ASSERT_TRUE(BD->Table_spr_test->locate(QStringLiteral("KOD"), {2}));
        whenModal([](QWidget* list) {
            ASSERT_EQ(list, FormNameTest);
            ASSERT_TRUE(BD->Table_test->locate(QStringLiteral("NTEST"), {1}));
            QTest::keyClick(FormNameTest->DBGrid1, Qt::Key_Return);
        });
        clickButton(TipTestForm, "ButtonSelect");
    });
    ASSERT_TRUE(FormMain->N3->isEnabled());
    FormMain->N3->trigger();
    ASSERT_TRUE(FormMain->MenuTest->isEnabled());
    ASSERT_TRUE(FormMain->MenuRezult->isEnabled());

    // 4. Every question answered in the testing window, one click each.
    const int chosen[10] = {3, 2, 1, 0, 3, 2, 1, 0, 3, 2};
    int expected = 0;
    QStringList shown;
    whenModal([&](QWidget* w) {
        ASSERT_EQ(w, FormTest);
        auto* group = child<ui::RadioGroup>(FormTest, "RadioGroupOtvet");
        ASSERT_TRUE(group);
        for (int q = 0; q < 10; ++q) {
            shown << child<QLabel>(FormTest, "DBTextNVOPR")->text();
            ASSERT_EQ(group->count(), 4) << "question " << q + 1;
            QTest::mouseClick(group->button(chosen[q]), Qt::LeftButton);
            expected += points(kSetOf[q], chosen[q]);
            clickButton(FormTest, "ButNext");
        }
        clickButton(FormTest, "ButtonClose");
    });
    FormMain->MenuTest->trigger();
    EXPECT_EQ(shown, QString("1 2 3 4 5 6 7 8 9 10").split(' '));
    ASSERT_EQ(expected, 15); // the top of the moderate range 8-15

    // 5. and 6. The check, the scoring and the level of the score.
    QString verdict, level, text;
    whenModal([&](QWidget* w) {
        ASSERT_EQ(w, FormAllVopr);
        clickButton(FormAllVopr, "Button3");
        verdict = child<QLabel>(FormAllVopr, "Label6")->text();
        ASSERT_TRUE(child<QPushButton>(FormAllVopr, "Button1")->isEnabled());
        whenModal([&](QWidget* result) {
            ASSERT_EQ(result, FormRezult);
            level = child<QLabel>(FormRezult, "DBText1")->text().trimmed();
            text = child<ui::DBMemo>(FormRezult, "DBMemo1")->toPlainText();
            clickButton(FormRezult, "ButtonClose");
        });
        clickButton(FormAllVopr, "Button1");
    });
    FormMain->MenuRezult->trigger();
    settle();
    EXPECT_FALSE(FormAllVopr->isVisible());
    EXPECT_FALSE(FormRezult->isVisible());
    EXPECT_EQ(verdict, QStringLiteral("На все вопросы имеются ответы."));
    EXPECT_EQ(level, QStringLiteral("Умеренный уровень тревожности"));
    EXPECT_TRUE(text.startsWith(QStringLiteral("Беспокойство возникает в основном там")))
        << text.toStdString();

    // On disk: one answer row per question with the choice, one score row, both dated today.
    const Stored answers = stored(runRows(db->dir(), "bd_rezult.dbf", 2, testee, 1));
    EXPECT_EQ(answers.numbers, QList<int>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(answers.values, QList<int>({3, 2, 1, 0, 3, 2, 1, 0, 3, 2}));
    EXPECT_EQ(answers.dates, QList<QDate>(10, today));
    const Stored scores = stored(runRows(db->dir(), "bd_rez.dbf", 2, testee, 1));
    EXPECT_EQ(scores.numbers, QList<int>{1});
    EXPECT_EQ(scores.values, QList<int>{15});
    EXPECT_EQ(scores.dates, QList<QDate>{today});
    QString report;
    EXPECT_EQ(peerCheck(db->dir(), &report), 0) << report.toStdString();
}
