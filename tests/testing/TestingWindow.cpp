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

QList<AnswerRow> answerRows(const QString& dbDir, int org, int testee, int test) {
    db::Table t;
    t.setTableName(dbDir + QStringLiteral("/bd_rezult.dbf"));
    t.open();
    QList<AnswerRow> rows;
    for (t.first(); !t.eof(); t.next()) {
        if (t.fieldByName("NOMU")->asInteger() != org || t.fieldByName("NOMTESTIR")->asInteger() != testee ||
            t.fieldByName("NOMTESTA")->asInteger() != test)
            continue;
        rows.append({int(t.fieldByName("NOMVOPR")->asInteger()), int(t.fieldByName("OTVET")->asInteger()),
                     t.fieldByName("DATA")->value().toDate()});
    }
    return rows;
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
