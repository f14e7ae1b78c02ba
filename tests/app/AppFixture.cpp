#include "AppFixture.h"

#include "app/Startup.h"

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
