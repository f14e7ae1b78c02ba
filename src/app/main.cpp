#include "app/Main.h"
#include "FaultText.h"
#include "PgStore.h"
#include "app/FirstStart.h"
#include "app/Fist.h"
#include "app/Picture.h"
#include "app/ServerLogin.h"
#include "app/Startup.h"
#include "widgets/Application.h"
#include "widgets/Messages.h"
#include "widgets/ProgramLog.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv) {
    ui::Application app(argc, argv);
    ui::installProgramLog();
    app.setQuitOnLastWindowClosed(false);
    app.setWindowIcon(ProgramIcon());
    pg::PgStore::registerScheme(); // an alias may name a PostgreSQL database
    InstallServerPasswordPrompt();

    // Started from the desktop entry with no database bound yet: ask where it is, once.
    if (app.arguments().contains(QStringLiteral("--desktop")) && !EnsureDatabaseChosen()) return 0;
    // A server that is down, refuses the login or lacks the tables is named before any window opens.
    if (!ServerDatabaseReady()) return 1;

    // The splash window is on screen while the tables open and the windows are built.
    auto* splash = new TFistForm;
    splash->show();
    QApplication::processEvents();

    InitApplication();
    try {
        CreateApplicationForms();
    } catch (const std::exception& e) {
        delete splash;
        qWarning("%s", e.what());
        ui::ShowError(db::userText(e));
        DestroyApplicationForms();
        return 1;
    }
    delete splash;

    QObject::connect(FormMain, &ui::Form::closed, &app, &QApplication::quit);
    FormMain->show();
    const int rc = app.exec();
    DestroyApplicationForms();
    return rc;
}
