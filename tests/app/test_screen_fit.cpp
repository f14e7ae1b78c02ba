// What the windows' own additions show: texts that fit whole, hints where a window opens empty,
// the erasure's question in the user's words. Screenshots go to build/screenshots.
#include "AppFixture.h"

#include "app/FirstStart.h"
#include "app/Main.h"
#include "data/DM.h"
#include "data/Schema.h"
#include "psychometrics/window/Norms.h"
#include "scoring/Diagr.h"
#include "widgets/DBGrid.h"
#include "widgets/PathEdit.h"

#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

namespace {

void shoot(QWidget* w, const char* name) {
    const QString dir = QStringLiteral(MORV_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    QTest::qWait(20);
    EXPECT_TRUE(
        w->grab().toImage().save(QDir(dir).filePath(QString::fromLatin1(name) + QStringLiteral(".png"))))
        << name;
}

QString cell(const QTableView* grid, int row, int column) {
    return grid->model()->index(row, column).data().toString();
}

// Every cell's text and every title fits its column, and the columns the view.
void expectColumnsFit(const QTableView* grid, const char* what) {
    const QFontMetrics fm(grid->font());
    const QFontMetrics titles(grid->horizontalHeader()->font());
    int total = 0;
    for (int c = 0; c < grid->model()->columnCount(); ++c) {
        const int width = grid->columnWidth(c);
        total += width;
        const QString title = grid->model()->headerData(c, Qt::Horizontal).toString();
        if (grid->horizontalHeader()->isVisible()) {
            EXPECT_GE(width, titles.horizontalAdvance(title) + 6)
                << what << ": title " << title.toStdString();
        }
        for (int r = 0; r < grid->model()->rowCount(); ++r) {
            EXPECT_GE(width, fm.horizontalAdvance(cell(grid, r, c)) + 6)
                << what << ": " << cell(grid, r, c).toStdString();
        }
    }
    EXPECT_LE(total, grid->viewport()->width()) << what << ": the last column is cut";
}

} // namespace

TEST_F(AppTest, TheChartsLevelListShowsEveryNameWhole) {
    ASSERT_TRUE(chooseRun(1, 1, 2)); // three criteria, three levels each, long names
    FormDiagr->Show();
    QTest::qWait(20);
    const ui::DBGrid* list = FormDiagr->DBGrid1;
    ASSERT_EQ(list->model()->rowCount(), 9);
    EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
    EXPECT_LE(list->columnWidth(0) + list->columnWidth(1), list->viewport()->width());
    const QFontMetrics fm(list->font());
    for (int r = 0; r < list->model()->rowCount(); ++r) {
        const QString name = cell(list, r, 1);
        ASSERT_FALSE(name.isEmpty());
        // Wrapped into the column (less the cell's margins), the name needs no more than its row.
        const QRect needed =
            fm.boundingRect(QRect(0, 0, list->columnWidth(1) - 8, 10000), Qt::TextWordWrap, name);
        EXPECT_GE(list->rowHeight(r), needed.height()) << name.toStdString();
    }
    shoot(FormDiagr, "FormDiagrLevels");
    FormDiagr->hide();
    EXPECT_TRUE(messages->texts().isEmpty()) << messages->texts().join('\n').toStdString();
}

TEST_F(AppTest, TheNormsWindowSaysWhatToDoAndShowsEveryColumnWhole) {
    ASSERT_TRUE(chooseRun(1, 1, 1));
    schema::ensureTable(db->dir(), schema::norms());
    // A row with the widest figures a norm holds.
    db->add(QStringLiteral("bd_norm.dbf"), {1, 1, QStringLiteral("Ж"), 18, 25, 123.4567, 12.3456});
    db->add(QStringLiteral("bd_norm.dbf"),
            {1, 1, QString(), 100, 120, db::Variant(), db::Variant(), 123.5, 99.99, 1200});
    bool shown = false;
    whenModal([&](QWidget* w) {
        shown = true;
        const QLabel* hint = child<QLabel>(w, "LabelHint");
        ASSERT_TRUE(hint);
        EXPECT_TRUE(hint->isVisible());
        EXPECT_TRUE(hint->text().contains(QStringLiteral("Добавьте строку")));
        const QGroupBox* group = child<QGroupBox>(w, "GroupSample");
        const QPushButton* button = child<QPushButton>(w, "ButtonSample");
        EXPECT_NE(group->title(), button->text());
        ASSERT_EQ(FormNorms->DBGridNorm->model()->rowCount(), 2);
        expectColumnsFit(FormNorms->DBGridNorm, "norms");
        EXPECT_FALSE(FormNorms->DBGridNorm->horizontalScrollBar()->isVisible());
        shoot(w, "FormNormsRows");
        clickButton(w, "ButtonClose");
    });
    FormMain->findChild<QAction*>(QStringLiteral("MenuNorms"))->trigger();
    EXPECT_TRUE(shown);
    EXPECT_TRUE(messages->texts().isEmpty()) << messages->texts().join('\n').toStdString();
}

TEST_F(AppTest, TheErasureAsksInWordsNotFileNames) {
    ASSERT_TRUE(chooseRun(1, 1, 1));
    // The testee's rows of every test, counted from the tables.
    auto rowsOf = [&](const char* table) {
        const QStringList orgs = readColumn(db->path(table), "NOMU"),
                          people = readColumn(db->path(table), "NOMTESTIR");
        int n = 0;
        for (int i = 0; i < orgs.size(); ++i)
            n += orgs[i].toInt() == 1 && people[i].toInt() == 1;
        return n;
    };
    const int answers = rowsOf("bd_rezult.dbf"), scores = rowsOf("bd_rez.dbf");
    ASSERT_GT(answers, 0);
    ASSERT_GT(scores, 0);
    messages->answer = false; // the question only: nothing is erased
    FormMain->EraseTesteeClick();
    ASSERT_EQ(messages->entries.size(), 1u);
    const QString question = messages->texts()[0];
    EXPECT_TRUE(question.contains(QStringLiteral("ответы на вопросы — %1").arg(answers)))
        << question.toStdString();
    EXPECT_TRUE(question.contains(QStringLiteral("результаты (баллы по критериям) — %1").arg(scores)))
        << question.toStdString();
    EXPECT_TRUE(question.contains(QStringLiteral("анкета тестируемого — 1"))) << question.toStdString();
    EXPECT_FALSE(question.contains(QStringLiteral(".dbf"))) << question.toStdString();
    EXPECT_EQ(rowsOf("bd_anket.dbf"), 1);
}

TEST(FirstStartFolder, ALongPathKeepsItsStartAndItsLastFolderWhole) {
    TFormFirstStart w;
    const QString path =
        QStringLiteral("/home/ivanova-psiholog/Документы/Школа 27/Психологическое тестирование "
                       "(демонстрация)");
    w.EditFolder->setText(path);
    w.show();
    w.OKBtn->setFocus();
    QTest::qWait(20);
    const QString shown = w.EditFolder->shownText();
    EXPECT_NE(shown, path);
    EXPECT_TRUE(shown.startsWith(QStringLiteral("/home/…/"))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("/Психологическое тестирование (демонстрация)")))
        << shown.toStdString();
    EXPECT_LE(w.EditFolder->fontMetrics().horizontalAdvance(shown), w.EditFolder->width());
    EXPECT_EQ(w.EditFolder->toolTip(), path);
    EXPECT_EQ(w.EditFolder->text(), path); // what is used stays whole
    shoot(&w, "FormFirstStartLongPath");
    // A short one is shown as it is.
    w.EditFolder->setText(QStringLiteral("/srv/база"));
    EXPECT_EQ(w.EditFolder->shownText(), QStringLiteral("/srv/база"));
}
