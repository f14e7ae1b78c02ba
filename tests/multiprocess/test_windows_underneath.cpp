// The windows while other workstations and programs change the tables under them: a list opened
// again shows what is stored, and the testing window stores every click on the question shown
// even after the answer table was cut or its rows moved.
#include "../registry/RegistryTest.h"
#include "../testing/TestingWindow.h"
#include "CurrentRun.h"
#include "app/Main.h"
#include "data/DM.h"
#include "dataset/Table.h"
#include "registry/Org.h"
#include "registry/Testir.h"
#include "widgets/DBGrid.h"
#include "widgets/Form.h"

#include <QFile>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

namespace {

void run(const char* program, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QString::fromLocal8Bit(program), args);
    ASSERT_TRUE(p.waitForFinished(60000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAll().toStdString();
    QThread::msleep(30); // past the tables' pause between looks at the file
}

int storedNumber(const char* field) {
    return int(BD->Table_anket->fieldByName(QString::fromLatin1(field))->asInteger());
}

// The record of an answer row, found apart from the program.
int64_t answerRecord(const TestDb& db, int question) {
    db::Table t;
    t.setTableName(db.path(QStringLiteral("bd_rezult.dbf")));
    t.open();
    return t.findStored(QStringLiteral("NOMU;NOMTESTIR;NOMTESTA;NOMVOPR"), {1, 1, 1, question});
}

// Swaps two records in place with plain file calls, as another dBASE tool sorting the table would.
void swapRecords(const QString& path, int64_t a, int64_t b) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    const QByteArray head = f.read(12);
    const int hdr = uint8_t(head[8]) | uint8_t(head[9]) << 8, len = uint8_t(head[10]) | uint8_t(head[11])
                                                                                            << 8;
    auto at = [&](int64_t rec) { return qint64(hdr) + rec * len; };
    f.seek(at(a));
    const QByteArray ra = f.read(len);
    f.seek(at(b));
    const QByteArray rb = f.read(len);
    f.seek(at(a));
    f.write(rb);
    f.seek(at(b));
    f.write(ra);
}

int storedAnswer(const TestDb& db, int question) {
    for (const RunRow& r : answerRows(db.dir(), 1, 1, 1))
        if (r.number == question) return r.value;
    return -100;
}

} // namespace

TEST_F(AppTest, TheTesteeListOpenedAgainShowsTesteesAnotherWorkstationRegisteredAndKeepsTheTestee) {
    ASSERT_TRUE(chooseRun(1, 1, 1));
    int before = 0, chosen = 0;
    inTestirWindow([&](ui::Form* w) {
        BD->Table_anket->next();
        before = FormTestir->DBGrid1->model()->rowCount();
        chosen = storedNumber("NOMTESTIR");
        w->Close();
    });
    ASSERT_GT(before, 1);
    run(MORV_WORKSTATION_CHILD, {QStringLiteral("testees"), db->dir(), QStringLiteral("3")});
    int after = 0, current = 0;
    inTestirWindow([&](ui::Form* w) {
        after = FormTestir->DBGrid1->model()->rowCount();
        current = storedNumber("NOMTESTIR");
        w->Close();
    });
    EXPECT_EQ(after, before + 3) << "the list lags the other workstation";
    EXPECT_EQ(current, chosen) << "the current testee moved";
    EXPECT_TRUE(messages->texts().isEmpty()) << messages->texts().join('\n').toStdString();
}

TEST_F(AppTest, TheInstitutionListOpenedAgainShowsInstitutionsAnotherWorkstationRegistered) {
    int before = 0, after = 0;
    inOrgWindow([&](ui::Form* w) {
        before = FormOrg->DBGrid1->model()->rowCount();
        w->Close();
    });
    run(MORV_WORKSTATION_CHILD, {QStringLiteral("institutions"), db->dir(), QStringLiteral("2")});
    inOrgWindow([&](ui::Form* w) {
        after = FormOrg->DBGrid1->model()->rowCount();
        w->Close();
    });
    EXPECT_EQ(after, before + 2);
}

TEST_F(AppTest, TheTestingWindowStoresClicksAfterAnotherProgramCutsTheAnswerTable) {
    ASSERT_TRUE(chooseRun(1, 1, 1));
    inTestingWindow([&] {
        const int q = shownQuestion();
        run(MORV_LOCK_CHILD,
            {QStringLiteral("cut"), db->path(QStringLiteral("bd_rezult.dbf")), QStringLiteral("0")});
        messages->clear();
        chooseOption(1);
        chooseOption(2);
        EXPECT_LE(messages->entries.size(), 1u) << messages->texts().join('\n').toStdString();
        EXPECT_EQ(storedAnswer(*db, q), 2) << "the click after the cut was not stored";
        messages->clear();
        chooseOption(0);
        EXPECT_TRUE(messages->texts().isEmpty()) << messages->texts().join('\n').toStdString();
        EXPECT_EQ(storedAnswer(*db, q), 0);
        EXPECT_EQ(answerRows(db->dir(), 1, 1, 1).size(), 1) << "one row for the one question";
    });
}

TEST_F(AppTest, AClickNeverLandsOnTheRowAnotherProgramMovedIntoTheShownQuestionsPlace) {
    ASSERT_TRUE(chooseRun(1, 1, 1));
    inTestingWindow([&] {
        const int q = shownQuestion();
        const int64_t mine = answerRecord(*db, q), other = answerRecord(*db, q + 1);
        ASSERT_GE(mine, 0);
        ASSERT_GE(other, 0);
        const int otherBefore = storedAnswer(*db, q + 1);
        const int chosen = storedAnswer(*db, q) == 1 ? 2 : 1;
        swapRecords(db->path(QStringLiteral("bd_rezult.dbf")), mine, other);
        QThread::msleep(30);
        chooseOption(chosen);
        EXPECT_EQ(storedAnswer(*db, q), chosen);
        EXPECT_EQ(storedAnswer(*db, q + 1), otherBefore) << "the click went to another question's row";
    });
}
