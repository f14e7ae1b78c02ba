#include "widgets/Application.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Offscreen unless a real display is asked for, e.g. MORV_TEST_PLATFORM=xcb under xvfb-run.
    const QByteArray platform = qgetenv("MORV_TEST_PLATFORM");
    qputenv("QT_QPA_PLATFORM", platform.isEmpty() ? QByteArray("offscreen") : platform);
    ui::Application app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
