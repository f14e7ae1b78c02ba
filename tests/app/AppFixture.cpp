#include "AppFixture.h"

#include "app/Startup.h"
#include "maintenance/Password.h"

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
    // Wrong passwords cost no waiting here; the test of the delay sets its own.
    TPasswordDlg::FailureDelayMs = [](int) { return 0; };
    InitApplication();
    CreateApplicationForms();
}

void AppTest::TearDown() {
    DestroyApplicationForms();
    messages.reset();
    db.reset();
}
