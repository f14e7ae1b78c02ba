// QR codes and the slips handed to a class, read back with tools we did not write: zbarimg
// decodes the codes (from the image and from a printed page rasterized by pdftoppm), pdftotext
// reads the slips' names, codes and address, pdfinfo counts the pages.
#include "TestDb.h"
#include "reports/QrCode.h"
#include "reports/Render.h"
#include "reports/Slips.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>

using reports::ReportError;
using reports::Slip;

namespace {

const QString kAddress = QStringLiteral("http://192.168.1.20:8080/");

bool haveTool(const char* name, const char* arg) {
    return runCommand(QString::fromLatin1(name), {QString::fromLatin1(arg)}) == 0;
}

#define REQUIRE_ZBAR()                                                                                       \
    if (!haveTool("zbarimg", "--version"))                                                                   \
    GTEST_SKIP() << "zbar-tools (zbarimg) is not installed: scripts/deps.sh"
#define REQUIRE_POPPLER()                                                                                    \
    if (!haveTool("pdftotext", "-v"))                                                                        \
    GTEST_SKIP() << "poppler-utils (pdftotext) is not installed: scripts/deps.sh"

// Every QR code zbarimg finds in an image file, in no particular order. Its standard output
// alone: it may complain on the other channel about a missing message bus.
QStringList decode(const QString& png) {
    QProcess zbar;
    zbar.start(QStringLiteral("zbarimg"),
               {QStringLiteral("--raw"), QStringLiteral("-q"), QStringLiteral("-Sdisable"),
                QStringLiteral("-Sqrcode.enable"), png});
    EXPECT_TRUE(zbar.waitForFinished(60000));
    EXPECT_EQ(zbar.exitCode(), 0) << "zbarimg found no QR code in " << png.toStdString();
    return QString::fromUtf8(zbar.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString pdfText(const QString& pdf) {
    QString out;
    EXPECT_EQ(runCommand(QStringLiteral("pdftotext"),
                         {QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdf, QStringLiteral("-")}, &out),
              0);
    return out;
}

int pdfPages(const QString& pdf) {
    QString out;
    EXPECT_EQ(runCommand(QStringLiteral("pdfinfo"), {pdf}, &out), 0);
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(out);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// A page of a PDF as a PNG at dpi; returns its path.
QString rasterize(const QString& pdf, int page, int dpi, const QString& base) {
    EXPECT_EQ(runCommand(QStringLiteral("pdftoppm"),
                         {QStringLiteral("-png"), QStringLiteral("-r"), QString::number(dpi),
                          QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"),
                          QString::number(page), QStringLiteral("-singlefile"), pdf, base}),
              0);
    return base + QStringLiteral(".png");
}

// Real-looking names of a class, all different, and distinct codes of the server's alphabet.
std::vector<Slip> classOf(int n) {
    static const char* surnames[2][10] = {{"Иванова", "Сидорова", "Смирнова", "Васильева", "Михайлова",
                                           "Фёдорова", "Морозова", "Волкова", "Алексеева", "Лебедева"},
                                          {"Петров", "Кузнецов", "Попов", "Соколов", "Новиков", "Егоров",
                                           "Павлов", "Козлов", "Степанов", "Орлов"}};
    static const char* given[2][3] = {{"Анна Сергеевна", "Мария Павловна", "Екатерина Юрьевна"},
                                      {"Дмитрий Олегович", "Илья Андреевич", "Артём Игоревич"}};
    const QString alphabet = QStringLiteral("ACDEFGHJKMNPQRTWXY34679");
    std::vector<Slip> slips;
    for (int i = 0; i < n; ++i) {
        QString code;
        for (qint64 k = 0, v = (i + 1) * 2654435761LL % 148035889; k < 6; ++k, v /= alphabet.size())
            code += alphabet[v % alphabet.size()];
        const int sex = i % 2;
        slips.push_back({QStringLiteral("%1 %2").arg(QString::fromUtf8(surnames[sex][(i / 2) % 10]),
                                                     QString::fromUtf8(given[sex][(i / 20) % 3])),
                         code});
    }
    return slips;
}

class Slips : public ::testing::Test {
protected:
    TestDb tmp;
    QString save(const reports::Report& r, const QString& name) {
        const QString pdf = tmp.path(name + QStringLiteral(".pdf"));
        reports::savePdf(r, pdf);
        return pdf;
    }
};

} // namespace

TEST_F(Slips, AQrImageDecodesToItsExactTextAndTooMuchTextIsRefused) {
    REQUIRE_ZBAR();
    const QString cyrillic = QStringLiteral("Школа № 27, 5 «Б» класс");
    const QString longer = QStringLiteral("http://10.0.0.5:8080/?code=") + QString(600, QLatin1Char('x'));
    for (const QString& text :
         {kAddress, QStringLiteral("http://[fe80::1]:8080/?code=AC3D4E"), cyrillic, longer}) {
        const QImage image = reports::qrImage(text, 4);
        // Black on white with the quiet zone of four modules on every side.
        ASSERT_EQ(image.width(), image.height());
        for (int i = 0; i < image.width(); ++i)
            for (const QPoint& pt :
                 {QPoint(i, 0), QPoint(0, i), QPoint(i, 15), QPoint(image.width() - 16, i)})
                ASSERT_EQ(image.pixel(pt), qRgb(255, 255, 255))
                    << "quiet zone at " << pt.x() << "," << pt.y();
        EXPECT_EQ(image.pixel(16, 16), qRgb(0, 0, 0)); // the corner of a finder pattern
        const QString png = tmp.path(QStringLiteral("qr.png"));
        ASSERT_TRUE(image.save(png));
        EXPECT_EQ(decode(png), QStringList{text});
    }
    // Level M in 8-bit mode holds 2331 bytes, and a Cyrillic letter takes two.
    EXPECT_NO_THROW(reports::qrImage(QString(2331, QLatin1Char('a')), 1));
    EXPECT_THROW(reports::qrImage(QString(2332, QLatin1Char('a')), 1), ReportError);
    EXPECT_THROW(reports::qrImage(QString(1166, QChar(0x0416)), 1), ReportError);
    EXPECT_THROW(reports::qrImage(QString(), 4), ReportError);
    EXPECT_THROW(reports::slipsReport(QStringLiteral("Тест"), QStringLiteral("Школа"),
                                      QStringLiteral("http://10.0.0.5/") + QString(3000, QLatin1Char('p')),
                                      classOf(1)),
                 ReportError);
    EXPECT_THROW(reports::slipsReport(QStringLiteral("Тест"), QStringLiteral("Школа"), kAddress, {}),
                 ReportError);
}

TEST_F(Slips, TheQrAddressCarriesTheCodeForTheFirstPage) {
    EXPECT_EQ(reports::slipAddress(kAddress, QStringLiteral("AC3D4E")),
              QStringLiteral("http://192.168.1.20:8080/?code=AC3D4E"));
    EXPECT_EQ(reports::slipAddress(QStringLiteral(" 192.168.1.20:8080 "), QStringLiteral("AC3D4E")),
              QStringLiteral("http://192.168.1.20:8080/?code=AC3D4E"));
    EXPECT_EQ(reports::slipAddress(QStringLiteral("http://[fe80::1]:81"), {}),
              QStringLiteral("http://[fe80::1]:81/"));
    EXPECT_THROW(reports::slipAddress(QString(), QStringLiteral("AC3D4E")), ReportError);
}

TEST_F(Slips, EachSlipShowsItsNameCodeAndAddressEightToAPage) {
    REQUIRE_POPPLER();
    for (const auto& [count, pages] : std::vector<std::pair<int, int>>{{1, 1}, {8, 1}, {9, 2}, {25, 4}}) {
        const std::vector<Slip> slips = classOf(count);
        const QString pdf = save(reports::slipsReport(QStringLiteral("Шкала тревожности"),
                                                      QStringLiteral("Средняя школа № 27"), kAddress, slips),
                                 QStringLiteral("slips%1").arg(count));
        EXPECT_EQ(pdfPages(pdf), pages) << count << " slips";
        const QString text = pdfText(pdf);
        for (const Slip& s : slips) {
            EXPECT_TRUE(text.contains(s.name)) << s.name.toStdString();
            EXPECT_TRUE(text.contains(s.code)) << s.code.toStdString();
        }
        EXPECT_EQ(text.count(kAddress), count);
        EXPECT_EQ(text.count(QStringLiteral("Тест: Шкала тревожности")), count);
    }
    // The group's slip is one more.
    const QString pdf = save(reports::slipsReport(QStringLiteral("Тест"), QStringLiteral("Лицей"), kAddress,
                                                  classOf(8), QStringLiteral("GRP479")),
                             QStringLiteral("group"));
    EXPECT_EQ(pdfPages(pdf), 2);
    const QString text = pdfText(pdf);
    EXPECT_TRUE(text.contains(QStringLiteral("Регистрация в группе")));
    EXPECT_TRUE(text.contains(QStringLiteral("GRP479")));
}

TEST_F(Slips, EveryQrOfAPrintedPageDecodesToItsSlipsAddress) {
    REQUIRE_POPPLER();
    REQUIRE_ZBAR();
    const std::vector<Slip> slips = classOf(7);
    const QString pdf =
        save(reports::slipsReport(QStringLiteral("Шкала тревожности"), QStringLiteral("Средняя школа № 27"),
                                  kAddress, slips, QStringLiteral("GRP479")),
             QStringLiteral("GroupSlips"));
    QSet<QString> expected;
    for (const Slip& s : slips)
        expected << QStringLiteral("http://192.168.1.20:8080/?code=") + s.code;
    expected << QStringLiteral("http://192.168.1.20:8080/?code=GRP479");
    // At 150 dpi, as an office printer and a phone's camera would see it.
    const QStringList found = decode(rasterize(pdf, 1, 150, tmp.path(QStringLiteral("page"))));
    EXPECT_EQ(QSet<QString>(found.begin(), found.end()), expected);
    EXPECT_EQ(found.size(), 8);

    const QString dir = QStringLiteral(MORV_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    EXPECT_TRUE(QFileInfo::exists(rasterize(pdf, 1, 80, QDir(dir).filePath(QStringLiteral("GroupSlips")))));
}

TEST_F(Slips, MarkupAndVeryLongNamesStayPlainTextOnTheirOwnSlip) {
    REQUIRE_POPPLER();
    REQUIRE_ZBAR();
    std::vector<Slip> slips = classOf(8);
    slips[0].name = QStringLiteral("<b>Жирный</b> &amp; Ко");
    const QString longName = QStringLiteral("Константинопольская-Преображенская ") +
                             QString(40, QChar(0x0416)) + QStringLiteral(" Александра Вячеславовна КОНЕЦ");
    slips[3].name = longName;
    slips[5].name = QString(200, QChar(0x0428)); // one word longer than the slip
    const QString pdf =
        save(reports::slipsReport(QStringLiteral("Тест"), QString(300, QLatin1Char('O')), kAddress, slips),
             QStringLiteral("hostile"));
    EXPECT_EQ(pdfPages(pdf), 1);
    const QString text = pdfText(pdf);
    EXPECT_TRUE(text.contains(QStringLiteral("<b>Жирный</b> &amp; Ко")));
    EXPECT_TRUE(text.contains(QStringLiteral("Константинопольская")));
    EXPECT_TRUE(text.contains(QStringLiteral("Преображенская")));
    EXPECT_FALSE(text.contains(QStringLiteral("КОНЕЦ"))) << "the rest of a long name is elided, not run over";
    for (const Slip& s : slips)
        EXPECT_TRUE(text.contains(s.code)) << s.code.toStdString();
    EXPECT_EQ(decode(rasterize(pdf, 1, 150, tmp.path(QStringLiteral("page")))).size(), 8);
}
