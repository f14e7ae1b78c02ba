// The item analysis and norms windows, the item analysis report, and the standard scores of the
// result window, on the program's own tables.
#include "CurrentRun.h"
#include "app/Main.h"
#include "data/DM.h"
#include "data/Schema.h"
#include "psychometrics/ItemAnalysis.h"
#include "psychometrics/Texts.h"
#include "psychometrics/window/Analysis.h"
#include "psychometrics/window/Norms.h"
#include "reports/ItemAnalysisReport.h"
#include "reports/Render.h"
#include "scoring/Rezult.h"
#include "scoring/ScoringTest.h"
#include "widgets/DBText.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

namespace {

QString shotPath(const char* name) {
    const QString dir = QStringLiteral(MORV_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    return QDir(dir).filePath(QString::fromLatin1(name));
}

void shoot(QWidget* w, const char* name) {
    QTest::qWait(20);
    EXPECT_TRUE(w->grab().toImage().save(shotPath(name) + QStringLiteral(".png"))) << name;
}

} // namespace

TEST_F(AppTest, ItemAnalysisWindowShowsTheCurrentTestsCriteria) {
    EXPECT_FALSE(FormMain->MenuItemAnalysis->isEnabled());
    ASSERT_TRUE(chooseRun(1, 1, 1));
    FormMain->TestChosen();
    ASSERT_TRUE(FormMain->MenuItemAnalysis->isEnabled());
    const psychometrics::TestAnalysis expected = psychometrics::analyseTest(db->dir(), 1);
    bool shown = false;
    whenModal([&](QWidget* w) {
        shown = true;
        EXPECT_EQ(w->objectName(), QStringLiteral("FormItemAnalysis"));
        const psychometrics::CriterionAnalysis& c = expected.criteria.at(0);
        ASSERT_EQ(FormItemAnalysis->GridItems->rowCount(), int(c.items.size()));
        for (size_t i = 0; i < c.items.size(); ++i)
            EXPECT_EQ(FormItemAnalysis->GridItems->item(int(i), 0)->text(),
                      QString::number(c.items[i].question));
        EXPECT_TRUE(FormItemAnalysis->LabelSummary->text().contains(psychometrics::figure(c.scale.alpha)));
        // The sample database holds a handful of runs: the window says the figures rest on too few.
        ASSERT_LT(c.complete, 30u);
        ASSERT_GE(c.complete, 2u);
        EXPECT_TRUE(FormItemAnalysis->LabelNotes->isVisible());
        EXPECT_TRUE(FormItemAnalysis->LabelNotes->text().contains(
            QStringLiteral("учтено прохождений — %1, а для надёжной оценки α Кронбаха нужно не меньше 30")
                .arg(c.complete)))
            << FormItemAnalysis->LabelNotes->text().toStdString();
        shoot(w, "FormItemAnalysis");
        clickButton(w, "ButtonClose");
    });
    FormMain->MenuItemAnalysis->trigger();
    EXPECT_TRUE(shown);
    EXPECT_TRUE(messages->texts().isEmpty()) << messages->texts().join('\n').toStdString();
}

TEST(ItemAnalysisNotes, ASampleBelowThirtyRunsIsCalledTooSmall) {
    psychometrics::CriterionAnalysis c;
    c.items.resize(3);
    c.scale.alpha = 0.7;
    c.scale.standardizedAlpha = 0.7;
    auto small = [&](size_t runs) {
        c.complete = runs;
        return psychometrics::criterionNotes(c).join(' ').contains(QStringLiteral("Выборка слишком мала"));
    };
    EXPECT_TRUE(small(4));
    EXPECT_TRUE(small(29));
    EXPECT_FALSE(small(30));
    EXPECT_FALSE(small(1)); // nothing computed: said otherwise
    c.items.resize(1);
    EXPECT_FALSE(small(4));
}

TEST_F(AppTest, ItemAnalysisReportAsPdf) {
    const QString pdf = db->path(QStringLiteral("items.pdf"));
    reports::savePdf(reports::itemAnalysisReport(psychometrics::analyseTest(db->dir(), 1)), pdf);
    QString text;
    ASSERT_EQ(
        runCommand(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")}, &text),
        0);
    EXPECT_TRUE(text.contains(QStringLiteral("Анализ заданий теста")));
    EXPECT_TRUE(text.contains(QStringLiteral("r с остальными")));
    EXPECT_TRUE(text.contains(QStringLiteral("Критерий 1")));
    EXPECT_EQ(runCommand(QStringLiteral("pdftoppm"), {"-png", "-r", "80", "-f", "1", "-l", "1", "-singlefile",
                                                      pdf, shotPath("ReportItemAnalysis")}),
              0);
}

TEST_F(AppTest, NormsBySampleAskBeforeStoringASmallGroup) {
    ASSERT_TRUE(chooseRun(1, 1, 1));
    // The mean of the first score row of each scored run of criterion 1, read independently.
    const QStringList tests = readColumn(db->path("bd_rez.dbf"), "NOMTESTA"),
                      krits = readColumn(db->path("bd_rez.dbf"), "KRIT"),
                      balls = readColumn(db->path("bd_rez.dbf"), "BALL"),
                      orgs = readColumn(db->path("bd_rez.dbf"), "NOMU"),
                      people = readColumn(db->path("bd_rez.dbf"), "NOMTESTIR");
    double sum = 0;
    QSet<QString> seen;
    for (int i = 0; i < tests.size(); ++i)
        if (tests[i].toInt() == 1 && krits[i].toInt() == 1 && !seen.contains(orgs[i] + '/' + people[i])) {
            seen.insert(orgs[i] + '/' + people[i]);
            sum += balls[i].toDouble();
        }
    ASSERT_GE(seen.size(), 2);
    ASSERT_LT(seen.size(), 30);

    messages->answer = false;
    whenModal([&](QWidget* w) {
        FormNorms->ComboSex->setCurrentIndex(0);
        clickButton(w, "ButtonSample");
        EXPECT_TRUE(FormNorms->LabelSample->text().endsWith(QStringLiteral("не записано.")));
        EXPECT_EQ(FormNorms->Table_norm->recordCount(), 0);
        messages->answer = true;
        clickButton(w, "ButtonSample");
        clickButton(w, "ButtonSample"); // the group's row is replaced, not added again
        EXPECT_TRUE(FormNorms->LabelSample->text().endsWith(QStringLiteral("— записано.")));
        shoot(w, "FormNorms");
        clickButton(w, "ButtonClose");
    });
    FormMain->findChild<QAction*>(QStringLiteral("MenuNorms"))->trigger();
    ASSERT_EQ(messages->entries.size(), 3u);
    EXPECT_TRUE(messages->texts()[0].contains(QStringLiteral("меньше 30")));
    const QString norm = db->path("bd_norm.dbf");
    ASSERT_EQ(readColumn(norm, "SRED").size(), 1);
    EXPECT_NEAR(readColumn(norm, "SRED")[0].toDouble(), sum / seen.size(), 1e-4);
    EXPECT_EQ(readColumn(norm, "KOLVO")[0].toDouble(), double(seen.size()));
    EXPECT_EQ(readColumn(norm, "NOMTESTA")[0], QStringLiteral("1"));
    EXPECT_EQ(readColumn(norm, "POL")[0], QString());
    QString report;
    EXPECT_EQ(peerCheck(db->dir(), &report), 0) << report.toStdString();
}

class RezultNorms : public ScoringTest {
protected:
    void SetUp() override {
        ScoringTest::SetUp();
        makeTest(1, 1, {1});
        range(1, 1, QStringLiteral("Средний"), 0, 100);
        db->add(QStringLiteral("bd_anket.dbf"), {3.0, 1.0, QStringLiteral("Сидорова"), QStringLiteral("Анна"),
                                                 QString(), QStringLiteral("Ж"), 2000});
        scoreRow(1, 1, 14, "2020-01-02", 3);
    }
    void norm(const char* sex, double mean, double sd) {
        schema::ensureTable(db->dir(), schema::norms());
        db->add(QStringLiteral("bd_norm.dbf"), {1, 1, QString::fromUtf8(sex), 18, 25, mean, sd});
    }
    // The norms line as shown, empty when hidden; checks that it reads on a line of its own, apart
    // from the buttons, and says what it says once.
    QString shown(const char* shot = nullptr) {
        choose(1, 3);
        QString label, level;
        whenModal([&](QWidget* w) {
            level = FormRezult->DBText1->text();
            QLabel* l = FormRezult->LabelNorm;
            if (l->isVisible()) {
                label = l->text();
                const QRect box(l->mapTo(w, QPoint(0, 0)), l->size());
                for (const char* button : {"ButtonClose", "ButtonPrint"}) {
                    auto* b = w->findChild<QPushButton*>(QLatin1String(button));
                    EXPECT_FALSE(box.intersects(QRect(b->mapTo(w, QPoint(0, 0)), b->size()))) << button;
                }
                EXPECT_FALSE(l->wordWrap());
                EXPECT_LE(l->fontMetrics().horizontalAdvance(label), l->contentsRect().width())
                    << label.toStdString();
                EXPECT_GE(l->contentsRect().height(), l->fontMetrics().height());
                int times = 0;
                for (QLabel* other : w->findChildren<QLabel*>())
                    times +=
                        other->isVisible() &&
                        other->text().contains(QStringLiteral("стандартных баллов"), Qt::CaseInsensitive);
                EXPECT_LE(times, 1);
            }
            if (shot) shoot(w, shot);
            FormRezult->Close();
        });
        FormRezult->ShowModal();
        EXPECT_EQ(level, QStringLiteral("Средний")); // the level stays whatever the norms
        return label;
    }
};

TEST_F(RezultNorms, StandardScoresUnderTheTextOrWhyNoneOrNothingWithoutNorms) {
    EXPECT_EQ(shown(), QString()); // a database without norms says nothing of them
    norm("М", 10, 2);
    EXPECT_EQ(shown(), QStringLiteral("Нет стандартных баллов: нет норм для группы: Ж, 20 лет"));
    norm("Ж", 12, 2);
    // z = 1: T 60, sten 7.5 → 8, stanine 7, 100·Φ(1) = 84.13.
    EXPECT_EQ(shown("FormRezultNorms"),
              QStringLiteral(
                  "Стандартные баллы: z 1,00; T 60; стен 8; станайн 7; процентиль 84 (нормы: Ж, 18–25 лет)"));
    EXPECT_TRUE(messages->texts().isEmpty()) << messages->texts().join('\n').toStdString();
}
