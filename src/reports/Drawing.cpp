#include "reports/Drawing.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <algorithm>

namespace reports::drawing {

QFont font(const QString& family, double points, bool bold, bool italic) {
    QFont f(family);
    f.setPointSizeF(points);
    f.setBold(bold);
    f.setItalic(italic);
    // Kerning and hinting off: the layout and the painting then agree on every device.
    f.setKerning(false);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

namespace {

// text wrapped at width into at most maxLines lines, the last elided if the text goes on.
QStringList wrapped(const QString& text, const QFont& f, QPaintDevice* device, double width, int maxLines) {
    QStringList lines;
    const QString plain = QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')).simplified();
    if (plain.isEmpty()) return lines;
    QTextLayout layout(plain, f, device);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (lines.size() == maxLines - 1) {
            const QFontMetricsF fm(f, device);
            lines << fm.elidedText(plain.mid(line.textStart()), Qt::ElideRight, width);
            break;
        }
        lines << plain.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return lines;
}

// Draws lines from the top of the box downwards; returns the height taken.
double drawLines(QPainter* p, const QStringList& lines, const QFont& f, double x, double y, double width) {
    p->setFont(f);
    const QFontMetricsF fm(f, p->device());
    for (int i = 0; i < lines.size(); ++i)
        p->drawText(QRectF(x, y + i * fm.lineSpacing(), width, fm.height()), Qt::AlignLeft | Qt::AlignTop,
                    lines[i]);
    return lines.size() * fm.lineSpacing();
}

// A small grey caption on one line.
double drawLabel(QPainter* p, const QString& text, double x, double y, double width) {
    if (text.isEmpty()) return 0;
    p->save();
    p->setPen(QColor(70, 70, 70));
    const QFont f = font(kSans, 8.5);
    const double h = drawLines(p, wrapped(text, f, p->device(), width, 1), f, x, y, width);
    p->restore();
    return h;
}

// text on one line in f, made smaller to fit width, down to two thirds; beyond that wrapped
// onto a second line.
double drawFitted(QPainter* p, const QString& text, QFont f, double x, double y, double width) {
    const double wide = QFontMetricsF(f, p->device()).horizontalAdvance(text);
    if (wide > width) f.setPointSizeF(f.pointSizeF() * std::max(2.0 / 3, width / wide * 0.98));
    return drawLines(p, wrapped(text, f, p->device(), width, 2), f, x, y, width);
}

// The dark modules as one shape: runs of a row merged, so that a viewer smoothing the edges
// shows no seams between neighbouring squares.
void drawQr(QPainter* p, const QrMatrix& qr, const QRectF& box) {
    const double module = box.width() / qr.size;
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    for (int y = 0; y < qr.size; ++y)
        for (int x = 0; x < qr.size;) {
            if (!qr.at(x, y)) {
                ++x;
                continue;
            }
            int end = x;
            while (end < qr.size && qr.at(end, y))
                ++end;
            path.addRect(QRectF(box.left() + x * module, box.top() + y * module, (end - x) * module, module));
            x = end;
        }
    p->fillPath(path, Qt::black);
}

void drawCard(QPainter* p, const QRectF& cell, const Card& card, Units u) {
    const QRectF in = cell.adjusted(u.pt(10), u.pt(9), -u.pt(10), -u.pt(8));
    QPaintDevice* dev = p->device();
    double y = in.top();
    for (const QString& line : card.top)
        y += drawLabel(p, line, in.left(), y, in.width());
    p->setPen(Qt::black);
    const QFont title = font(kSans, 12.5, true);
    y += u.pt(2);
    y += drawLines(p, wrapped(card.title, title, dev, in.width(), 2), title, in.left(), y, in.width());
    y += u.pt(4);

    // Below the title: the code and the lines under it on the left, the QR code on the right.
    double side = 0;
    if (!card.qr.empty()) side = std::max(0.0, std::min(in.bottom() - y, in.width() * 0.42));
    const double gap = side > 0 ? u.pt(6) : 0;
    const double left = in.width() - side - gap;
    if (side > 0) {
        // The quiet zone of four modules lies within the square; the paper is white.
        const double module = side / (card.qr.size + 8);
        const double top = y + (in.bottom() - y - side) / 2;
        const QRectF box(in.right() - side + 4 * module, top + 4 * module, module * card.qr.size,
                         module * card.qr.size);
        drawQr(p, card.qr, box);
    }
    y += u.pt(2);
    y += drawLabel(p, card.codeLabel, in.left(), y, left);
    if (!card.code.isEmpty())
        y += drawFitted(p, card.code, font(kMono, 26, true), in.left(), y, left) + u.pt(3);
    y += drawLabel(p, card.linkLabel, in.left(), y, left);
    if (!card.link.isEmpty())
        y += drawFitted(p, card.link, font(kSans, 11, true), in.left(), y, left) + u.pt(1);
    const QFont text = font(kSans, 9);
    for (const QString& line : card.notes)
        y += drawLines(p, wrapped(line, text, dev, left, 2), text, in.left(), y, left);
}

} // namespace

void drawCardRow(QPainter* p, const QRectF& rect, const Cards& cards, int row, Units u) {
    const int columns = std::max(1, cards.columns);
    const double width = rect.width() / columns;
    p->save();
    for (int col = 0; col < columns; ++col) {
        const size_t i = size_t(row) * size_t(columns) + size_t(col);
        if (i >= cards.cards.size()) break;
        const QRectF cell(rect.left() + col * width, rect.top(), width, rect.height());
        p->save();
        p->setClipRect(cell, Qt::IntersectClip);
        drawCard(p, cell, cards.cards[i], u);
        p->restore();
        // Each edge on its own, left to right and top to bottom: the edge two cards share is then
        // drawn twice with the same dashes, and stays one dashed line.
        p->setPen(QPen(QColor(120, 120, 120), u.pt(0.5), Qt::DashLine));
        p->drawLine(cell.topLeft(), cell.topRight());
        p->drawLine(cell.bottomLeft(), cell.bottomRight());
        p->drawLine(cell.topLeft(), cell.bottomLeft());
        p->drawLine(cell.topRight(), cell.bottomRight());
    }
    p->restore();
}

} // namespace reports::drawing
