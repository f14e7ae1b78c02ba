#include "AppFixture.h"

#include "app/Startup.h"
#include "data/DM.h"

void AppTest::SetUp() {
    db = std::make_unique<TestDb>();
    if (withSample()) {
        QString out;
        ASSERT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL),
                             {QStringLiteral("sample"), db->dir(), QStringLiteral("--force")}, &out),
                  0)
            << out.toStdString();
    }
    messages = std::make_unique<MessageRecorder>();
    InitApplication();
    CreateApplicationForms();
}

void AppTest::TearDown() {
    DestroyApplicationForms();
    messages.reset();
    db.reset();
}

bool chooseRun(int org, int testee, int test) {
    BD->Table_org->setFiltered(false);
    if (!BD->Table_org->locate(QStringLiteral("NOM_ORG"), {org})) return false;
    BD->Table_anket->filterBy(QStringLiteral("NOMU=%1").arg(org));
    if (!BD->Table_anket->locate(QStringLiteral("NOMTESTIR"), {testee})) return false;
    BD->Table_test->setFiltered(false);
    if (!BD->Table_test->locate(QStringLiteral("NTEST"), {test})) return false;
    BD->Table_vopros->filterBy(QStringLiteral("NTEST=%1").arg(test));
    return true;
}
