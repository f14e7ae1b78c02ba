#include "widgets/PathEdit.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

namespace ui {

PathEdit::PathEdit(QWidget* parent) : QLineEdit(parent) {
    connect(this, &QLineEdit::textChanged, this, [this](const QString& text) { setToolTip(text); });
}

QString PathEdit::shownText() const {
    QStyleOptionFrame opt;
    initStyleOption(&opt);
    // The line edit's own margins around its text are two pixels each side in every style.
    const int room = style()->subElementRect(QStyle::SE_LineEditContents, &opt, this).width() - 4;
    const QString full = text();
    const QFontMetrics fm = fontMetrics();
    if (fm.horizontalAdvance(full) <= room) return full;
    // Whole folder names: the first, then as many of the last as fit.
    const QChar sep = full.contains(QLatin1Char('\\')) ? QLatin1Char('\\') : QLatin1Char('/');
    const qsizetype headEnd = full.indexOf(sep, full.startsWith(sep) ? 1 : 0);
    if (headEnd >= 0) {
        const QString head = full.left(headEnd + 1) + QChar(0x2026);
        for (qsizetype at = full.indexOf(sep, headEnd + 1); at >= 0; at = full.indexOf(sep, at + 1))
            if (fm.horizontalAdvance(head + full.mid(at)) <= room) return head + full.mid(at);
    }
    return fm.elidedText(full, Qt::ElideMiddle, room);
}

void PathEdit::paintEvent(QPaintEvent* e) {
    if (hasFocus() || text().isEmpty() || shownText() == text()) {
        QLineEdit::paintEvent(e);
        return;
    }
    QPainter p(this);
    QStyleOptionFrame opt;
    initStyleOption(&opt);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &opt, &p, this);
    QRect area = style()->subElementRect(QStyle::SE_LineEditContents, &opt, this);
    area.adjust(2, 0, -2, 0);
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    p.drawText(area, Qt::AlignVCenter | Qt::AlignLeft, shownText());
}

} // namespace ui
