// The testing window on real damaged and full files: a damaged answer index is rebuilt once and
// said once, a rebuild that fails stops the run with a message, a full disk is told once per
// click and never in English.
#include "Damage.h"
#include "TestingWindow.h"
#include "app/AppFixture.h"
#include "app/Main.h"
#include "data/DM.h"
#include "dbf/DbfFile.h"
#include "dbf/Os.h"
#include "testing/Test.h"
#include "widgets/RadioGroup.h"

#include <QLineEdit>
#include <cerrno>

namespace {

using TestingFaults = AppTest;

bool cyrillic(const QString& s) {
    return std::any_of(s.begin(), s.end(), [](QChar c) { return c.script() == QChar::Script_Cyrillic; });
}

int answerTo(const QList<RunRow>& rows, int question) {
    for (const auto& r : rows)
        if (r.number == question) return r.value;
    return -99;
}

} // namespace

TEST_F(TestingFaults, ADamagedAnswerIndexIsRebuiltSaidOnceAndEveryClickStored) {
    ASSERT_TRUE(chooseRun(1, 4, 1));
    const QString mdx = db->path(QStringLiteral("bd_rezult.MDX"));
    spoilIndexRoot(mdx);
    inTestingWindow([&] {
        chooseOption(2);
        FormTest->EditVopr->setText(QStringLiteral("2"));
        chooseOption(1);
    });
    ASSERT_EQ(messages->entries.size(), 1u) << messages->texts().join('|').toStdString();
    EXPECT_EQ(messages->entries[0].kind, ui::MessageKind::Information);
    EXPECT_TRUE(messages->texts()[0].contains(QStringLiteral("перестроила")))
        << messages->texts()[0].toStdString();
    const auto rows = answerRows(db->dir(), 1, 4, 1);
    EXPECT_EQ(rows.size(), 2);
    EXPECT_EQ(answerTo(rows, 1), 2);
    EXPECT_EQ(answerTo(rows, 2), 1);
    // The index now agrees with the table, as a fresh reader finds it.
    const auto f = dbf::DbfFile::open(db->path(QStringLiteral("bd_rezult.dbf")).toStdString());
    EXPECT_TRUE(f->checkIndex().empty());
}

TEST_F(TestingFaults, ARebuildThatFailsStopsTheRunWithOneMessageSayingWhatToDo) {
    ASSERT_TRUE(chooseRun(1, 4, 1));
    const int before = answerRowCount(db->dir());
    spoilIndexRoot(db->path(QStringLiteral("bd_rezult.MDX")));
    // The rebuild cannot open the index for writing.
    dbf::os::failNext(dbf::os::Call::Open, EACCES, 2);
    // The window stops the run as it opens: the first question's row is made then.
    FormMain->TestChosen();
    FormMain->MenuTest->trigger();
    dbf::os::clearFaults();
    ASSERT_EQ(messages->texts().size(), 1) << messages->texts().join('|').toStdString();
    const QString text = messages->texts()[0];
    EXPECT_TRUE(cyrillic(text) && text.contains(QStringLiteral("тестирование остановлено")) &&
                text.contains(QStringLiteral("администратора")))
        << text.toStdString();
    EXPECT_FALSE(FormTest->isVisible()) << "the run stops";
    EXPECT_EQ(answerRowCount(db->dir()), before);
}

TEST_F(TestingFaults, AFullDiskIsToldInRussianOncePerClickAndNotWhenAQuestionIsShown) {
    ASSERT_TRUE(chooseRun(1, 4, 1));
    const int before = answerRowCount(db->dir());
    inTestingWindow([&] {
        // The disk is full when the second question's row is to be made, and at the click.
        dbf::os::failNext(dbf::os::Call::Write, ENOSPC);
        FormTest->EditVopr->setText(QStringLiteral("2"));
        EXPECT_TRUE(messages->texts().isEmpty()) << messages->texts().join('|').toStdString();
        dbf::os::failNext(dbf::os::Call::Write, ENOSPC);
        chooseOption(1);
        EXPECT_EQ(FormTest->RadioGroupOtvet->itemIndex(), -1);
    });
    dbf::os::clearFaults();
    ASSERT_EQ(messages->texts().size(), 1) << messages->texts().join('|').toStdString();
    const QString text = messages->texts()[0];
    EXPECT_TRUE(text.contains(QStringLiteral("нет места")) && text.contains(QStringLiteral("bd_rezult")))
        << text.toStdString();
    EXPECT_EQ(answerRowCount(db->dir()), before + 1) << "only the first question's row, made before";
}
