#include "TestingWindow.h"

#include "UiTest.h"
#include "app/Main.h"
#include "dataset/Table.h"
#include "testing/Test.h"
#include "widgets/DBText.h"
#include "widgets/RadioGroup.h"

#include <QAction>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

QList<RunRow> answerRows(const QString& dbDir, int org, int testee, int test) {
    return runRows(dbDir, "bd_rezult.dbf", org, testee, test);
}

int answerRowCount(const QString& dbDir) {
    db::Table t;
    t.setTableName(dbDir + QStringLiteral("/bd_rezult.dbf"));
    t.open();
    return t.recordCount();
}

void inTestingWindow(const std::function<void()>& step) {
    FormMain->TestChosen();
    bool ran = false;
    whenModal([&](QWidget* w) {
        ran = true;
        EXPECT_EQ(w, FormTest);
        step();
        if (FormTest->isVisible()) FormTest->ButtonClose->click();
    });
    FormMain->MenuTest->trigger();
    EXPECT_TRUE(ran);
    EXPECT_FALSE(FormTest->isVisible());
}

void chooseOption(int i) {
    QRadioButton* b = FormTest->RadioGroupOtvet->button(i);
    ASSERT_NE(b, nullptr) << "no option " << i;
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
}

int shownQuestion() {
    return FormTest->DBTextNVOPR->text().toInt();
}
