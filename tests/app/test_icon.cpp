// The scalable icon, written by our own SVG painter, as a real browser draws it: the same
// picture as the 256-pixel icon drawn by Qt.
#include "TestDb.h"

#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

TEST(ProgramIcon, TheScalableIconDrawsInABrowserAsThePixelIconDoes) {
    const QString icons =
        QFileInfo(QStringLiteral(MORV_SCREENSHOT_DIR)).path() + QStringLiteral("/icons/hicolor");
    const QString svg = icons + QStringLiteral("/scalable/apps/morvanta.svg");
    ASSERT_TRUE(QFileInfo::exists(svg)) << "morv-icon has not run";
    if (runCommand(QStringLiteral("chromium"), {QStringLiteral("--version")}) != 0)
        GTEST_SKIP() << "chromium is not installed: scripts/deps.sh";
    QTemporaryDir tmp;
    const QString shot = tmp.filePath(QStringLiteral("shot.png"));
    QString out;
    runCommand(QStringLiteral("chromium"),
               {"--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                "--force-device-scale-factor=1", "--user-data-dir=" + tmp.filePath(QStringLiteral("profile")),
                "--window-size=256,256", "--screenshot=" + shot, QUrl::fromLocalFile(svg).toString()},
               &out);
    QImage drawn(shot), pixels(icons + QStringLiteral("/256x256/apps/morvanta.png"));
    ASSERT_FALSE(drawn.isNull()) << out.toStdString();
    ASSERT_EQ(drawn.size(), QSize(256, 256));
    drawn = drawn.convertToFormat(QImage::Format_ARGB32);
    pixels = pixels.convertToFormat(QImage::Format_ARGB32);
    // Where the icon is opaque (the browser puts white behind the rounded corners), the two
    // differ only by antialiasing: a small mean, and few pixels far apart.
    double sum = 0;
    int count = 0, far = 0;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const QColor a = pixels.pixelColor(x, y), b = drawn.pixelColor(x, y);
            if (a.alpha() < 255) continue;
            const int d = std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                                    std::abs(a.blue() - b.blue())});
            sum += d;
            far += d > 64;
            ++count;
        }
    ASSERT_GT(count, 256 * 200);
    EXPECT_LT(sum / count, 4.0);
    EXPECT_LT(far, count / 100);
}
