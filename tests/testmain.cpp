#include "widgets/Application.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>

// Under Wine the tests hand their files to native checkers (python3, R, PSPP, the dBASE peers),
// which read the paths as the Windows side writes them: the temporary folder moves from the
// prefix's C: drive to Z:\tmp, and the suite's working folder holds a link "Z:" to / (suite.cmake).
static void hostTempUnderWine() {
    if (!GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) return;
    SetEnvironmentVariableW(L"TMP", L"Z:\\tmp");
    SetEnvironmentVariableW(L"TEMP", L"Z:\\tmp");
}
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    hostTempUnderWine();
#endif
    // Offscreen unless a real display is asked for, e.g. MORV_TEST_PLATFORM=xcb under xvfb-run.
    const QByteArray platform = qgetenv("MORV_TEST_PLATFORM");
    qputenv("QT_QPA_PLATFORM", platform.isEmpty() ? QByteArray("offscreen") : platform);
    // Settings of our own for the run: what Qt's file dialog remembers (folders of earlier runs,
    // long deleted) and the alias file must neither steer a test nor reach the user's.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    ui::Application app(argc, argv);
    // An error that gets past every handler to the event loop fails the test that caused it,
    // where the program would only show it.
    ui::Application::setEscapeHandler([](const QString& message) {
        ADD_FAILURE() << "Error escaped to the event loop: " << message.toStdString();
    });
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
