#include "widgets/Fonts.h"

#include <QPalette>
#include <QWidget>

namespace ui {

void registerFontSubstitutions() {
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"));
    QFont::insertSubstitution(QStringLiteral("Times New Roman Cyr"), QStringLiteral("Liberation Serif"));
    QFont::insertSubstitution(QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif"));
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Courier New Cyr"), QStringLiteral("Liberation Mono"));
    QFont::insertSubstitution(QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"));
}

QFont font(const QString& family, int pixelSize, int style) {
    QFont f(family);
    f.setPixelSize(pixelSize);
    f.setBold(style & Bold);
    f.setItalic(style & Italic);
    return f;
}

void style(QWidget* w, const QFont& f, const QColor& color) {
    w->setFont(f);
    if (color.isValid()) {
        QPalette p = w->palette();
        p.setColor(QPalette::WindowText, color);
        p.setColor(QPalette::Text, color);
        w->setPalette(p);
    }
}

void fill(QWidget* w, const QColor& color) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, color);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

} // namespace ui
