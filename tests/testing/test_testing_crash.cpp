// A testing run killed in the middle: every choice made before the kill is on disk, and every
// table stays readable by a reader we did not write.
#include "TestingWindow.h"
#include "UiTest.h"
#include "app/AppFixture.h"
#include "app/Main.h"
#include "app/Startup.h"
#include "data/DM.h"
#include "dataset/Aliases.h"
#include "testing/Test.h"
#include "widgets/RadioGroup.h"

#include <QAction>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMap>
#include <QProcess>
#include <QPushButton>
#include <cstdio>

namespace {
const char* kChildDir = "MORV_TESTING_CHILD_DB";
}

// The child: answers the questions of test 1 for testee 4 of institution 1 round and round,
// printing "question choice" after each click has returned, until it is killed.
TEST(TestingChild, AnswersUntilKilled) {
    if (!qEnvironmentVariableIsSet(kChildDir)) GTEST_SKIP() << "runs only as the child of the crash test";
    db::Aliases::bind(QStringLiteral("morv"), qEnvironmentVariable(kChildDir));
    MessageRecorder messages;
    InitApplication();
    CreateApplicationForms();
    ASSERT_TRUE(chooseRun(1, 4, 1));
    inTestingWindow([&] {
        for (int i = 0;; ++i) {
            const int q = shownQuestion();
            const int choice = (i * 7 + q) % FormTest->RadioGroupOtvet->count();
            chooseOption(choice);
            std::printf("%d %d\n", q, choice);
            std::fflush(stdout);
            if (q == 10)
                FormTest->EditVopr->setText(QStringLiteral("1"));
            else
                FormTest->ButNext->click();
            if (!messages.entries.empty()) {
                std::printf("message %s\n", qPrintable(messages.texts().join('|')));
                std::fflush(stdout);
                return;
            }
        }
    });
}

TEST_F(AppTest, KilledTestingRunKeepsEveryChoiceAndReadableTables) {
    DestroyApplicationForms(); // the child is the program here
    for (int target : {7, 26}) {
        SCOPED_TRACE(target);
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kChildDir), db->dir());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=TestingChild.AnswersUntilKilled")});
        ASSERT_TRUE(child.waitForStarted());
        QMap<int, int> chosen; // question -> last printed choice
        int seen = 0;
        QByteArray pending;
        auto consume = [&] {
            pending += child.readAllStandardOutput();
            int nl;
            while ((nl = pending.indexOf('\n')) >= 0) {
                const QList<QByteArray> parts = pending.left(nl).trimmed().split(' ');
                pending.remove(0, nl + 1);
                ASSERT_FALSE(parts.value(0) == "message") << parts.join(' ').toStdString();
                bool ok1 = false, ok2 = false;
                const int q = parts.value(0).toInt(&ok1), c = parts.value(1).toInt(&ok2);
                if (parts.size() == 2 && ok1 && ok2) {
                    chosen[q] = c;
                    ++seen;
                }
            }
        };
        while (seen < target && child.waitForReadyRead(20000))
            consume();
        child.kill(); // SIGKILL: no handler of the program runs
        child.waitForFinished();
        consume();
        ASSERT_GE(seen, target) << "the child stopped early: " << child.readAllStandardError().toStdString();

        const QList<RunRow> rows = answerRows(db->dir(), 1, 4, 1);
        QMap<int, int> stored;
        for (const auto& r : rows) {
            EXPECT_FALSE(stored.contains(r.number)) << "two rows for question " << r.number;
            stored[r.number] = r.value;
        }
        for (auto it = chosen.begin(); it != chosen.end(); ++it)
            EXPECT_EQ(stored.value(it.key(), -99), it.value()) << "question " << it.key();
        QString report;
        EXPECT_EQ(peerCheck(db->dir(), &report), 0) << report.toStdString();
    }
}
