#include "app/Picture.h"

#include "widgets/Fonts.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

QPixmap ProgramPicture() {
    QPixmap pm(237, 317);
    QPainter p(&pm);
    PaintProgramPicture(p);
    return pm;
}

void PaintProgramPicture(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 317);
    sky.setColorAt(0, QColor(18, 32, 86));
    sky.setColorAt(1, QColor(36, 120, 130));
    p.fillRect(QRect(0, 0, 237, 317), sky);

    // A head in profile, facing right, with the letter psi where the mind is.
    QPainterPath head;
    head.moveTo(70, 280);
    head.cubicTo(60, 230, 40, 200, 44, 150);
    head.cubicTo(48, 80, 110, 44, 160, 60);
    head.cubicTo(205, 76, 214, 120, 200, 150);
    head.lineTo(214, 176);
    head.lineTo(198, 182);
    head.cubicTo(204, 204, 196, 222, 170, 220);
    head.cubicTo(160, 236, 164, 262, 170, 280);
    head.closeSubpath();
    p.setPen(QPen(QColor(240, 220, 160), 3));
    p.setBrush(QColor(255, 255, 255, 40));
    p.drawPath(head);

    p.setPen(QColor(250, 226, 120));
    p.setFont(ui::font(QStringLiteral("Times New Roman"), 96, ui::Bold));
    p.drawText(QRect(60, 70, 120, 120), Qt::AlignCenter, QString(QChar(0x03A8)));

    // Rings of thought around it.
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 3; ++i) {
        p.setPen(QPen(QColor(250, 226, 120, 160 - i * 45), 2));
        p.drawEllipse(QPointF(120, 130), 70.0 + i * 14, 58.0 + i * 12);
    }
    p.setPen(QColor(240, 240, 240));
    p.setFont(ui::font(QStringLiteral("Arial"), 18, ui::Bold));
    p.drawText(QRect(0, 286, 237, 28), Qt::AlignCenter, QStringLiteral("ПСИХОТЕСТ"));
}

void PaintProgramIcon(QPainter& p, int size) {
    // The square of the picture that holds the head and its letter, rounded at the corners;
    // the caption below is too small to read at icon sizes.
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const double scale = size / 237.0;
    QPainterPath frame;
    frame.addRoundedRect(QRectF(0, 0, size, size), size * 0.12, size * 0.12);
    p.setClipPath(frame);
    p.scale(scale, scale);
    p.translate(0, -30);
    PaintProgramPicture(p);
    p.restore();
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        PaintProgramIcon(p, size);
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}
