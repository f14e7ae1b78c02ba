// Other workstations' changes on a server database reach this one's open lists by themselves:
// another process commits, and the program's views show it without any user action, the cursor
// kept on its record and an edit left alone. Counts and names are read back with psql.
#include "PgConnection.h"
#include "PgServer.h"
#include "PgStore.h"
#include "TestDb.h"
#include "UiTest.h"
#include "app/Startup.h"
#include "data/DM.h"
#include "dataset/Aliases.h"
#include "registry/Testir.h"
#include "widgets/DBGrid.h"

#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QString psqlValue(const QString& url, const QString& sql) {
    QProcess p;
    p.start(QStringLiteral("psql"), {url, QStringLiteral("-AtX"), QStringLiteral("-c"), sql});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

class PgNotifyTest : public PgDatabaseTest {
protected:
    void SetUp() override {
        PgDatabaseTest::SetUp();
        if (ready()) makeSample();
        if (!ready()) return;
        messages = std::make_unique<MessageRecorder>();
        InitApplication();
        CreateApplicationForms();
        started_ = true;
    }
    void TearDown() override {
        if (started_) DestroyApplicationForms();
        PgDatabaseTest::TearDown();
        pg::Connection::dropShared();
    }
    int testeesOf(int org) {
        return psqlValue(url, QStringLiteral("SELECT count(*) FROM bd_anket WHERE nomu = %1").arg(org))
            .toInt();
    }
    // Waits for the program's event loop to bring the view to count rows.
    static bool shows(db::Table* t, int count) {
        return QTest::qWaitFor([&] { return t->recordCount() == count; }, 10000);
    }
    std::unique_ptr<MessageRecorder> messages;
    bool started_ = false;
};

TEST_F(PgNotifyTest, ATesteeRegisteredByAnotherWorkstationAppearsInTheOpenListWithTheCursorKept) {
    db::Table* org = BD->Table_org;
    db::Table* anket = BD->Table_anket;
    ASSERT_GT(org->recordCount(), 1);
    org->next(); // an institution other than the first, a testee other than the first
    const int nomu = int(BD->Table_orgNOM_ORG->asInteger());
    const int before = testeesOf(nomu);
    ASSERT_GT(before, 1);
    ASSERT_EQ(anket->recordCount(), before);
    anket->last();
    const QString current = BD->Table_anketFAMTESTIR->asString();

    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QStringLiteral(MORV_PG_CHILD), {url, "register", QString::number(nomu), "1"});
    ASSERT_TRUE(child.waitForFinished(60000));
    ASSERT_EQ(QString::fromUtf8(child.readAll()).trimmed(), "ok");
    ASSERT_EQ(testeesOf(nomu), before + 1);

    ASSERT_TRUE(shows(anket, before + 1)) << anket->recordCount();
    EXPECT_EQ(BD->Table_anketFAMTESTIR->asString(), current);
    EXPECT_EQ(FormTestir->DBGrid1->model()->rowCount(), before + 1);
    EXPECT_EQ(int(BD->Table_orgNOM_ORG->asInteger()), nomu);
    EXPECT_TRUE(messages->entries.empty());
}

TEST_F(PgNotifyTest, AnInstitutionAddedElsewhereKeepsBothCursorsAndAnEditInProgressIsLeftAlone) {
    db::Table* org = BD->Table_org;
    db::Table* anket = BD->Table_anket;
    org->next();
    const int nomu = int(BD->Table_orgNOM_ORG->asInteger());
    anket->last();
    const QString testee = BD->Table_anketFAMTESTIR->asString();
    const int orgs = psqlValue(url, "SELECT count(*) FROM bd_org").toInt();

    // psql is the other workstation: a new institution.
    psqlValue(url, "INSERT INTO bd_org (nom_org, tipu, nameu) VALUES (900, 1, 'Новая школа')");
    ASSERT_TRUE(shows(org, orgs + 1)) << org->recordCount();
    EXPECT_EQ(int(BD->Table_orgNOM_ORG->asInteger()), nomu);
    EXPECT_EQ(BD->Table_anketFAMTESTIR->asString(), testee); // the detail kept its record too

    // A testee being edited here while another is added there: the edit is neither posted nor
    // lost, and the new testee shows once the edit is over.
    const int before = anket->recordCount();
    anket->edit();
    BD->Table_anketFAMTESTIR->setValue(QStringLiteral("Правка"));
    psqlValue(url,
              QStringLiteral("INSERT INTO bd_anket (nomtestir, nomu, famtestir) VALUES (777, %1, 'Извне')")
                  .arg(nomu));
    QTest::qWait(700);
    EXPECT_EQ(anket->state(), db::DataSetState::Edit);
    EXPECT_EQ(BD->Table_anketFAMTESTIR->asString(), QStringLiteral("Правка"));
    EXPECT_EQ(psqlValue(url, QStringLiteral("SELECT count(*) FROM bd_anket WHERE famtestir = 'Правка'")),
              "0");
    EXPECT_EQ(anket->recordCount(), before);
    anket->cancel();
    ASSERT_TRUE(shows(anket, testeesOf(nomu))) << anket->recordCount();
    EXPECT_EQ(BD->Table_anketFAMTESTIR->asString(), testee);
    EXPECT_TRUE(messages->entries.empty());
}

} // namespace

namespace {

TEST(PgNotifyRestart, AfterTheServerRestartsTheListsFollowOtherWorkstationsAgain) {
    REQUIRE_PG_SERVER(shared);
    (void)shared;
    QString why;
    auto own = PgServer::startPrivate(&why); // a restart would break the other tests' connections
    ASSERT_TRUE(own) << why.toStdString();
    pg::PgStore::registerScheme();
    const QString url = own->newDatabase();
    QString out;
    ASSERT_EQ(runCommand(MORV_DB_TOOL, {"sample", url}, &out), 0) << out.toStdString();
    db::Aliases::bind("morv", url);
    MessageRecorder messages;
    InitApplication();
    CreateApplicationForms();
    const int orgs = psqlValue(url, "SELECT count(*) FROM bd_org").toInt();
    ASSERT_EQ(BD->Table_org->recordCount(), orgs);

    own->restart();
    psqlValue(url, "INSERT INTO bd_org (nom_org, tipu, nameu) VALUES (901, 1, 'После перезапуска')");
    // The listening connection is made again by itself, and the lists are read once more.
    EXPECT_TRUE(QTest::qWaitFor([&] { return BD->Table_org->recordCount() == orgs + 1; }, 20000))
        << BD->Table_org->recordCount();
    psqlValue(url, "INSERT INTO bd_org (nom_org, tipu, nameu) VALUES (902, 1, 'И ещё одна')");
    EXPECT_TRUE(QTest::qWaitFor([&] { return BD->Table_org->recordCount() == orgs + 2; }, 10000))
        << BD->Table_org->recordCount();
    EXPECT_TRUE(messages.entries.empty());
    DestroyApplicationForms();
    db::Aliases::unbind("morv");
    pg::Connection::dropShared();
}

} // namespace
