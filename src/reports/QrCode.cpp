#include "reports/QrCode.h"

#include "reports/Report.h"

#include <QPainter>
#include <cerrno>
#include <cstring>
#include <memory>
#include <qrencode.h>

namespace reports {

namespace {

// The most bytes a QR code of the largest version holds in 8-bit mode at level M.
constexpr int kMaxBytes = 2331;

} // namespace

QrMatrix qrMatrix(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    if (bytes.isEmpty()) throw ReportError(QStringLiteral("Не удалось построить QR-код: текст пуст."));
    errno = 0;
    std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(int(bytes.size()), reinterpret_cast<const unsigned char*>(bytes.constData()), 0,
                          QR_ECLEVEL_M),
        &QRcode_free);
    if (!code) {
        if (errno == ERANGE || bytes.size() > kMaxBytes)
            throw ReportError(QStringLiteral("Не удалось построить QR-код: текст слишком длинный (%1 байт, "
                                             "не более %2).")
                                  .arg(bytes.size())
                                  .arg(kMaxBytes));
        throw ReportError(QStringLiteral("Не удалось построить QR-код: %1.")
                              .arg(QString::fromLocal8Bit(std::strerror(errno))));
    }
    QrMatrix m;
    m.size = code->width;
    m.dark.resize(size_t(m.size) * size_t(m.size));
    // Bit 0 of each byte is the module's colour; the other bits say what the module is for.
    for (size_t i = 0; i < m.dark.size(); ++i)
        m.dark[i] = (code->data[i] & 1) != 0;
    return m;
}

QImage qrImage(const QString& text, int moduleSize, int quietModules) {
    if (moduleSize < 1 || quietModules < 0)
        throw ReportError(QStringLiteral("Не удалось построить QR-код: неверный размер."));
    const QrMatrix m = qrMatrix(text);
    const int side = (m.size + 2 * quietModules) * moduleSize;
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    for (int y = 0; y < m.size; ++y)
        for (int x = 0; x < m.size; ++x)
            if (m.at(x, y))
                p.fillRect((x + quietModules) * moduleSize, (y + quietModules) * moduleSize, moduleSize,
                           moduleSize, Qt::black);
    return image;
}

} // namespace reports
